#!/usr/bin/env python3
"""The page in a real browser: headless Chromium driven by Selenium.

Opens the page of `morvent serve`, uploads a workbook with three bad rows,
checks the dry run's counts and errors, confirms, watches the progress reach
the end, downloads the errors workbook and checks its rows; then cancels a
long import from the page and finds the records stored so far.

Screenshots of the overview, the dry-run preview and the finished import
are written to the test's temporary folder; with MORVENT_SCREENSHOTS=DIR
they are copied there too (docs/web refreshes the documentation's).
Exit status 77 (skipped) only when Chromium is not installed.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
import xml.etree.ElementTree as ET

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"
TOOL = os.path.join(os.environ.get("MORVENT_BIN", "bin"), "morvent")
NS = {"m": "http://schemas.openxmlformats.org/spreadsheetml/2006/main"}


def write_workbook(path, sheet, rows):
    """A minimal XLSX workbook of text cells, one sheet."""
    def col(i):
        return chr(ord("A") + i)
    def esc(t):
        return t.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
    body = "".join(
        f'<row r="{r + 1}">' + "".join(
            f'<c r="{col(i)}{r + 1}" t="inlineStr"><is><t>{esc(v)}</t></is></c>' for i, v in enumerate(row)) + "</row>"
        for r, row in enumerate(rows))
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("[Content_Types].xml",
                   '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                   '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
                   '</Types>')
        z.writestr("_rels/.rels",
                   '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
                   '</Relationships>')
        z.writestr("xl/workbook.xml",
                   '<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
                   'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
                   f'<sheets><sheet name="{sheet}" sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels",
                   '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>'
                   '</Relationships>')
        z.writestr("xl/worksheets/sheet1.xml",
                   '<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
                   f"<sheetData>{body}</sheetData></worksheet>")


def read_first_sheet(path):
    """The rows of a workbook's first sheet, each a list of cell texts."""
    with zipfile.ZipFile(path) as z:
        shared = []
        if "xl/sharedStrings.xml" in z.namelist():
            for si in ET.fromstring(z.read("xl/sharedStrings.xml")).findall("m:si", NS):
                shared.append("".join(t.text or "" for t in si.iter(f"{{{NS['m']}}}t")))
        sheet = sorted(n for n in z.namelist() if n.startswith("xl/worksheets/sheet"))[0]
        rows = []
        for row in ET.fromstring(z.read(sheet)).iter(f"{{{NS['m']}}}row"):
            cells = []
            for c in row.findall("m:c", NS):
                v = c.find("m:v", NS)
                if c.get("t") == "s":
                    cells.append(shared[int(v.text)])
                elif c.get("t") == "inlineStr":
                    cells.append("".join(t.text or "" for t in c.iter(f"{{{NS['m']}}}t")))
                else:
                    cells.append(v.text if v is not None else "")
            rows.append(cells)
        return rows


class BrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        cls.tmp = tempfile.mkdtemp(prefix="morvent-browser-")
        cls.downloads = os.path.join(cls.tmp, "downloads")
        os.makedirs(cls.downloads)
        env = dict(os.environ, MORVENT_HOME=cls.tmp)
        cls.ledger = os.path.join(cls.tmp, "ledger.db")
        subprocess.run([TOOL, "ledger", "demo", cls.ledger], check=True, env=env, capture_output=True)
        cls.server = subprocess.Popen([TOOL, "serve", "--ledger", cls.ledger, "--port", "0"], env=env,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        cls.url = cls.server.stdout.readline().strip()
        assert cls.url.startswith("http://127.0.0.1:"), cls.url
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        # A profile of its own: a browser another test or user runs keeps
        # the default one locked.
        for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1280,900", "--lang=zh-CN",
                  "--user-data-dir=" + os.path.join(cls.tmp, "profile")):
            options.add_argument(a)
        # A loaded machine may miss the browser's start-up deadline once.
        for attempt in range(3):
            try:
                cls.driver = webdriver.Chrome(service=Service(DRIVER), options=options)
                break
            except Exception as e:  # selenium's SessionNotCreatedException and the like
                if attempt == 2:
                    cls.server.terminate()
                    raise
                print("the browser did not start, trying again:", e, file=sys.stderr)
        cls.driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": cls.downloads})

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.server.terminate()
        cls.server.wait(30)
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def by(self, id_):
        return self.driver.find_element("id", id_)

    def wait(self, what, seconds=60):
        end = time.time() + seconds
        while time.time() < end:
            try:
                if what():
                    return
            except Exception:  # the element may not be there yet
                pass
            time.sleep(0.1)
        self.fail("timed out; the page says: " + self.by("message").text + " / " + self.by("run-status").text)

    def shot(self, name):
        path = os.path.join(self.tmp, name)
        self.driver.save_screenshot(path)
        if os.environ.get("MORVENT_SCREENSHOTS"):
            shutil.copy(path, os.path.join(os.environ["MORVENT_SCREENSHOTS"], name))

    def tab(self, name):
        self.driver.find_element("css selector", f"nav button[data-tab={name}]").click()

    def overview_count(self, code):
        self.tab("overview")
        self.wait(lambda: self.by("overview-table").find_elements("css selector", "tbody tr"))
        for tr in self.by("overview-table").find_elements("css selector", "tbody tr"):
            cells = [td.text for td in tr.find_elements("tag name", "td")]
            if cells[0] == str(code):
                return int(cells[3])
        self.fail(f"no kind {code} in the overview")

    def dry_run(self, kind, path):
        from selenium.webdriver.support.ui import Select
        self.tab("import")
        Select(self.by("import-kind")).select_by_value(str(kind))
        self.by("import-file").send_keys(path)
        self.by("import-dry").click()
        self.wait(lambda: "预演完成" in self.by("run-status").text, 300)

    def counts(self):
        return {k: int(self.by("cnt-" + k).text) for k in ("created", "kept", "overwritten", "failed")}

    def test_1_workbook_with_three_bad_rows(self):
        self.driver.get(self.url)
        self.wait(lambda: len(self.by("overview-table").find_elements("css selector", "tbody tr")) > 10)
        self.assertEqual(self.by("ledger-path").text, self.ledger)
        self.shot("overview.png")
        before = self.overview_count(103)

        book = os.path.join(self.tmp, "currencies.xlsx")
        write_workbook(book, "Currency", [["Number", "Name", "ExchangeRate"], ["T1", "测试一", "1.5"],
                                          ["T2", "测试二", "abc"], ["T3", "测试三", "2"], ["T4", "测试四", "五"],
                                          ["T5", "测试五", "1"], ["T6", "测试六", "x"]])
        self.dry_run(103, book)
        self.assertEqual(self.counts(), {"created": 3, "kept": 0, "overwritten": 0, "failed": 3})
        errors = [[td.text for td in tr.find_elements("tag name", "td")]
                  for tr in self.by("errors").find_elements("css selector", "tbody tr")]
        self.assertEqual([e[:4] for e in errors], [["3", "T2", "ExchangeRate", "abc"], ["5", "T4", "ExchangeRate", "五"],
                                                    ["7", "T6", "ExchangeRate", "x"]])
        for e in errors:
            self.assertIn("类型不匹配", e[4])
        self.assertEqual(self.overview_count(103), before)  # nothing stored by the preview
        self.tab("import")
        self.shot("dry-run.png")

        self.by("import-confirm").click()
        self.wait(lambda: self.by("run-status").text == "引入完成")
        self.assertEqual(self.by("progress").get_attribute("value"), "100")
        self.assertEqual(self.by("progress-text").text, "已处理 6 条（100%）")
        self.assertEqual(self.counts(), {"created": 3, "kept": 0, "overwritten": 0, "failed": 3})
        self.shot("finished.png")

        self.by("errors-download").click()
        path = os.path.join(self.downloads, "errors.xlsx")
        self.wait(lambda: os.path.exists(path) and zipfile.is_zipfile(path), 30)
        rows = read_first_sheet(path)
        self.assertEqual(rows[0][:3], ["Number", "Name", "ExchangeRate"])
        self.assertEqual([r[:3] for r in rows[2:]], [["T2", "测试二", "abc"], ["T4", "测试四", "五"], ["T6", "测试六", "x"]])
        for r in rows[2:]:
            self.assertIn("类型不匹配", r[-1])
        self.assertEqual(self.overview_count(103), before + 3)

    def test_2_cancel_a_long_import(self):
        self.driver.get(self.url)
        self.wait(lambda: len(self.by("overview-table").find_elements("css selector", "tbody tr")) > 10)
        before = self.overview_count(110)
        total = 300000
        big = os.path.join(self.tmp, "customers.csv")
        with open(big, "w", encoding="utf-8") as f:
            f.write("Number,Name\n")
            for i in range(total):
                f.write(f"W{100000 + i},网页客户{i}\n")
        self.dry_run(110, big)
        self.assertEqual(self.counts()["created"], total)
        self.by("import-confirm").click()
        self.wait(lambda: float(self.by("progress").get_attribute("value")) >= 2)
        self.by("run-cancel").click()
        self.wait(lambda: self.by("run-status").text == "引入已取消，已处理的记录已保存")
        notes = self.by("run-notes").text
        m = re.search(r"已中断：已保存 (\d+) 条记录", notes)
        self.assertIsNotNone(m, notes)
        stored = int(m.group(1))
        self.assertGreater(stored, 0)
        self.assertLess(stored, total)
        self.assertEqual(self.overview_count(110), before + stored)
        # The records are there to browse.
        from selenium.webdriver.support.ui import Select
        self.tab("browse")
        Select(self.by("browse-kind")).select_by_value("110")
        self.by("browse-q").send_keys("网页客户")
        self.by("browse-go").click()
        self.wait(lambda: self.by("browse-info").text.endswith(f"共 {stored} 条"))
        first = self.by("browse-table").find_element("css selector", "tbody tr td").text
        self.assertEqual(first, "W100000")


if __name__ == "__main__":
    if not CHROMIUM:
        print("跳过：没有安装 chromium（scripts/setup.sh 会安装 chromium、chromium-driver 与 python3-selenium）")
        sys.exit(77)
    result = unittest.main(exit=False, verbosity=2).result
    sys.exit(0 if result.wasSuccessful() else 1)
