#pragma once
// The spreadsheet route to the data files' records: a CSV or XLSX file read
// into the very record collection "XMLPellam.Read" makes of a data file, and
// a record collection written as a sheet. Both stand in for the XML
// components by name (see UseSheetFiles), so every walk, event and rule of
// an import or export holds unchanged.
//
// A sheet has two header rows: the column names (sheets/columns.h), then
// the descriptions ("代码 | 代码 | 必填"), which a reader skips when every
// filled cell of the second row has that shape, whatever its words. The columns may stand in any order and any of them
// may be left out; a column that the schema does not declare stops the
// read. Each later row is one record, its cells turned into an XML record
// and validated against the schema as a data file is: an empty cell is an
// absent key, a nested record is made of its dotted columns, a collection
// column holds a JSON array of objects. A row without any cell is skipped.
// Every read error names the sheet row and column as the user sees them:
// "第 5 行 D 列（CreditAmount）".
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "context/datafile.h"
#include "platform/error.h"
#include "sheets/table.h"

namespace morvent::sheets {

// What a read keeps for the errors workbook: each record's sheet row and
// cells, by the record's 1-based position.
struct ReadRows {
  std::vector<Column> columns;  // as the sheet has them
  std::vector<long> sheetRow;   // [record - 1]
  std::vector<Row> cells;       // [record - 1], only when keepCells
  bool keepCells = false;
};

class SheetFileReader : public DataFileReader {
 public:
  // encoding: for CSV, see ReadCsv; rows: filled when given.
  explicit SheetFileReader(std::string encoding = "", std::shared_ptr<ReadRows> rows = nullptr)
      : encoding_(std::move(encoding)), rows_(std::move(rows)) {}
  void InputXML(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaFile,
                const std::string& elementName, std::string& errorText) override;

 private:
  std::string encoding_;
  std::shared_ptr<ReadRows> rows_;
};

class SheetFileWriter : public DataFileWriter {
 public:
  void OutputXML(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaFile,
                 const std::string& elementName, std::string& errorText) override;
  std::unique_ptr<RecordStream> OpenStream(const std::string& dataFile, const std::string& schemaFile,
                                           const std::string& elementName) override;
};

// Where the records an import's errors are about stand in the sheet read,
// fed with the import's row events.
class ErrorPlaces {
 public:
  explicit ErrorPlaces(std::shared_ptr<const ReadRows> rows) : rows_(std::move(rows)) {}
  void Row(int32_t lRow, double dblRate) {
    lastRow_ = lRow;
    lastRate_ = dblRate;
  }
  // The record (from 1) an error message is about, by the rule the row
  // events number records with: the one after the last reported row; 0 for
  // a message about no record.
  int32_t RecordOf(const std::string& sErrMsg) const;
  // The message with a last line naming the record's sheet row, and the
  // cell when the detail names the key ("表格位置：第 5 行 D 列（CreditAmount）");
  // unchanged when the record is not known.
  std::string Annotate(const std::string& sErrMsg, int32_t record, const ErrorDetail* detail) const;

 private:
  std::shared_ptr<const ReadRows> rows_;
  int32_t lastRow_ = 0;
  double lastRate_ = 0;
};

// The cells of a record under the columns: a Null or absent key is an empty
// cell, an empty text a present empty one.
Row RowOf(const DataRecord& record, const std::vector<Column>& columns);

// The components UseSheetFiles puts in place, for a caller that places
// them itself: sheets for *.csv and *.xlsx, XML for any other file.
std::shared_ptr<DataFileReader> DispatchingReader(std::string encoding = "", std::shared_ptr<ReadRows> rows = nullptr);
std::shared_ptr<DataFileWriter> DispatchingWriter();

// The lines of a template's "说明" sheet.
const std::vector<std::string>& HowToFill();

// While it lives, "XMLPellam.Read" and "XMLPellam.Write" are the sheet
// components for every file named *.csv or *.xlsx, and the XML ones for any
// other file.
class UseSheetFiles {
 public:
  explicit UseSheetFiles(std::string encoding = "", std::shared_ptr<ReadRows> rows = nullptr);
  ~UseSheetFiles();
  UseSheetFiles(const UseSheetFiles&) = delete;
  UseSheetFiles& operator=(const UseSheetFiles&) = delete;

 private:
  struct Scopes;
  std::unique_ptr<Scopes> scopes_;
};

}  // namespace morvent::sheets
