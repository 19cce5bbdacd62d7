#pragma once
// The tool's spreadsheet side: templates, the sheet components of a run
// whose file is CSV or XLSX, and the errors workbook of an import.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/error.h"

namespace morvent::sheets {
struct ReadRows;
class UseSheetFiles;
class ErrorPlaces;
}  // namespace morvent::sheets

namespace morvent::cli {

// Lives for one kind's run. With a .csv or .xlsx file it puts the sheet
// components in place of the XML ones; with --errors-out it keeps the rows
// read and, at Finish, writes those that failed with an added "错误" column.
class SheetSession {
 public:
  // element: the kind's, naming the errors sheet.
  SheetSession(const RunOptions& options, std::string element);
  ~SheetSession();
  SheetSession(const SheetSession&) = delete;
  SheetSession& operator=(const SheetSession&) = delete;

  // The events of the run, as the reporter sees them.
  void Row(int32_t lRow, double dblRate);
  // Answers the message to show: from a spreadsheet, an error about a
  // record gains a last line naming its sheet row, and the cell when the
  // detail names the key ("表格位置：第 5 行 D 列（CreditAmount）").
  std::string Error(const std::string& sErrMsg, const ErrorDetail* detail = nullptr);
  // Writes the errors file; answers what to tell the user ("" for nothing).
  std::string Finish();

 private:
  std::string element_, errorsOut_;
  std::shared_ptr<sheets::ReadRows> rows_;
  std::unique_ptr<sheets::UseSheetFiles> use_;
  std::unique_ptr<sheets::ErrorPlaces> places_;
  std::vector<std::pair<int32_t, std::string>> failed_;  // record, message
};

// "csv", "xlsx", or "" for a file that is no spreadsheet.
std::string SheetFormatOf(const std::string& path);

// `template --type KIND --file F` or `template --all BOOK.xlsx`; with
// example, each sheet holds the first five rows of a demo ledger's kind.
int RunTemplate(const std::string& type, const std::string& file, const std::string& all, bool example);

// Whole-ledger runs on one workbook: the sheet of a kind, and the export
// of every kind gathered into one workbook.
bool WorkbookHasSheet(const std::string& book, const std::string& element);
// Each file (element, path) becomes a sheet of `book`; raises std::runtime_error.
void GatherWorkbook(const std::vector<std::pair<std::string, std::string>>& files, const std::string& book);

}  // namespace morvent::cli
