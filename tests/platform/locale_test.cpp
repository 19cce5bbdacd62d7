// A host program may switch the process to a locale whose decimal sign is a
// comma; values read and written by the library must not notice.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "front/export_base.h"
#include "front/import_base.h"
#include "platform/variant.h"
#include "store/ledger_admin.h"
#include "tests/support/ledger_fixture.h"

namespace morvent::test {
namespace {

// Switches LC_NUMERIC, as a host's setlocale would, to the first installed
// locale with a decimal comma; failing that, to one compiled into a
// temporary folder (nothing system-wide is touched). Restores both the
// locale and LOCPATH at the end.
class CommaNumericLocale {
 public:
  CommaNumericLocale() {
    previous_ = std::setlocale(LC_NUMERIC, nullptr);
    if (const char* p = std::getenv("LOCPATH")) previousLocPath_ = p;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "ru_RU.UTF-8", "ru_RU.utf8",
                             "es_ES.UTF-8", "it_IT.UTF-8", "nl_NL.UTF-8", "pt_BR.UTF-8"})
      if (Try(name)) return;
    if (const std::string* dir = CompiledLocaleDir()) {
      setenv("LOCPATH", dir->c_str(), 1);
      if (Try("comma_DE")) return;
    }
    Restore();
  }
  ~CommaNumericLocale() { Restore(); }
  bool Active() const { return !name_.empty(); }
  static constexpr const char* kMissing =
      "no locale with a decimal comma is installed (e.g. de_DE.UTF-8) and none could be compiled with localedef";

 private:
  // localedef compiles one from the locale sources, when they are there;
  // once per run, into a folder removed at exit.
  static const std::string* CompiledLocaleDir() {
    static TempDir dir;
    static const bool built =
        std::system(("localedef -i de_DE -f ISO-8859-1 '" + dir.file("comma_DE") + "' >/dev/null 2>&1").c_str()) == 0;
    return built ? &dir.path() : nullptr;
  }
  bool Try(const char* name) {
    if (!std::setlocale(LC_NUMERIC, name)) return false;
    // The switch must really change what the C library does with numbers.
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 1.5);
    if (std::string(buf) == "1,5" && std::strtod("1.5", nullptr) == 1) {
      name_ = name;
      return true;
    }
    std::setlocale(LC_NUMERIC, previous_.c_str());
    return false;
  }
  void Restore() {
    std::setlocale(LC_NUMERIC, previous_.c_str());
    if (previousLocPath_) setenv("LOCPATH", previousLocPath_->c_str(), 1);
    else unsetenv("LOCPATH");
    name_.clear();
  }
  std::string previous_;
  std::optional<std::string> previousLocPath_;
  std::string name_;
};

class CommaLocaleTest : public LedgerTest {
 protected:
  ProgramHome home;
};

TEST_F(CommaLocaleTest, ValuesAndDataFilesReadAndWriteAsInTheCLocale) {
  CommaNumericLocale locale;
  if (!locale.Active()) GTEST_SKIP() << CommaNumericLocale::kMissing;

  for (auto [text, value] : {std::pair{"1.5", 1.5}, {" -2.25e1 ", -22.5}, {"+7.", 7.0}, {"1234567.125", 1234567.125}}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Variant(text).ToDouble(), value);
  }
  for (auto [value, text] : {std::pair{1.5, "1.5"}, {1.0 / 3.0, "0.333333333333333"}, {-2.5e-7, "-2.5E-07"}}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Variant(value).ToText(), text);
  }
  EXPECT_EQ(ErrorOf([] { Variant("1,5").ToDouble(); }), "类型不匹配");
  EXPECT_EQ(Variant("2024/3/5 7:08:09").ToDate(), MakeDate(2024, 3, 5, 7, 8, 9));

  // A fractional field through a data file into another ledger.
  auto usd = Set(kCurrencySet)->CreateNew({}, {{"Number", Variant("USD")}});
  usd->Let("Name", Variant("美元"));
  usd->Let("ExchangeRate", Variant(7.125));
  usd->SaveChanges();
  std::vector<std::string> errors;
  ExportBase exp;
  exp.Error = [&](const std::string& m, bool&) { errors.push_back(m); };
  const std::string file = home.file("currencies.xml");
  ASSERT_TRUE(exp.ExportXMLData(props, 103, file));
  std::stringstream text;
  text << std::ifstream(file).rdbuf();
  EXPECT_NE(text.str().find(">7.125<"), std::string::npos) << text.str();

  const std::string other = dir.file("other.db");
  CreateLedger(other);
  const std::string otherProps = "Provider=embedded;Data Source=" + other + ";AcctType=QY";
  ImportBase imp;
  imp.Error = [&](const std::string& m, bool&) { errors.push_back(m); };
  ASSERT_TRUE(imp.ImportXMLData(otherProps, 103, file));
  Context().gPropsString = otherProps;
  EXPECT_TRUE(errors.empty()) << errors.front();
  auto cursor = Open(kCurrencySet, 2)->Enumerate();
  std::vector<double> rates;
  while (auto c = cursor->Next())
    if (c->Number() == "USD") rates.push_back(c->Get("ExchangeRate").ToDouble());
  EXPECT_EQ(rates, std::vector<double>{7.125});
}

}  // namespace
}  // namespace morvent::test
