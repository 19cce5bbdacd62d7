#include "sheets/exchange.h"

#include <mutex>
#include <optional>
#include <utility>

#include "front/code_table.h"
#include "platform/error.h"
#include "platform/progdir.h"
#include "platform/registry.h"
#include "sheets/sheet_files.h"

namespace morvent {

namespace {

constexpr const char* kSource = "Morvent.Sheets";

// The CSV encoding of the sheet import running on this thread, and where
// its reader keeps the sheet rows of the records.
thread_local std::string t_encoding;
thread_local std::shared_ptr<sheets::ReadRows> t_rows;

// The sheet components stay in place while any sheet call runs, on any
// thread; the factory reads the calling thread's options when a call makes
// its reader. Other files still go to the XML components meanwhile.
class Installed {
 public:
  Installed() {
    std::lock_guard lock(mutex_);
    if (users_++ == 0) {
      EnsureComponentsRegistered();
      reader_.emplace(kReaderProgId, [] { return sheets::DispatchingReader(t_encoding, t_rows); });
      writer_.emplace(kWriterProgId, [] { return sheets::DispatchingWriter(); });
    }
  }
  ~Installed() {
    std::lock_guard lock(mutex_);
    if (--users_ == 0) {
      writer_.reset();
      reader_.reset();
    }
  }
  Installed(const Installed&) = delete;
  Installed& operator=(const Installed&) = delete;

 private:
  static inline std::mutex mutex_;
  static inline int users_ = 0;
  static inline std::optional<ScopedFactory> reader_, writer_;
};

void RequireSheet(const std::string& file) {
  if (sheets::SheetFormat(file).empty())
    throw Error(kErrDataFile, kSource, "不认识的表格文件类型（应为 .xlsx 或 .csv）：" + file);
}

}  // namespace

bool ExportSheet(ExportBase& exp, const std::string& PropsString, int32_t lBaseType, const std::string& sFile) {
  RequireSheet(sFile);
  Installed installed;
  return exp.ExportXMLData(PropsString, lBaseType, sFile);
}

bool ImportSheet(ImportBase& imp, const std::string& PropsString, int32_t lBaseType, const std::string& sFile,
                 const OptionDictionary* dictParam, const std::string& sEncoding) {
  RequireSheet(sFile);
  Installed installed;
  auto rows = std::make_shared<sheets::ReadRows>();
  sheets::ErrorPlaces places(rows);
  // The caller's events, called from ours, which name the sheet row of the
  // record an error is about; all put back as they were at the end.
  struct Restored {
    ImportBase& imp;
    decltype(ImportBase::ImportOneRow) onRow;
    decltype(ImportBase::Error) onError;
    std::string encoding = std::exchange(t_encoding, {});
    std::shared_ptr<sheets::ReadRows> rows = std::exchange(t_rows, {});
    ~Restored() {
      imp.ImportOneRow = std::move(onRow);
      imp.Error = std::move(onError);
      t_encoding = std::move(encoding);
      t_rows = std::move(rows);
    }
  } restored{imp, imp.ImportOneRow, imp.Error};
  t_encoding = sEncoding;
  t_rows = rows;
  imp.ImportOneRow = [&](int32_t lRow, double dblRate, bool& cancel) {
    places.Row(lRow, dblRate);
    if (restored.onRow) restored.onRow(lRow, dblRate, cancel);
  };
  if (restored.onError)
    imp.Error = [&](const std::string& sErrMsg, bool& cancel) {
      restored.onError(places.Annotate(sErrMsg, places.RecordOf(sErrMsg), imp.CurrentErrorDetail()), cancel);
    };
  return imp.ImportXMLData(PropsString, lBaseType, sFile, dictParam);
}

void WriteSheetTemplate(int32_t lBaseType, const std::string& sFile) {
  const BaseType* b = FindBaseType(lBaseType);
  if (!b || !b->create)
    throw Error(kErrDataFile, kSource, "没有可引入的基础资料类型 " + std::to_string(lBaseType));
  try {
    auto writer = sheets::OpenSheetWriter(sFile);
    writer->Notes("说明", sheets::HowToFill());
    writer->Sheet(b->element, sheets::ColumnsOf(SchemaFilePath(b->schemaFile), b->element));
    writer->Close();
  } catch (const std::runtime_error& e) {
    throw Error(kErrDataFile, kSource, "写模板文件 " + sFile + " 出错：" + e.what());
  }
}

}  // namespace morvent
