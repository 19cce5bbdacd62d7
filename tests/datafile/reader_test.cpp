// Reading files not written by the writer: hand-made, foreign encodings,
// broken, hostile.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/datafile/helpers.h"

namespace morvent::test {
namespace {

// What the reader adds to an unknown key.
const std::string kNoSuchKey = "：接口定义文件中没有这个键（键名区分大小写）";

class Reader : public ::testing::Test {
 protected:
  // Writes the text as the file and reads it for the element.
  std::string Read(const std::string& element, const std::string& content) {
    WriteFile(file, content);
    out = std::make_shared<RecordCollection>();
    return ReadWithComponent(out, file, element, SourceSchemaDir());
  }
  std::string Failed(long line, const std::string& problem) const {
    return "读取数据文件 " + file + " 出错：第 " + std::to_string(line) + " 行：" + problem;
  }

  TempDir dir;
  const std::string file = dir.file("in.xml");
  RecordCollectionPtr out;
};

TEST_F(Reader, AcceptsKeysInAnyOrder) {
  ASSERT_EQ(Read("MeasureUnit",
                 "<MeasureUnitList>\n"
                 " <MeasureUnit>\n"
                 "  <MeasureUnitGroup><Number>2</Number><Name>重量组</Name></MeasureUnitGroup>\n"
                 "  <Standard>1</Standard><Number>kg</Number><Name>千克</Name>\n"
                 " </MeasureUnit>\n"
                 "</MeasureUnitList>\n"),
            "");
  ASSERT_EQ(out->UBound(), 1);
  EXPECT_EQ(Describe(out->Item(1)),
            "{MeasureUnitGroup={Number=\"2\",Name=\"重量组\"},Standard=\"1\",Number=\"kg\",Name=\"千克\"}");
}

TEST_F(Reader, TheDocumentedExampleReadsAsDescribed) {
  auto c = std::make_shared<RecordCollection>();
  ASSERT_EQ(ReadWithComponent(c, FixtureDir() + "/datafile/customer-example.xml", "Customer", SourceSchemaDir()), "");
  ASSERT_EQ(c->UBound(), 2);
  auto r = c->Item(2);
  EXPECT_EQ(r->FileRow(), 2);
  EXPECT_EQ(c->Item(1)->Value("CreditLevel").RawText(), "");
  EXPECT_TRUE(r->Value("Phone").IsNull());
  EXPECT_EQ(r->Value("ShortName").RawText(), " 浦发 ");
  EXPECT_EQ(r->Value("Address").RawText(), "上海市浦东新区\r\n世纪大道 100 号");
  EXPECT_EQ(Describe(r->Value("SettleCurrency")),
            "{Name=\"人民币\",Number=\"RMB\",ExchangeRate=\"1\",Operator=\"*\",Scale=\"2\"}");
  EXPECT_EQ(Describe(r->Value("CustomerType")), "{Name=\"华东区\",Number=\"01\"}");
}

TEST_F(Reader, TextForms) {
  ASSERT_EQ(Read("Settle",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<SettleList xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
                 "<!-- a comment is no key -->\n"
                 "<Settle><Name><![CDATA[a<b&c]]> &amp; &#x4E2D;&#25991;</Name><Number xsi:nil=\"1\"/>"
                 "<CompanyCode>raw\r\nbreak&#13;&#10;kept</CompanyCode></Settle>\n"
                 "</SettleList>\n"),
            "");
  auto r = out->Item(1);
  EXPECT_EQ(r->Value("Name").RawText(), "a<b&c & 中文");
  EXPECT_TRUE(r->Value("Number").IsNull());
  // A raw line break is normalised by XML itself; only a reference keeps CR.
  EXPECT_EQ(r->Value("CompanyCode").RawText(), "raw\nbreak\r\nkept");
}

TEST_F(Reader, NilNestedRecordIsNullAndEmptyOnesAreObjects) {
  ASSERT_EQ(Read("Account",
                 "<AccountList xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
                 "<Account><Currency xsi:nil=\"true\"/><GroupName/><ItemClass></ItemClass><ParentAcct/></Account>"
                 "</AccountList>"),
            "");
  auto r = out->Item(1);
  EXPECT_TRUE(r->Value("Currency").IsNull());
  ASSERT_NE(r->Record("GroupName"), nullptr);
  ASSERT_NE(r->Value("ItemClass").As<RecordCollection>(), nullptr);
  EXPECT_EQ(r->Value("ItemClass").As<RecordCollection>()->UBound(), 0);
  EXPECT_EQ(r->Value("ParentAcct").RawText(), "");
}

TEST_F(Reader, UnknownKeyNamesTheElementAndLine) {
  EXPECT_EQ(Read("Customer", "<CustomerList>\n<Customer>\n<Name>a</Name>\n<Nmae>b</Nmae>\n</Customer>\n</CustomerList>\n"),
            Failed(4, "元素 Customer 中有未知的键 Nmae" + kNoSuchKey + "，是否应为 Name？"));
  EXPECT_EQ(out->UBound(), 0);
  EXPECT_EQ(Read("Customer", "<CustomerList><Customer><Name>a</Name>\n\n<SettleCurrency><Name>x</Name><Rate>1</Rate>"
                             "</SettleCurrency></Customer></CustomerList>"),
            Failed(3, "元素 SettleCurrency 中有未知的键 Rate" + kNoSuchKey));
  EXPECT_EQ(Read("Account", "<AccountList>\n<Account>\n<ItemClass>\n<Record><Name>客户</Name></Record>\n"
                            "<Record><Code>1</Code></Record>\n</ItemClass>\n</Account>\n</AccountList>\n"),
            Failed(5, "元素 Record 中有未知的键 Code" + kNoSuchKey));
  EXPECT_EQ(Read("Account", "<AccountList>\n<Account>\n<ItemClass>\n<Item/>\n</ItemClass>\n</Account>\n</AccountList>\n"),
            Failed(4, "元素 ItemClass 中只能有 Record 记录，不能有 Item"));
  EXPECT_EQ(Read("Customer", "<CustomerList>\n<Supplier/>\n</CustomerList>\n"),
            Failed(2, "元素 CustomerList 中只能有 Customer 记录，不能有 Supplier"));
  // XInclude is not processed: the include element is just an unknown key.
  EXPECT_EQ(Read("Customer", "<CustomerList xmlns:xi=\"http://www.w3.org/2001/XInclude\">\n<Customer>"
                             "<xi:include href=\"file:///etc/passwd\" parse=\"text\"/></Customer></CustomerList>"),
            Failed(2, "元素 Customer 中有未知的键 include" + kNoSuchKey));
}

TEST_F(Reader, SchemaViolationsAreReportedWithLine) {
  EXPECT_EQ(Read("Customer", "<CustomerList>\n<Customer>\n<Name>a</Name>\n<Name>b</Name>\n</Customer>\n</CustomerList>\n"),
            Failed(4, "元素 Customer 中的键 Name 出现了两次：一条记录中每个键只能写一次，请删去多余的一个"));
  EXPECT_EQ(Read("Customer", "<CustomerList>\n<Customer>\nloose text\n</Customer>\n</CustomerList>\n"),
            Failed(4, "记录 Customer 中只能写它的键（如 <Name>…</Name>），不能直接写文本（解析器原文：Element "
                      "'Customer': Character content other than whitespace is not allowed because the content type "
                      "is 'element-only'.）"));
  EXPECT_EQ(Read("Customer", "<CustomerList>\n<Customer>\n<Name>a<b/></Name>\n</Customer>\n</CustomerList>\n"),
            Failed(3, "键 Name 是文本，其中不能有元素 b"));
  EXPECT_EQ(Read("Customer", "\n<SupplierList/>\n"), Failed(2, "根元素应为 CustomerList，文件中却是 SupplierList"));
  EXPECT_EQ(Read("Customer", "<CustomerList xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n<Customer>\n"
                             "<Name xsi:nil=\"true\">x</Name></Customer></CustomerList>"),
            Failed(3, "Element 'Name': Neither character nor element content is allowed because the element is "
                      "'nilled'."));
  EXPECT_EQ(out->UBound(), 0);
}

TEST_F(Reader, MalformedFilesAreReportedWithLine) {
  EXPECT_EQ(Read("Customer", "<CustomerList>\n<Customer>\n<Name>a</Nam>\n</Customer>\n</CustomerList>\n"),
            Failed(3, "Opening and ending tag mismatch: Name line 3 and Nam"));
  EXPECT_EQ(Read("Customer", "<CustomerList>\n<Customer><Name>a</Name></Customer>\n"),
            Failed(2, "文件不完整：到文件末尾时元素 CustomerList 还没有结束，可能没有保存完或复制时被截断，请找回完整的文件"));
  EXPECT_EQ(Read("Customer", "<CustomerList/>\n<CustomerList/>\n"),
            Failed(2, "根元素 CustomerList 结束后还有内容：文件中须有且只有一个根元素 CustomerList（解析器原文：Extra "
                      "content at the end of the document）"));
  EXPECT_EQ(Read("Customer", "<CustomerList><Customer><Name>&nbsp;</Name></Customer></CustomerList>"),
            Failed(1, "“&nbsp;”不是 XML 认得的写法：XML 只认 &amp;、&lt;、&gt;、&quot;、&apos; 和 &#数字; 形式的字符，"
                      "文本中的 & 须写成 &amp;（解析器原文：Entity 'nbsp' not defined）"));
  EXPECT_EQ(Read("Customer", ""), "读取数据文件 " + file + " 出错：文件是空的");
  EXPECT_EQ(out->UBound(), 0);
}

TEST_F(Reader, DeclaredEncodingsAreHonoured) {
  const std::pair<const char*, const char*> cases[] = {
      {"customer-gb2312.xml", "上海浦东发展公司"},
      {"customer-gbk.xml", "上海浦東發展公司"},
      {"customer-gb18030.xml", "吉\xF0\xA0\xAE\xB7祥公司€"},
      {"customer-utf16.xml", "上海浦东发展公司"},
  };
  for (const auto& [name, expected] : cases) {
    auto c = std::make_shared<RecordCollection>();
    ASSERT_EQ(ReadWithComponent(c, FixtureDir() + "/datafile/" + name, "Customer", SourceSchemaDir()), "") << name;
    ASSERT_EQ(c->UBound(), 1) << name;
    EXPECT_EQ(c->Item(1)->Value("Name").RawText(), expected) << name;
    EXPECT_EQ(c->Item(1)->Record("CustomerType")->Value("Name").RawText(), "华东区") << name;
  }
}

TEST_F(Reader, AnyDoctypeIsRefusedBeforeItsDeclarationsAreParsed) {
  const std::string kRefused = "不接受含有 DOCTYPE 声明的数据文件";
  // An external entity would pull in a local file.
  std::string secret = dir.file("secret.txt");
  WriteFile(secret, "top-secret");
  for (const std::string target : {"file://" + secret, secret, std::string("file:///etc/passwd")}) {
    std::string error = Read("Customer", "<?xml version=\"1.0\"?>\n<!DOCTYPE CustomerList [\n"
                                         "<!ENTITY x SYSTEM \"" + target + "\">]>\n"
                                         "<CustomerList><Customer><Name>&x;</Name></Customer></CustomerList>\n");
    EXPECT_EQ(error, Failed(2, kRefused));
    EXPECT_EQ(out->UBound(), 0);
  }
  EXPECT_EQ(Read("Customer", "<!DOCTYPE CustomerList SYSTEM \"http://example.invalid/x.dtd\">\n<CustomerList/>"),
            Failed(1, kRefused));

  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE CustomerList [\n<!ENTITY l0 \"lol\">\n";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">\n";
  }
  laughs += "]>\n<CustomerList><Customer><Name>&l9;</Name></Customer></CustomerList>\n";
  std::string quadratic = "<!DOCTYPE CustomerList [<!ENTITY a \"" + std::string(100000, 'A') + "\">]>\n<CustomerList>"
                          "<Customer><Name>";
  for (int i = 0; i < 50000; ++i) quadratic += "&a;";
  quadratic += "</Name></Customer></CustomerList>";

  // Refused before any entity is expanded (an expansion would take
  // gigabytes, which the test's time limit would show).
  for (const auto* bomb : {&laughs, &quadratic})
    EXPECT_EQ(Read("Customer", *bomb), Failed(bomb == &laughs ? 2 : 1, kRefused));
}

TEST_F(Reader, SchemaLocationInTheFileIsIgnored) {
  ASSERT_EQ(Read("Settle", "<SettleList xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                           "xsi:noNamespaceSchemaLocation=\"http://example.invalid/other.xsd\">"
                           "<Settle><Name>现金</Name></Settle></SettleList>"),
            "");
  EXPECT_EQ(out->Item(1)->Value("Name").RawText(), "现金");
}

TEST_F(Reader, MissingFilesAndBrokenSchemas) {
  auto c = std::make_shared<RecordCollection>();
  std::string missing = dir.file("none.xml");
  EXPECT_EQ(ReadWithComponent(c, missing, "Customer", SourceSchemaDir()), "数据文件 " + missing + " 不存在！");
  EXPECT_EQ(ReadWithComponent(c, dir.path(), "Customer", SourceSchemaDir()), "数据文件 " + dir.path() + " 不是普通文件");

  std::string data = dir.file("data.xml");
  WriteFile(data, "<CustomerList/>");
  EXPECT_EQ(ReadWithComponent(c, data, "Customer", dir.path()),
            "Morvent接口定义文件 " + dir.file("SchemaCustomer.xml") + " 不存在！已在 " + dir.path() +
                " 中查找；可用环境变量 MORVENT_HOME 指定接口定义文件所在的文件夹。");

  WriteFile(dir.file("SchemaCustomer.xml"), "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n<xs:element>\n");
  EXPECT_EQ(ReadWithComponent(c, data, "Customer", dir.path()),
            "Morvent接口定义文件 " + dir.file("SchemaCustomer.xml") +
                " 无效：第 3 行：Premature end of data in tag element line 2");

  WriteFile(dir.file("SchemaCustomer.xml"),
            "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element name=\"SupplierList\"/></xs:schema>");
  EXPECT_EQ(ReadWithComponent(c, data, "Customer", dir.path()),
            "Morvent接口定义文件 " + dir.file("SchemaCustomer.xml") + " 无效：没有元素 CustomerList 的定义");

  WriteFile(dir.file("SchemaCustomer.xml"),
            "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\"><xs:element name=\"CustomerList\">"
            "<xs:complexType><xs:sequence><xs:element name=\"Customer\" type=\"Missing\"/></xs:sequence>"
            "</xs:complexType></xs:element></xs:schema>");
  EXPECT_EQ(ReadWithComponent(c, data, "Customer", dir.path()),
            "Morvent接口定义文件 " + dir.file("SchemaCustomer.xml") + " 无效：引用了未定义的类型 Missing");

  WriteFile(dir.file("SchemaCustomer.xml"), "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
                                            "<xs:include schemaLocation=\"http://example.invalid/more.xsd\"/></xs:schema>");
  EXPECT_EQ(ReadWithComponent(c, data, "Customer", dir.path()),
            "Morvent接口定义文件 " + dir.file("SchemaCustomer.xml") + " 无效：不接受引用其他文件的 xs:include");
}

TEST_F(Reader, AFailedReadLeavesTheCollectionAsGiven) {
  auto given = List({Rec({{"Name", "kept"}})});
  auto c = given;
  WriteFile(dir.file("bad.xml"), "<CustomerList><Customer><Foo/></Customer></CustomerList>");
  EXPECT_NE(ReadWithComponent(c, dir.file("bad.xml"), "Customer", SourceSchemaDir()), "");
  EXPECT_EQ(c, given);
  EXPECT_EQ(c->UBound(), 1);

  RecordCollectionPtr none;
  EXPECT_NE(ReadWithComponent(none, dir.file("bad.xml"), "Customer", SourceSchemaDir()), "");
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->UBound(), 0);
}

// Errors are collected per read, never through process-wide handlers: reads
// on several threads each get their own answer.
TEST_F(Reader, ConcurrentReadsKeepTheirOwnErrors) {
  const int kThreads = 4;
  for (int t = 0; t < kThreads; ++t)
    WriteFile(dir.file("t" + std::to_string(t) + ".xml"),
              "<CustomerList>\n<Customer><Name>" + std::to_string(t) + "</Name></Customer>\n" +
                  std::string(static_cast<size_t>(t), '\n') + (t % 2 ? "<Customer><K" + std::to_string(t) + "/></Customer>" : "") +
                  "</CustomerList>");
  std::vector<std::string> errors(kThreads);
  std::vector<std::string> names(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        auto c = std::make_shared<RecordCollection>();
        errors[t] = ReadWithComponent(c, dir.file("t" + std::to_string(t) + ".xml"), "Customer", SourceSchemaDir());
        names[t] = c->UBound() ? c->Item(1)->Value("Name").ToText() : "";
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    std::string f = dir.file("t" + std::to_string(t) + ".xml");
    if (t % 2) {
      EXPECT_EQ(errors[t], "读取数据文件 " + f + " 出错：第 " + std::to_string(3 + t) + " 行：元素 Customer 中有未知的键 K" +
                               std::to_string(t) + kNoSuchKey);
    } else {
      EXPECT_EQ(errors[t], "");
      EXPECT_EQ(names[t], std::to_string(t));
    }
  }
}

TEST_F(Reader, ShapeIsTakenFromTheSchemaFile) {
  // A schema of another layout: inline types, a repeated choice, a
  // collection of records named by a type reference.
  WriteFile(dir.file("SchemaThing.xml"),
            "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
            "<xs:element name=\"ThingList\"><xs:complexType><xs:sequence>"
            "<xs:element name=\"Thing\" minOccurs=\"0\" maxOccurs=\"unbounded\"><xs:complexType>"
            "<xs:choice minOccurs=\"0\" maxOccurs=\"unbounded\">"
            "<xs:element name=\"Label\" type=\"xs:string\"/>"
            "<xs:element name=\"Parts\" type=\"PartList\"/>"
            "<xs:element name=\"Owner\"><xs:complexType><xs:all>"
            "<xs:element name=\"Name\" type=\"xs:string\" minOccurs=\"0\"/></xs:all></xs:complexType></xs:element>"
            "</xs:choice></xs:complexType></xs:element>"
            "</xs:sequence></xs:complexType></xs:element>"
            "<xs:complexType name=\"PartList\"><xs:sequence>"
            "<xs:element name=\"Record\" minOccurs=\"0\" maxOccurs=\"unbounded\"><xs:complexType><xs:all>"
            "<xs:element name=\"Code\" type=\"xs:string\" minOccurs=\"0\"/></xs:all></xs:complexType></xs:element>"
            "</xs:sequence></xs:complexType></xs:schema>");
  WriteFile(dir.file("things.xml"), "<ThingList><Thing><Parts/><Owner/><Label/></Thing>"
                                    "<Thing><Parts><Record><Code>7</Code></Record></Parts></Thing></ThingList>");
  auto c = std::make_shared<RecordCollection>();
  ASSERT_EQ(ReadWithComponent(c, dir.file("things.xml"), "Thing", dir.path()), "");
  ASSERT_EQ(c->UBound(), 2);
  EXPECT_NE(c->Item(1)->Value("Parts").As<RecordCollection>(), nullptr);
  EXPECT_NE(c->Item(1)->Record("Owner"), nullptr);
  EXPECT_TRUE(c->Item(1)->Value("Label").IsText());
  EXPECT_EQ(Describe(c->Item(2)), "{Parts=[{Code=\"7\"}]}");
}

}  // namespace
}  // namespace morvent::test
