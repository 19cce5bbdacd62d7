#pragma once
// Rows of cells as a spreadsheet holds them, read from and written to CSV
// and XLSX files. Rows are numbered from 1 as a user sees them.
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sheets/columns.h"

namespace morvent::sheets {

struct Cell {
  std::string text;
  bool present = false;  // an empty cell is absent; an empty text is present
  bool numeric = false;  // stored as a number (XLSX only)
  bool null = false;     // present, Null: #N/A in XLSX
};
using Row = std::vector<Cell>;
// Answers false to stop reading.
using RowSink = std::function<bool(long rowNumber, Row& row)>;

// A sheet that cannot be read or written, worded for the user.
class SheetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "csv", "xlsx", or "" for any other file name (case ignored).
std::string SheetFormat(const std::string& path);

// Null in a CSV field, as a spreadsheet program saves the XLSX Null (#N/A).
// A text that is only backslashes and "#N/A" is written with one backslash
// more, so no text is taken for Null.
inline constexpr const char* kCsvNull = "#N/A";
// Whether a field holds such a text: one or more backslashes, then "#N/A".
bool IsEscapedNull(std::string_view text);

// CSV by RFC 4180; an empty field is absent, a quoted empty one ("") an
// empty text, "#N/A" (quoted or not) Null.
// A blank line is a row, as a spreadsheet shows it. The file is read in
// chunks (once more beforehand to tell UTF-8 from GB18030), so memory does
// not grow with it. `encoding` empty: UTF-8 (a byte-order mark is skipped)
// unless the bytes are no valid UTF-8, then GB18030; else any name iconv
// knows. Blank lines count as rows. Raises SheetError.
void ReadCsv(const std::string& path, const std::string& encoding, const RowSink& each);

// The first sheet of one of those names (or, when none has it, the one
// sheet not named "说明" of a workbook that has only one) of an XLSX
// workbook, streamed. Numbers come as the shortest text
// of 15 significant digits, cells with a date format as "yyyy-mm-dd" (with
// " hh:mm:ss" when there is a time), booleans as "1" / "0", formulas by
// their cached value, a text cell or formula giving an empty text and a
// blank cell in the format kEmptyTextFormat as a present empty text, the error value #N/A as Null. Raises SheetError naming the cell for a formula
// without a value or an error value.
void ReadXlsx(const std::string& path, const std::vector<std::string>& sheetNames, const RowSink& each);
// The workbook's sheet names in order.
std::vector<std::string> XlsxSheetNames(const std::string& path);

// Writes sheets one after another, rows in order. Every failure raises
// SheetError; dropped without Close, the target is left as it was. A target
// that is no regular file or is a file of the current ledger is refused as
// the data-file writer refuses it; a symlink has the file it points to
// replaced.
class SheetWriter {
 public:
  virtual ~SheetWriter() = default;
  // Starts a sheet with its two header rows (keys, then descriptions).
  virtual void Sheet(const std::string& name, const std::vector<Column>& columns, bool extraErrorColumn = false) = 0;
  virtual void Add(const Row& row) = 0;
  // A sheet of plain lines of text ("说明"); XLSX only, ignored for CSV.
  virtual void Notes(const std::string& name, const std::vector<std::string>& lines) = 0;
  virtual void Close() = 0;
};
// CSV: UTF-8 with a byte-order mark, one sheet; an empty text as "", Null
// as #N/A (see kCsvNull). XLSX: constant memory; numbers that read back as the
// same text as number cells (never in a code column), the date texts of a
// date column as date cells, an empty text as a blank
// cell in the format kEmptyTextFormat (a formula would cost more than the
// rest of the row) and Null as =NA().
std::unique_ptr<SheetWriter> OpenSheetWriter(const std::string& path);

// The number format that marks a blank XLSX cell as an empty text (to a
// spreadsheet program, a text format like "@").
inline constexpr const char* kEmptyTextFormat = "@\"\"";

// The header of the added error column.
inline constexpr const char* kErrorHeader = "错误";

}  // namespace morvent::sheets
