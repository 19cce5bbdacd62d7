// A client of the installed library: exports the departments and currencies
// of a ledger, imports the files into a second, empty ledger, exports that
// one again and checks that the two exports match; exports a workbook. Also checks an unassigned
// code and an error the call raises. Exits 0 only when every check holds.
//
//   morvent_consumer HOME SOURCE.db TARGET.db WORKDIR
//
// HOME holds the schema files and receives the exchange log; SOURCE.db and
// TARGET.db are made beforehand with `morvent ledger demo` / `ledger init`.
#include <morvent/error.h>
#include <morvent/export_base.h>
#include <morvent/import_base.h>
#include <morvent/msgbox.h>
#include <morvent/sheets.h>
#include <morvent/context/property_string.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) ++failures;
  std::cout << (ok ? "ok   " : "FAIL ") << what << '\n';
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Counts {
  bool done = false;
  int32_t rows = 0;
  int errors = 0;
};

Counts Export(const std::string& ledger, int32_t code, const std::string& file) {
  Counts counts;
  morvent::ExportBase exp;
  exp.ExportOneRow = [&](int32_t row, double, bool&) { counts.rows = row; };
  exp.Error = [&](const std::string& message, bool& cancel) {
    std::cerr << "export error: " << message << '\n';
    ++counts.errors;
    cancel = true;
  };
  counts.done = exp.ExportXMLData(morvent::LedgerPropertyString(ledger, "QY"), code, file);
  return counts;
}

Counts Import(const std::string& ledger, int32_t code, const std::string& file) {
  Counts counts;
  morvent::ImportBase imp;
  imp.ImportOneRow = [&](int32_t row, double, bool&) { counts.rows = row; };
  imp.Error = [&](const std::string& message, bool& cancel) {
    std::cerr << "import error: " << message << '\n';
    ++counts.errors;
    cancel = true;
  };
  morvent::DataRecord options;
  options.SetValue("ImpStyle", int32_t{2});
  counts.done = imp.ImportXMLData(morvent::LedgerPropertyString(ledger, "QY"), code, file, &options);
  return counts;
}

// The library's warnings and questions come here instead of the terminal.
struct Boxes : morvent::MessageBoxes {
  int warnings = 0;
  std::string question;
  void Warning(const std::string& text) override {
    std::cerr << "warning: " << text << '\n';
    ++warnings;
  }
  bool Question(const std::string& text) override {
    question = text;
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: morvent_consumer HOME SOURCE.db TARGET.db WORKDIR\n";
    return 2;
  }
  const std::string home = argv[1], source = argv[2], target = argv[3], work = argv[4];
  // Schemas and the log are looked up in MORVENT_HOME; a process may set it
  // for itself before its first call.
  setenv("MORVENT_HOME", home.c_str(), 1);
  auto boxes = std::make_shared<Boxes>();
  morvent::SetMessageBoxes(boxes);

  for (int32_t code : {120, 103}) {
    const std::string first = work + "/first-" + std::to_string(code) + ".xml";
    const std::string again = work + "/again-" + std::to_string(code) + ".xml";
    const Counts exported = Export(source, code, first);
    const std::string kind = " (" + std::to_string(code) + ")";
    Check(exported.done && exported.rows > 0 && exported.errors == 0, "export answers True without error" + kind);
    const Counts imported = Import(target, code, first);
    Check(imported.done && imported.rows == exported.rows && imported.errors == 0,
          "import answers True and reads every exported record" + kind);
    const Counts reexported = Export(target, code, again);
    Check(reexported.done && reexported.rows == exported.rows, "the new ledger exports as many records" + kind);
    Check(!Slurp(first).empty() && Slurp(first) == Slurp(again), "both exports are the same file");
  }

  // The spreadsheet route: the same events, a workbook for a file.
  {
    Counts counts;
    morvent::ExportBase exp;
    exp.ExportOneRow = [&](int32_t row, double, bool&) { counts.rows = row; };
    exp.Error = [&](const std::string&, bool& cancel) { ++counts.errors, cancel = true; };
    const std::string book = work + "/dept.xlsx";
    counts.done = morvent::ExportSheet(exp, morvent::LedgerPropertyString(source, "QY"), 120, book);
    Check(counts.done && counts.rows > 0 && counts.errors == 0 && Slurp(book).starts_with("PK"),
          "a kind exports to an XLSX workbook");
  }

  // Overwriting asks first; this client answers No, and the file stays.
  const std::string existing = work + "/first-120.xml";
  const std::string before = Slurp(existing);
  const Counts refused = Export(source, 120, existing);
  Check(!refused.done && refused.errors == 0 && Slurp(existing) == before &&
            boxes->question == existing + "文件已存在，是否覆盖？",
        "an export refused overwriting leaves the file as it was");
  Check(boxes->warnings == 0, "no warning was shown");

  // Without boxes of the client's, nobody is asked and stderr says why.
  morvent::SetMessageBoxes(nullptr);
  const std::string said = work + "/stderr.txt";
  const int savedErr = dup(STDERR_FILENO);
  const int toFile = open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(toFile, STDERR_FILENO);
  close(toFile);
  const Counts unasked = Export(source, 120, existing);
  std::cerr.flush();
  dup2(savedErr, STDERR_FILENO);
  close(savedErr);
  Check(!unasked.done && Slurp(existing) == before &&
            Slurp(said) == "[Morvent] " + existing + "文件已存在，是否覆盖？" + morvent::kUnansweredQuestion + "\n",
        "without boxes an export over a file answers No and says why on stderr");
  morvent::SetMessageBoxes(boxes);

  morvent::ExportBase unassigned;
  bool raised = false;
  unassigned.Error = [&](const std::string&, bool&) { raised = true; };
  Check(!unassigned.ExportXMLData("Data Source=" + source, 109, work + "/none.xml") && !raised,
        "an unassigned code answers False without an event");

  try {
    morvent::ExportBase twice;
    twice.ExportXMLData("Data Source=" + source + ";Data Source=" + source, 120, work + "/twice.xml");
    Check(false, "a property string repeating a key raises morvent::Error");
  } catch (const morvent::Error& e) {
    Check(e.Number() == morvent::kErrKeyExists && e.Source() == "Morvent" &&
              e.Description() == "该关键字已经与该集合的一个元素相关联：Data Source",
          "a property string repeating a key raises morvent::Error");
  }

  std::cout << (failures ? "consumer: FAILED\n" : "consumer: all checks passed\n");
  return failures ? 1 : 0;
}
