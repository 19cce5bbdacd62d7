// The front ends' own behaviour: code selection, option dictionaries and
// the property string, independent of any handler.
#include <gtest/gtest.h>

#include "context/props.h"
#include "front/code_table.h"
#include "front/exchange_log.h"
#include "front/export_base.h"
#include "front/import_base.h"
#include "platform/error.h"
#include "platform/progdir.h"
#include "tests/support/support.h"

namespace morvent::test {
namespace {

class FrontEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    exp.ExportOneRow = [this](int32_t, double, bool&) { ++events; };
    exp.Error = [this](const std::string&, bool&) { ++events; };
    imp.ImportOneRow = [this](int32_t, double, bool&) { ++events; };
    imp.Error = [this](const std::string&, bool&) { ++events; };
  }
  ProgramHome home;
  ExportBase exp;
  ImportBase imp;
  int events = 0;
};

TEST_F(FrontEnd, UnassignedCodesAnswerFalseQuietly) {
  for (int32_t code : {100, 109, 111, 113, 115, 117, 119, 123, 0, -1}) {
    EXPECT_FALSE(exp.ExportXMLData("Data Source=none", code, home.file("t.xml"))) << code;
    EXPECT_FALSE(imp.ImportXMLData("Data Source=none", code, home.file("t.xml"))) << code;
  }
  EXPECT_EQ(events, 0);
  EXPECT_FALSE(FileExist(home.file(kLogFileName)));
  EXPECT_FALSE(FileExist(home.file("t.xml")));
}

TEST_F(FrontEnd, AccountTypesAreNeverImported) {
  WriteFile(home.file("t.xml"), "not even xml");
  EXPECT_FALSE(imp.ImportXMLData("Data Source=none", 101, home.file("t.xml")));
  EXPECT_EQ(events, 0);
  EXPECT_TRUE(home.boxes().warnings.empty());
}

TEST_F(FrontEnd, ExportStoresThePropertyStringAndKeepsImportOptions) {
  Context().gImpStyle = 2;
  Context().gCodingStyle = 2;
  EXPECT_FALSE(exp.ExportXMLData("a=1; AcctType = gy ", 109, ""));
  EXPECT_EQ(Context().gPropsString, "a=1; AcctType = gy ");
  EXPECT_TRUE(IsAcctTypeGY());
  EXPECT_EQ(Context().gImpStyle, 2);
  EXPECT_EQ(Context().gCodingStyle, 2);
}

TEST_F(FrontEnd, RepeatedKeyFailsTheCallWithoutDictionary) {
  EXPECT_THROW(exp.ExportXMLData("A=1;a=2", 103, home.file("t.xml")), Error);
  EXPECT_THROW(imp.ImportXMLData("A=1;a=2", 103, home.file("t.xml")), Error);
  // With a dictionary the failure is skipped and the pairs before it stay.
  DataRecord dict;
  EXPECT_FALSE(imp.ImportXMLData("A=1;a=2", 109, home.file("t.xml"), &dict));
  EXPECT_EQ(GetProp("A"), "1");
  EXPECT_EQ(events, 0);
}

TEST_F(FrontEnd, OptionDictionaryConversions) {
  EXPECT_FALSE(imp.ImportXMLData("", 109, ""));
  EXPECT_EQ(Context().gImpStyle, 1);
  EXPECT_EQ(Context().gCodingStyle, 1);

  DataRecord only;
  only.SetValue("ImpStyle", int32_t{2});
  imp.ImportXMLData("", 109, "", &only);
  EXPECT_EQ(Context().gImpStyle, 2);
  EXPECT_EQ(Context().gCodingStyle, 1);

  DataRecord text;
  text.SetValue("ImpStyle", " 2 ");
  text.SetValue("CodingStyle", "2");
  Context().gImpStyle = 7;
  imp.ImportXMLData("", 109, "", &text);
  EXPECT_EQ(Context().gImpStyle, 2);
  EXPECT_EQ(Context().gCodingStyle, 2);

  DataRecord bad;
  bad.SetValue("ImpStyle", "keep");
  bad.SetValue("CodingStyle", 2.5);  // half to even
  Context().gImpStyle = 5;
  imp.ImportXMLData("", 109, "", &bad);
  EXPECT_EQ(Context().gImpStyle, 5);
  EXPECT_EQ(Context().gCodingStyle, 2);
}

TEST(CodeTable, SixteenCodesSeventeenSchemas) {
  EXPECT_EQ(BaseTypes().size(), 16u);
  EXPECT_EQ(SchemaElementNames().size(), 17u);
  for (const auto& b : BaseTypes()) EXPECT_EQ(b.schemaFile, "Schema" + b.element + ".xml");
  ASSERT_NE(FindBaseType("department"), nullptr);
  EXPECT_EQ(FindBaseType("department")->code, 120);
  EXPECT_EQ(FindBaseType("120")->element, "Department");
  EXPECT_EQ(FindBaseType(109), nullptr);
}

}  // namespace
}  // namespace morvent::test
