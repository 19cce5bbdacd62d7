#pragma once
// A sheet's data rows as the worksheet part's <row> elements, written into
// an unnamed temporary file while the sheet is written, for SpliceRows to
// put into the workbook that libxlsxwriter wrote with the header rows only.
// The cells are those libxlsxwriter's constant-memory mode writes (inline
// strings, its text escapes), with the same per-cell checks, at a fraction
// of its cost. A cell directly after the previous one of its row carries no
// reference, which the standard allows.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace morvent::sheets {

class SheetRows {
 public:
  // `path` names the workbook in error messages. Raises SheetError.
  explicit SheetRows(std::string path);
  ~SheetRows();
  SheetRows(const SheetRows&) = delete;
  SheetRows& operator=(const SheetRows&) = delete;

  // Starts row `row` (from 0, after any earlier); a row without cells is
  // left out of the part as libxlsxwriter leaves it out.
  void Start(uint32_t row);
  // Cells of the current row, columns rising; `xf` is a format's index
  // (lxw_format_get_xf_index), negative for none. Raises SheetError with
  // libxlsxwriter's message where it refuses a cell.
  void Text(uint32_t col, std::string_view text, int xf);
  // `text` as a number cell's value; the caller checked it is one.
  void Number(uint32_t col, std::string_view text);
  void Serial(uint32_t col, double value, int xf);
  void Blank(uint32_t col, int xf);
  // =NA() with its cached #N/A.
  void Na(uint32_t col, int xf);
  void End();

  // Flushes and rewinds; the rows' bytes are then read from File().
  void Finish();
  FILE* File() const { return file_; }
  uint64_t Size() const { return size_; }
  bool Empty() const { return size_ == 0 && out_.empty(); }
  // The range of the cells written, for the part's dimension.
  uint32_t FirstRow() const { return firstRow_; }
  uint32_t LastRow() const { return lastRow_; }
  uint32_t FirstCol() const { return firstCol_; }
  uint32_t LastCol() const { return lastCol_; }

 private:
  void Cell(uint32_t col, int xf);
  void Flush();
  void Fail(const std::string& why) const;

  std::string path_;
  FILE* file_ = nullptr;
  std::string out_;  // the buffer flushed to file_
  uint64_t size_ = 0;
  uint32_t row_ = 0, firstRow_ = UINT32_MAX, lastRow_ = 0, firstCol_ = UINT32_MAX, lastCol_ = 0;
  int64_t prevCol_ = -1;  // the current row's last cell, -1 before its first
  bool rowOpen_ = false;
  std::vector<std::string> letters_;  // column letters by index, as needed
};

}  // namespace morvent::sheets
