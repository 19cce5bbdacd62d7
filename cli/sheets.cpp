#include "cli/sheets.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <stdexcept>

#include "context/property_string.h"
#include "front/code_table.h"
#include "front/export_base.h"
#include "front/trap.h"
#include "platform/private_folder.h"
#include "platform/progdir.h"
#include "platform/text.h"
#include "platform/msgbox.h"
#include "sheets/sheet_files.h"
#include "store/ledger_admin.h"

namespace morvent::cli {

namespace {

const BaseType* KindOf(const std::string& text) {
  const std::string t = TrimBlanks(text);
  if (const BaseType* b = FindBaseType(t)) return b;
  for (const auto& b : BaseTypes())
    if (b.title == t) return &b;
  return nullptr;
}

std::vector<sheets::Column> ColumnsOfKind(const BaseType& b) {
  return sheets::ColumnsOf(SchemaFilePath(b.schemaFile), b.element);
}

// Answers nothing and shows nothing: the example's exports are the tool's own.
class SilentBoxes : public MessageBoxes {
 public:
  void Warning(const std::string&) override {}
  bool Question(const std::string&) override { return true; }
};

// The first rows of each kind, exported from a demo ledger made for the
// purpose in a private folder and removed with it.
std::map<std::string, std::vector<sheets::Row>> ExampleRows(const std::vector<const BaseType*>& kinds, size_t perKind) {
  namespace fs = std::filesystem;
  PrivateFolder folder("morvent-example-");
  if (folder.path().empty()) throw std::runtime_error("无法在 " + fs::temp_directory_path().string() + " 中创建临时文件夹");
  const fs::path dir = folder.path();
  const std::string db = (dir / "demo.db").string();
  CreateLedger(db);
  FillDemoLedger(db);
  const std::string props = LedgerPropertyString(db, LedgerKind(db));
  sheets::UseSheetFiles use;
  auto previous = SetMessageBoxes(std::make_shared<SilentBoxes>());
  std::map<std::string, std::vector<sheets::Row>> rows;
  for (const BaseType* b : kinds) {
    const std::string file = (dir / (b->element + ".csv")).string();
    ExportBase exp;
    if (!exp.ExportXMLData(props, b->code, file)) continue;
    sheets::ReadCsv(file, "", [&](long number, sheets::Row& row) {
      if (number > 2) rows[b->element].push_back(row);
      return rows[b->element].size() < perKind;
    });
  }
  SetMessageBoxes(previous);
  return rows;
}

}  // namespace

SheetSession::SheetSession(const RunOptions& o, std::string element)
    : element_(std::move(element)), errorsOut_(o.errorsOut) {
  if (!errorsOut_.empty() || !sheets::SheetFormat(o.file).empty()) {
    rows_ = std::make_shared<sheets::ReadRows>();
    rows_->keepCells = !errorsOut_.empty();
    places_ = std::make_unique<sheets::ErrorPlaces>(rows_);
  }
  if (!sheets::SheetFormat(o.file).empty() || !o.encoding.empty() || rows_)
    use_ = std::make_unique<sheets::UseSheetFiles>(o.encoding, rows_);
}

SheetSession::~SheetSession() = default;

void SheetSession::Row(int32_t lRow, double dblRate) {
  if (places_) places_->Row(lRow, dblRate);
}

std::string SheetSession::Error(const std::string& sErrMsg, const ErrorDetail* detail) {
  if (!places_) return sErrMsg;
  const int32_t record = places_->RecordOf(sErrMsg);
  if (record == 0) return sErrMsg;
  if (rows_->keepCells) {
    std::string text = sErrMsg;
    for (char& c : text)
      if (c == '\r') c = '\n';
    failed_.emplace_back(record, text);
  }
  return places_->Annotate(sErrMsg, record, detail);
}

std::string SheetSession::Finish() {
  if (errorsOut_.empty()) return {};
  if (failed_.empty()) return "没有出错的行，未写错误文件 " + errorsOut_;
  std::vector<size_t> keep;
  std::vector<sheets::Column> columns;
  for (size_t i = 0; i < rows_->columns.size(); ++i)
    if (!rows_->columns[i].path.empty()) {
      keep.push_back(i);
      columns.push_back(rows_->columns[i]);
    }
  try {
    auto writer = sheets::OpenSheetWriter(errorsOut_);
    writer->Sheet(element_, columns, true);
    size_t written = 0;
    for (size_t k = 0; k < failed_.size(); ++k) {
      const int32_t record = failed_[k].first;
      if (record < 1 || static_cast<size_t>(record) > rows_->cells.size()) continue;
      std::string message = failed_[k].second;
      // Several errors of one record go in one row.
      while (k + 1 < failed_.size() && failed_[k + 1].first == record) message += "\n" + failed_[++k].second;
      const sheets::Row& source = rows_->cells[record - 1];
      sheets::Row row;
      for (size_t i : keep) row.push_back(i < source.size() ? source[i] : sheets::Cell{});
      row.push_back({message, true});
      writer->Add(row);
      ++written;
    }
    writer->Close();
    return "出错的 " + std::to_string(written) + " 行已写入 " + errorsOut_ + "，改正后可直接引入";
  } catch (const std::exception& e) {
    return std::string("无法写错误文件：") + e.what();
  }
}

std::string SheetFormatOf(const std::string& path) { return sheets::SheetFormat(path); }

int RunTemplate(const std::string& type, const std::string& file, const std::string& all, bool example) {
  try {
    const std::string target = all.empty() ? file : all;
    if (sheets::SheetFormat(target).empty()) {
      std::cerr << "模板文件应为 .xlsx 或 .csv：" << ForTerminal(target) << std::endl;
      return kExitUsage;
    }
    std::vector<const BaseType*> kinds;
    if (all.empty()) {
      const BaseType* b = KindOf(type);
      if (!b || !b->create) {
        std::cerr << "未知的基础资料类型：" << ForTerminal(type) << "（见 morvent types）" << std::endl;
        return kExitUsage;
      }
      kinds.push_back(b);
    } else {
      if (sheets::SheetFormat(all) != "xlsx") {
        std::cerr << "整账套模板只能是 .xlsx 工作簿：" << ForTerminal(all) << std::endl;
        return kExitUsage;
      }
      for (const BaseType* b : BaseTypesInImportOrder())
        if (b->create && b->importable) kinds.push_back(b);
    }
    std::map<std::string, std::vector<sheets::Row>> examples;
    if (example) examples = ExampleRows(kinds, 5);
    auto writer = sheets::OpenSheetWriter(target);
    writer->Notes("说明", sheets::HowToFill());
    for (const BaseType* b : kinds) {
      writer->Sheet(b->element, ColumnsOfKind(*b));
      for (const auto& row : examples[b->element]) writer->Add(row);
    }
    writer->Close();
    std::cerr << "已写出模板：" << ForTerminal(target) << "（" << kinds.size() << " 种基础资料）" << std::endl;
    return kExitTrue;
  } catch (const std::exception& e) {
    std::cerr << "失败：" << ForTerminal(e.what(), false) << std::endl;
    return kExitError;
  }
}

bool WorkbookHasSheet(const std::string& book, const std::string& element) {
  try {
    for (const auto& name : sheets::XlsxSheetNames(book))
      if (name == element) return true;
  } catch (const sheets::SheetError&) {
  }
  return false;
}

void GatherWorkbook(const std::vector<std::pair<std::string, std::string>>& files, const std::string& book) {
  auto writer = sheets::OpenSheetWriter(book);
  writer->Notes("说明", sheets::HowToFill());
  for (const auto& [element, path] : files) {
    const BaseType* b = KindOf(element);
    writer->Sheet(element, b ? ColumnsOfKind(*b) : std::vector<sheets::Column>{});
    sheets::ReadXlsx(path, {element}, [&](long number, sheets::Row& row) {
      if (number > 2) writer->Add(row);
      return true;
    });
  }
  writer->Close();
}

}  // namespace morvent::cli
