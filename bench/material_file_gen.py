# Writes a material file of TOP x MID groups with 99 copies of the demo's
# richest leaf (01.01.001) under each, for the materials figures in
# docs/performance.md. SOURCE is a Material.xml exported from a GY demo ledger
# (or from the ledger it was round-tripped into, whose export the file then
# matches byte for byte). Groups carry the leaves the tool writes for a group,
# taken from the source's top record 01.
import re, sys
if len(sys.argv) != 5:
    sys.exit('usage: material_file_gen.py SOURCE TOP MID OUT')
src_path, n_top, n_mid, out_path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
src=open(src_path,encoding='utf-8').read()
recs=re.findall(r'  <Material>\n.*?\n  </Material>\n', src, flags=re.S)
leaf=[r for r in recs if '<Number>01.01.001</Number>' in r][0]
leaf=re.sub(r'\n    <MaterialType>.*?</MaterialType>','',leaf,flags=re.S)
top=[r for r in recs if '<Number>01</Number>' in r][0]
group_leaves=re.search(r'</Name>\n(.*?)  </Material>\n',top,flags=re.S).group(1)
def grp(num,parent=None):
    p='' if not parent else f'    <MaterialType>\n      <Name>G{parent}</Name>\n      <Number>{parent}</Number>\n    </MaterialType>\n'
    return f'  <Material>\n    <Number>{num}</Number>\n    <Name>G{num}</Name>\n{group_leaves}{p}  </Material>\n'
with open(out_path,'w',encoding='utf-8') as f:
    f.write('<?xml version="1.0" encoding="UTF-8"?>\n<MaterialList xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">\n')
    for a in range(1,n_top+1):
        A=f'{a:02d}'; f.write(grp(A))
        for b in range(1,n_mid+1):
            B=f'{A}.{b:03d}'; f.write(grp(B,A))
            for c in range(1,100):
                C=f'{B}.{c:02d}'
                r=leaf.replace('<Number>01.01.001</Number>',f'<Number>{C}</Number>',1).replace('<Name>冷轧钢板</Name>',f'<Name>料{C}</Name>',1)
                r=r[:-len('  </Material>\n')]+f'    <MaterialType>\n      <Name>G{B}</Name>\n      <Number>{B}</Number>\n    </MaterialType>\n  </Material>\n'
                f.write(r)
    f.write('</MaterialList>\n')
