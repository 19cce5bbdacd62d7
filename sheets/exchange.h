#pragma once
// Spreadsheets in place of XML data files: one kind of base data exported to
// or imported from an .xlsx workbook or a .csv file, and a blank template to
// fill. The export and import are ExportXMLData and ImportXMLData on the
// object given, only reading or writing a sheet: the same walks, rules,
// events, counts and exchange log.
//
//   morvent::ExportBase exp;
//   exp.Error = [](const std::string& msg, bool& cancel) { cancel = false; };
//   bool done = morvent::ExportSheet(exp, "Data Source=l.db;AcctType=QY", 120, "dept.xlsx");
//
//   morvent::ImportBase imp;
//   done = morvent::ImportSheet(imp, "Data Source=m.db;AcctType=QY", 120, "dept.xlsx");
//
// A sheet has a row of column names (the keys, nested ones dotted:
// "Currency.Number"), a row describing them, then one record a row; an
// empty cell is an absent key. A CSV file is UTF-8 with a byte-order mark
// when written; read, it may also be GB18030 (told apart by its bytes) or
// the encoding named. Null is #N/A in both (=NA() in XLSX). Calls on
// several threads at once are fine.
#include <cstdint>
#include <string>

#include "context/record.h"
#include "front/export_base.h"
#include "front/import_base.h"

#include "platform/export.h"

namespace morvent {

// Writes the kind's records into sFile (.xlsx or .csv) as ExportXMLData
// writes a data file, and answers as it does. A file name of any other
// type raises Error kErrDataFile ("不认识的表格文件类型（应为 .xlsx 或 .csv）：F").
MORVENT_API bool ExportSheet(ExportBase& exp, const std::string& PropsString, int32_t lBaseType,
                             const std::string& sFile);

// Reads sFile (.xlsx or .csv) as ImportXMLData reads a data file (the
// sheet named after the kind's element, or a workbook's only data sheet),
// and answers as it does. A read error names the cell; the message of an
// Error event about a record gains a last line naming its sheet row, and
// the cell when the error is about a key ("表格位置：第 5 行 D 列（CreditAmount）").
// The object's events are its own again when the call returns.
// sEncoding: for CSV, any name iconv knows; empty, UTF-8 or GB18030 by the
// file's bytes. Other file types raise as ExportSheet does.
MORVENT_API bool ImportSheet(ImportBase& imp, const std::string& PropsString, int32_t lBaseType,
                             const std::string& sFile, const OptionDictionary* dictParam = nullptr,
                             const std::string& sEncoding = "");

// Writes a blank sheet of the kind into sFile (.xlsx or .csv): the two
// header rows, code columns formatted as text, 0/1 columns offering 0 and
// 1, and (XLSX) a "说明" sheet on how to fill it. Raises Error kErrDataFile
// when the code names no kind that can be imported or the file cannot be
// written, with the reason.
MORVENT_API void WriteSheetTemplate(int32_t lBaseType, const std::string& sFile);

}  // namespace morvent
