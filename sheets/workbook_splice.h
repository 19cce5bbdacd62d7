#pragma once
// The second step of writing a workbook: libxlsxwriter wrote every part
// with only the header rows of the data sheets, and here each data sheet's
// part is replaced by that same part with its rows (sheets/sheet_rows.h)
// put in before </sheetData>, streamed, never whole in memory.
#include <string>
#include <vector>

#include "sheets/sheet_rows.h"

namespace morvent::sheets {

struct SplicedSheet {
  std::string part;       // "xl/worksheets/sheet1.xml"
  SheetRows* rows;        // finished
  std::string dimension;  // the used range with the rows: "A1:AR100002"
};

// The deflate level of the spliced parts: the sheets are large and
// repetitive, and level 1 shrinks them nearly as much as the default at a
// quarter of the time.
inline constexpr int kSheetDeflateLevel = 1;

// Rewrites the workbook at `path` in place (through libzip's temporary file
// beside it); the other parts are copied as they are. Raises SheetError
// naming `shownPath` with libxlsxwriter's message for a failed archive.
void SpliceRows(const std::string& path, const std::string& shownPath, const std::vector<SplicedSheet>& sheets,
                int level = kSheetDeflateLevel);

}  // namespace morvent::sheets
