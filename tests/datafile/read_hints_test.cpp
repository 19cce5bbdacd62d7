// The mistakes of a hand-edited data file, explained before the parser's own
// text; look-alikes that must not get the explanation stand beside them.
#include <gtest/gtest.h>

#include <algorithm>

#include "datafile/read_hints.h"
#include "platform/progdir.h"
#include "tests/datafile/helpers.h"

namespace morvent::test {
namespace {

std::string Parser(const std::string& text) { return "（解析器原文：" + text + "）"; }

const std::string kGbkDeclared =
    "文件声明为 UTF-8，内容却像 GBK 编码：请把第一行的声明改为 encoding=\"GBK\"，或用编辑器把文件另存为 UTF-8";
const std::string kGbkUndeclared =
    "文件没有声明编码，按 UTF-8 读取，内容却像 GBK 编码：请在文件开头加上 <?xml version=\"1.0\" encoding=\"GBK\"?>，"
    "或用编辑器把文件另存为 UTF-8";
const std::string kBareAmp = "文本中有单独的“&”：XML 中的 & 须写成 &amp;（例如 A&amp;B）";
const std::string kUnknown = "：接口定义文件中没有这个键（键名区分大小写）";
std::string Cut(const std::string& element) {
  return "文件不完整：到文件末尾时元素 " + element + " 还没有结束，可能没有保存完或复制时被截断，请找回完整的文件";
}

struct Case {
  const char* what;
  const char* element;
  std::string content;
  long line;
  std::string problem;
};

TEST(ReadHints, CommonMistakesAreExplainedBeforeTheParsersText) {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const std::string shanghai = "\xC9\xCF\xBA\xA3";  // 上海 in GBK
  const Case cases[] = {
      {"GBK under a UTF-8 declaration", "Customer",
       decl + "<CustomerList>\n<Customer><Name>" + shanghai + "</Name></Customer>\n</CustomerList>\n", 3,
       kGbkDeclared + Parser("Input is not proper UTF-8, indicate encoding ! Bytes: 0xC9 0xCF 0xBA 0xA3")},
      {"GBK without a declaration, after UTF-8 text", "Customer",
       "<CustomerList>\n<Customer><Name>浦东" + shanghai + "</Name></Customer>\n</CustomerList>\n", 2,
       kGbkUndeclared + Parser("Input is not proper UTF-8, indicate encoding ! Bytes: 0xC9 0xCF 0xBA 0xA3")},
      {"GBK after a character across two blocks of the file", "Customer",
       "<CustomerList>\n<Customer><Name>" + std::string(65504, 'a') + "中" + shanghai + "</Name></Customer>\n"
       "</CustomerList>\n",
       2, kGbkUndeclared + Parser("Input is not proper UTF-8, indicate encoding ! Bytes: 0xC9 0xCF 0xBA 0xA3")},
      {"GB18030 four-byte character", "Customer",
       "<CustomerList>\n<Customer><Name>\x95\x32\x82\x36</Name></Customer>\n</CustomerList>\n", 2,
       kGbkUndeclared + Parser("Input is not proper UTF-8, indicate encoding ! Bytes: 0x95 0x32 0x82 0x36")},
      {"Latin-1 is no GBK", "Customer", "<CustomerList>\n<Customer><Name>M\xFCller</Name></Customer>\n</CustomerList>\n",
       2, "Input is not proper UTF-8, indicate encoding !\nBytes: 0xFC 0x6C 0x6C 0x65"},
      {"GBK bytes under another declaration", "Customer",
       "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<CustomerList>\n<Customer><Name>\x01</Name></Customer>\n"
       "</CustomerList>\n",
       3, "PCDATA invalid Char value 1"},
      {"unknown key, a slip of the finger", "Customer",
       "<CustomerList>\n<Customer>\n<Nmae>a</Nmae>\n</Customer>\n</CustomerList>\n", 3,
       "元素 Customer 中有未知的键 Nmae" + kUnknown + "，是否应为 Name？"},
      {"unknown key in the wrong case", "Customer", "<CustomerList><Customer>\n<SHORTNAME/></Customer></CustomerList>", 2,
       "元素 Customer 中有未知的键 SHORTNAME" + kUnknown + "，是否应为 ShortName？"},
      {"unknown key near nothing", "Customer", "<CustomerList><Customer>\n<Colour/></Customer></CustomerList>", 2,
       "元素 Customer 中有未知的键 Colour" + kUnknown},
      {"key given twice", "Customer",
       "<CustomerList>\n<Customer>\n<Name>a</Name>\n<Number>1</Number><Name>b</Name>\n</Customer>\n</CustomerList>\n", 4,
       "元素 Customer 中的键 Name 出现了两次：一条记录中每个键只能写一次，请删去多余的一个"},
      {"key given twice in a nested record", "Customer",
       "<CustomerList><Customer><SettleCurrency>\n<Scale>2</Scale><Scale>3</Scale></SettleCurrency></Customer>"
       "</CustomerList>",
       2, "元素 SettleCurrency 中的键 Scale 出现了两次：一条记录中每个键只能写一次，请删去多余的一个"},
      {"text in a record", "Customer", "<CustomerList>\n<Customer>\n上海\n</Customer>\n</CustomerList>\n", 4,
       "记录 Customer 中只能写它的键（如 <Name>…</Name>），不能直接写文本" +
           Parser("Element 'Customer': Character content other than whitespace is not allowed because the content "
                  "type is 'element-only'.")},
      {"text where a nested record belongs", "Customer",
       "<CustomerList>\n<Customer><SettleCurrency>RMB</SettleCurrency></Customer>\n</CustomerList>\n", 2,
       "键 SettleCurrency 是一条嵌套的记录，其中只能写它的键（如 <Name>…</Name>），不能直接写文本" +
           Parser("Element 'SettleCurrency': Character content other than whitespace is not allowed because the "
                  "content type is 'element-only'.")},
      {"text where a collection belongs", "Account",
       "<AccountList>\n<Account><ItemClass>客户</ItemClass></Account>\n</AccountList>\n", 2,
       "键 ItemClass 是记录的列表，其中每条记录写成 <Record>…</Record>，不能直接写文本" +
           Parser("Element 'ItemClass': Character content other than whitespace is not allowed because the content "
                  "type is 'element-only'.")},
      {"text beside the records", "Customer", "<CustomerList>\n上海<Customer/>\n</CustomerList>\n", 2,
       "根元素 CustomerList 中只能有 Customer 记录，不能直接写文本" +
           Parser("Element 'CustomerList': Character content other than whitespace is not allowed because the "
                  "content type is 'element-only'.")},
      {"bare & before a blank", "Customer", "<CustomerList>\n<Customer><Name>A & B</Name></Customer>\n</CustomerList>\n",
       2, kBareAmp + Parser("xmlParseEntityRef: no name")},
      {"bare & before a letter", "Customer", "<CustomerList>\n<Customer><Name>A&B</Name></Customer>\n</CustomerList>\n",
       2, kBareAmp + Parser("EntityRef: expecting ';'")},
      {"an entity XML does not know", "Customer", "<CustomerList><Customer>\n<Name>&nbsp;</Name></Customer></CustomerList>",
       2,
       "“&nbsp;”不是 XML 认得的写法：XML 只认 &amp;、&lt;、&gt;、&quot;、&apos; 和 &#数字; 形式的字符，文本中的 & 须写成 "
       "&amp;" + Parser("Entity 'nbsp' not defined")},
      {"a blank after < is no ampersand", "Customer", "<CustomerList>\n< Customer/>\n</CustomerList>\n", 2,
       "StartTag: invalid element name"},
      {"cut inside a value", "Customer", "<CustomerList>\n<Customer><Name>A</Name></Customer>\n<Customer><Name>B", 3,
       Cut("Name")},
      {"cut after a record", "Customer", "<CustomerList>\n<Customer><Name>A</Name></Customer>\n", 2,
       Cut("CustomerList")},
      {"cut inside a tag", "Customer", "<CustomerList>\n<Customer><Name>A</Name></Customer>\n<Customer><Na", 3,
       Cut("Na") + Parser("Couldn't find end of Start Tag Na")},
      {"cut inside a comment", "Customer", "<CustomerList>\n<Customer><!-- 备注", 2,
       Cut("Customer") + Parser("Comment not terminated")},
      {"an unclosed tag inside the file is no cut", "Customer",
       "<CustomerList>\n<Customer><Na <Name>x</Name></Customer></CustomerList>\n", 2,
       "Couldn't find end of Start Tag Na"},
      {"content after the root", "Customer", "<CustomerList/>\n<CustomerList/>\n", 2,
       "根元素 CustomerList 结束后还有内容：文件中须有且只有一个根元素 CustomerList" +
           Parser("Extra content at the end of the document")},
  };
  TempDir dir;
  for (const auto& c : cases) {
    std::string file = dir.file("in.xml");
    WriteFile(file, c.content);
    auto out = std::make_shared<RecordCollection>();
    EXPECT_EQ(ReadWithComponent(out, file, c.element, SourceSchemaDir()),
              "读取数据文件 " + file + " 出错：第 " + std::to_string(c.line) + " 行：" + c.problem)
        << c.what;
    EXPECT_EQ(out->UBound(), 0) << c.what;
  }
}

// A file that breaks the schema in several places is read to its end and
// every place told, one line each, so one run finds them all.
TEST(ReadHints, EveryProblemOfAFileIsToldAtOnce) {
  auto unknown = [](const std::string& line, const std::string& key, const std::string& near) {
    return "\r第 " + line + " 行：元素 Customer 中有未知的键 " + key + kUnknown + (near.empty() ? "" : "，是否应为 " + near + "？");
  };
  std::string many = "<CustomerList>\n";
  for (int i = 0; i < 25; ++i) many += "<Customer><Nmae>a</Nmae></Customer>\n";
  many += "</CustomerList>\n";
  std::string manyTold = "共发现 25 处问题：";
  for (int i = 0; i < 20; ++i) manyTold += unknown(std::to_string(i + 2), "Nmae", "Name");
  manyTold += "\r另有 5 处问题未列出";
  const struct {
    const char* what;
    std::string content, told;
  } cases[] = {
      {"three misspelt keys in three records",
       "<CustomerList>\n<Customer>\n<Nmae>a</Nmae>\n</Customer>\n<Customer><Number>2</Number>\n<Noet/></Customer>\n"
       "<Customer>\n<Numbr>3</Numbr></Customer>\n</CustomerList>\n",
       "共发现 3 处问题：" + unknown("3", "Nmae", "Name") + unknown("6", "Noet", "") + unknown("8", "Numbr", "Number")},
      {"each kind of misplaced element, and the file read on past each",
       "<CustomerList>\n<Customer><Name>a<b/></Name></Customer>\n<Supplier/>\n"
       "<Customer><Name>a</Name>\n<Name>b</Name></Customer>\n<Customer>\n<Nmae/></Customer>\n</CustomerList>\n",
       "共发现 4 处问题：\r第 2 行：键 Name 是文本，其中不能有元素 b\r第 3 行：元素 CustomerList 中只能有 Customer 记录，不能有 "
       "Supplier\r第 5 行：元素 Customer 中的键 Name 出现了两次：一条记录中每个键只能写一次，请删去多余的一个" +
           unknown("7", "Nmae", "Name")},
      {"a broken file after a misspelt key",
       "<CustomerList>\n<Customer>\n<Nmae/></Customer>\n<Customer><Name>B",
       "共发现 2 处问题：" + unknown("3", "Nmae", "Name") + "\r第 4 行：" + Cut("Name")},
      {"more than are listed", many, manyTold},
  };
  TempDir dir;
  for (const auto& c : cases) {
    std::string file = dir.file("in.xml");
    WriteFile(file, c.content);
    auto out = std::make_shared<RecordCollection>();
    EXPECT_EQ(ReadWithComponent(out, file, "Customer", SourceSchemaDir()), "读取数据文件 " + file + " 出错：" + c.told)
        << c.what;
    EXPECT_EQ(out->UBound(), 0) << c.what;
  }
  // A flood of problems is not read to its end, nor all kept.
  std::string flood = "<CustomerList>\n<Customer>";
  for (int i = 0; i < 1500; ++i) flood += "\n<Nmae/>";
  WriteFile(dir.file("in.xml"), flood + "</Customer>\n</CustomerList>\n");
  auto out = std::make_shared<RecordCollection>();
  const std::string told = ReadWithComponent(out, dir.file("in.xml"), "Customer", SourceSchemaDir());
  EXPECT_EQ(told.find("读取数据文件 " + dir.file("in.xml") + " 出错：问题太多，只找了前 9"), 0u) << told.substr(0, 200);
  EXPECT_EQ(std::count(told.begin(), told.end(), '\r'), 21);
  EXPECT_NE(told.find(unknown("22", "Nmae", "Name") + "\r另有 9"), std::string::npos);
}

TEST(ReadHints, KeysOutOfTheOrderASchemaFixes) {
  TempDir dir;
  WriteFile(dir.file("SchemaThing.xml"),
            "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element name=\"ThingList\"><xs:complexType>"
            "<xs:sequence><xs:element name=\"Thing\" minOccurs=\"0\" maxOccurs=\"unbounded\"><xs:complexType><xs:sequence>"
            "<xs:element name=\"A\" type=\"xs:string\"/><xs:element name=\"B\" type=\"xs:string\"/></xs:sequence>"
            "</xs:complexType></xs:element></xs:sequence></xs:complexType></xs:element></xs:schema>");
  WriteFile(dir.file("in.xml"), "<ThingList><Thing>\n<B/><A/></Thing></ThingList>");
  auto out = std::make_shared<RecordCollection>();
  EXPECT_EQ(ReadWithComponent(out, dir.file("in.xml"), "Thing", dir.path()),
            "读取数据文件 " + dir.file("in.xml") + " 出错：第 2 行：元素 B 不能出现在这里：接口定义文件规定了这一层的键及其"
            "次序，请对照接口定义文件调整" + Parser("Element 'B': This element is not expected. Expected is ( A )."));
}

TEST(ReadHints, AMissingSchemaNamesTheFolderLookedIn) {
  ProgramHome home;
  TempDir other;
  const std::string kVariable = "；可用环境变量 MORVENT_HOME 指定接口定义文件所在的文件夹。";
  const struct {
    std::string homeVariable, path, said;
  } cases[] = {
      {home.path() + "/", home.file("S.xml"), "已在环境变量 MORVENT_HOME 指定的 " + home.path() + " 中查找。"},
      {home.path(), other.file("S.xml"), "已在 " + other.path() + " 中查找" + kVariable},
  };
  for (const auto& c : cases) {
    setenv("MORVENT_HOME", c.homeVariable.c_str(), 1);  // ProgramHome restores it
    EXPECT_EQ(MissingSchemaText("S.xml", c.path), "Morvent接口定义文件 S.xml 不存在！" + c.said);
  }
}

TEST(ReadHints, GbkIsToldFromOtherBytes) {
  const std::pair<std::string, bool> cases[] = {
      {"\xC9\xCF\xBA\xA3", true},   // 上海
      {"\xA3\xA8", true},           // a full-width bracket
      {"\x81\x30\x81\x30", false},  // a four-byte character that is no Chinese one
      {"\xFC\x6C", false},          // "ül" in Latin-1
      {"\xE9", false},
      {"\xFF\xFE", false},
      {"", false},
  };
  for (const auto& [bytes, gbk] : cases) EXPECT_EQ(xml::LooksLikeGbk(bytes), gbk) << bytes.size();
}

}  // namespace
}  // namespace morvent::test
