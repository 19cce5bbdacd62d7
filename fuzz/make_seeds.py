#!/usr/bin/env python3
# Writes the committed seeds of fuzz/corpus/ (docs/fuzzing.md):
#   morvent ledger demo gy.db --acct-type GY; morvent export --ledger gy.db --all DIR/GY
#   morvent ledger demo qy.db --acct-type QY; morvent export --ledger qy.db --all DIR/QY
#   python3 fuzz/make_seeds.py DIR fuzz/corpus
# Every kind's export of both ledger kinds, cut to a few records, with the
# header bytes each harness reads; decorated copies holding comments, CDATA
# sections and processing instructions; and the size-limit seeds.
import os, re, struct, sys
src, out = sys.argv[1], sys.argv[2]
kinds = ["AccountType", "Account", "Currency", "VoucherGroup", "MeasureUnitGroup", "MeasureUnit", "Settle",
         "SonCompany", "Customer", "Stock", "Supplier", "Material", "Employee", "Department", "AssistType", "AssistDetail"]
snake = {k: re.sub(r'(?<!^)([A-Z])', r'-\1', k).lower() for k in kinds}

def trim(text, elem, limit=5000):
    # The head, the first records up to about limit bytes (at least three), the tail.
    close = "  </%s>\n" % elem
    start = text.index("  <%s>" % elem) if ("  <%s>" % elem) in text else None
    if start is None:
        return text
    pos, n = start, 0
    while True:
        end = text.find(close, pos)
        if end < 0: break
        pos, n = end + len(close), n + 1
        if n >= 3 and pos - start >= limit: break
    return text[:pos] + "</%sList>\n" % elem

def undotted(text):
    text = re.sub(r"<Number>([^<]*)</Number>", lambda m: "<Number>%s</Number>" % m.group(1).replace(".", ""), text)
    return re.sub(r"<ParentAcct>([^<]*)</ParentAcct>", lambda m: "<ParentAcct>%s</ParentAcct>" % m.group(1).replace(".", ""), text)

def decorate(text, elem):
    # A comment and a processing instruction between records, a CDATA
    # section in a name, a character reference and a comment inside a value.
    text = text.replace("  <%s>" % elem, "  <!-- 第一条记录 -->\n  <?morvent note?>\n  <%s>" % elem, 1)
    text = re.sub(r"<Name>([^<]*)</Name>", r"<Name><![CDATA[\1]]></Name>", text, count=1)
    text = re.sub(r"<Number>([^<]*)</Number>", r"<Number>\1<!-- 代码 --></Number>", text, count=2)
    return text.replace("</%sList>" % elem, "  <![CDATA[ ]]>\n</%sList>" % elem)

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)

for i, elem in enumerate(kinds):
    files = {}
    for ledger in ("GY", "QY"):
        files[ledger] = trim(open(os.path.join(src, ledger, elem + ".xml"), encoding="utf-8").read(), elem)
    for ledger, text in files.items():
        gy = 4 if ledger == "GY" else 0
        name = snake[elem] + "-" + ledger.lower()
        body = text.encode()
        if ledger == "GY" or files["GY"] != text:
            write(f"{out}/reader_fuzz/{name}.xml", bytes([i]) + body)
        # Into an empty ledger keeping what exists; into the demo ledger,
        # overwriting, as a dry run.
        write(f"{out}/import_fuzz/{name}.xml", bytes([i, gy]) + body)
        write(f"{out}/import_fuzz/{name}-demo-overwrite-dry.xml", bytes([i, gy | 1 | 8 | 16]) + body)
        if elem in ("Account", "Department", "Material", "Customer") :
            write(f"{out}/import_fuzz/{name}-undotted.xml", bytes([i, gy | 2]) + undotted(text).encode())
        if elem in ("Department", "Account", "Material") and ledger == "GY":
            dec = decorate(text, elem).encode()
            write(f"{out}/reader_fuzz/{name}-comment-cdata.xml", bytes([i]) + dec)
            write(f"{out}/import_fuzz/{name}-comment-cdata.xml", bytes([i, gy | 16]) + dec)

# limits_fuzz: a small head, a piece repeated, a tail (see fuzz/limits_fuzz.cpp);
# the count is m << s. Each reaches one of the reader's limits, or stands
# just inside it.
decl = '<?xml version="1.0" encoding="UTF-8"?>\n'
open_list = decl + '<DepartmentList xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">\n'
close_list = '</DepartmentList>\n'
dept = lambda body: '  <Department>\n    <Number>01</Number>\n    ' + body + '\n  </Department>\n'
limits = {
    # 17 MB of blanks between records, then 16 MB exactly inside a value.
    "blanks-past-run": (open_list, " ", dept("<Name>a</Name>") + close_list, 17, 20),
    "value-at-run": (open_list + '  <Department>\n    <Number>01</Number>\n    <Name>', "x",
                     '</Name>\n  </Department>\n' + close_list, 1, 24),
    "value-past-run": (open_list + '  <Department>\n    <Number>01</Number>\n    <Name>', "值",
                       '</Name>\n  </Department>\n' + close_list, 3, 21),
    # 18 MB of blanks cut by empty comments, fewer than the quiet-run limit.
    "blanks-cut-by-comments": (open_list, " " * 2000 + "<!---->", dept("<Name>a</Name>") + close_list, 35, 8),
    "comments-past-quiet-run": (open_list, "<!---->", close_list, 157, 6),
    "instructions-past-quiet-run": (open_list, "<?pi?>", close_list, 157, 6),
    "cdata-past-limit": (open_list + '  <Department>\n    <Number>01</Number>\n    <Name><![CDATA[', "c",
                         ']]></Name>\n  </Department>\n' + close_list, 9, 20),
    "comment-past-markup": (open_list + "<!--", "a", "-->\n" + close_list, 65, 12),
    "instruction-past-markup": (open_list + "<?pi ", "a", "?>\n" + close_list, 65, 12),
    "tag-past-markup": (open_list + "  <Department", " ", ">\n    <Number>01</Number>\n  </Department>\n" + close_list, 65, 12),
    "dashes-in-comment": (open_list + "<!--", "-", " -->\n" + close_list, 1, 12),
    "many-records": (open_list, dept("<Name>部门</Name>"), close_list, 40, 9),
    "deep-nesting": (open_list + "  <Department>\n    <DeptGroup>", "<DeptGroup>", "</DeptGroup>\n  </Department>\n" + close_list, 1, 10),
}
for name, (head, piece, tail, m, s) in limits.items():
    h, p, t = head.encode(), piece.encode(), tail.encode()
    header = bytes([kinds.index("Department"), m, s]) + struct.pack("<HH", len(h), len(p))
    write(f"{out}/limits_fuzz/{name}.bin", header + h + p + t)
