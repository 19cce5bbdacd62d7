#include "datafile/xml_writer.h"

#include <fcntl.h>
#include <libxml/xmlwriter.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <optional>

#include "platform/error.h"
#include "datafile/target_file.h"
#include "datafile/xml_support.h"

namespace morvent {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSource = "XMLPellam.Write";
constexpr int kMaxDepth = 64;

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
const xmlChar* X(const std::string& s) { return X(s.c_str()); }

// The new file, made in the folder of the file it replaces and put in its
// place whole. Where the platform allows it has no name until then
// (O_TMPFILE), so a run killed midway leaves nothing behind; elsewhere (and
// for the instant between naming and renaming) it is called
// ".<name>.morvent-<pid>-<n>.tmp", and the next write into that folder
// removes such files whose process is gone.
class TempFile {
 public:
  explicit TempFile(const std::string& target) : target_(target), real_(xml::RealTarget(target)) {
    fs::path real(real_);
    dir_ = real.parent_path().empty() ? std::string(".") : real.parent_path().string();
    name_ = real.filename().string();
    RemoveStale(dir_);
    fd_ = ::open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) OpenNamed();
    if (fd_ < 0) Fail("无法在 " + dir_ + " 中建立临时文件：" + std::strerror(errno));
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty() && !committed_) ::unlink(path_.c_str());
  }

  int fd() const { return fd_; }

  // Makes the temporary file the target.
  void Commit() {
    struct stat old {};
    if (::stat(real_.c_str(), &old) == 0) ::fchmod(fd_, old.st_mode & 07777);
    if (::fsync(fd_) != 0) Fail(std::string("写入磁盘失败：") + std::strerror(errno));
    if (path_.empty()) LinkUnnamed();
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) Fail(std::string("关闭临时文件失败：") + std::strerror(errno));
    if (::rename(path_.c_str(), real_.c_str()) != 0) Fail(std::string("替换目标文件失败：") + std::strerror(errno));
    committed_ = true;
    if (int dir = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
      ::fsync(dir);  // the rename itself survives a crash
      ::close(dir);
    }
  }

  [[noreturn]] void Fail(const std::string& why) const {
    throw Error(kErrDataFile, kSource, "写数据文件 " + target_ + " 出错：" + why);
  }

 private:
  static constexpr const char* kMark = ".morvent-";

  std::string NextName() const {
    static std::atomic<unsigned> counter{0};
    return (fs::path(dir_) / ("." + name_ + kMark + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp"))
        .string();
  }

  void OpenNamed() {
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = NextName();
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) path_.clear();
  }

  void LinkUnnamed() {
    std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = NextName();
      if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
          ::linkat(fd_, "", AT_FDCWD, path_.c_str(), AT_EMPTY_PATH) == 0)
        return;
      if (errno != EEXIST) break;
    }
    int error = errno;
    path_.clear();
    Fail(std::string("无法在 ") + dir_ + " 中保存临时文件：" + std::strerror(error));
  }

  // Temporary files of runs whose process is gone.
  static void RemoveStale(const std::string& dir) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      auto mark = name.rfind(kMark);
      if (name.empty() || name[0] != '.' || mark == std::string::npos || !name.ends_with(".tmp")) continue;
      const char* digits = name.c_str() + mark + std::strlen(kMark);
      char* stop = nullptr;
      long pid = std::strtol(digits, &stop, 10);
      if (stop == digits || *stop != '-' || pid <= 0) continue;
      if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ::unlink(it->path().c_str());
    }
  }

  std::string target_, real_, dir_, name_, path_;
  int fd_ = -1;
  bool committed_ = false;
};

struct Sink {
  int fd;
  int error = 0;
};

int WriteAll(void* context, const char* buffer, int len) {
  auto* sink = static_cast<Sink*>(context);
  int done = 0;
  while (done < len) {
    ssize_t n = ::write(sink->fd, buffer + done, static_cast<size_t>(len - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      sink->error = errno;
      return -1;
    }
    done += static_cast<int>(n);
  }
  return len;
}

int CloseNothing(void*) { return 0; }

struct WriterFree {
  void operator()(xmlTextWriter* w) const { xmlFreeTextWriter(w); }
};

class RecordWriter {
 public:
  RecordWriter(xmlTextWriter* w, TempFile& file, Sink& sink) : w_(w), file_(file), sink_(sink) {}

  void Check(int rc) {
    if (rc < 0)
      file_.Fail(sink_.error ? std::string("写入失败：") + std::strerror(sink_.error) : "XML 输出失败");
  }

  void Record(const DataRecord& record, int index, const std::string& path, int depth) {
    if (depth > kMaxDepth) Refuse(index, path, "嵌套超过 " + std::to_string(kMaxDepth) + " 层（记录是否包含了自身？）");
    for (const auto& [key, value] : record.Entries()) {
      std::string keyPath = path.empty() ? key : path + "/" + key;
      if (!xml::IsPlainElementName(key)) Refuse(index, keyPath, "不能用作 XML 元素名");
      Value(key, value, index, keyPath, depth);
    }
  }

 private:
  void Value(const std::string& key, const Variant& value, int index, const std::string& path, int depth) {
    if (value.IsNull()) {
      Check(xmlTextWriterStartElement(w_, X(key)));
      Check(xmlTextWriterWriteAttribute(w_, X("xsi:nil"), X("true")));
      Check(xmlTextWriterEndElement(w_));
      return;
    }
    if (value.IsObject()) {
      if (auto nested = value.As<DataRecord>()) {
        Check(xmlTextWriterStartElement(w_, X(key)));
        Record(*nested, index, path, depth + 1);
        Check(xmlTextWriterEndElement(w_));
      } else if (auto list = value.As<RecordCollection>()) {
        Check(xmlTextWriterStartElement(w_, X(key)));
        for (int32_t i = list->LBound(); i <= list->UBound(); ++i) {
          std::string itemPath = path + "/Record[" + std::to_string(i) + "]";
          auto item = list->Item(i);
          if (!item) Refuse(index, itemPath, "是空对象");
          Check(xmlTextWriterStartElement(w_, X("Record")));
          Record(*item, index, itemPath, depth + 1);
          Check(xmlTextWriterEndElement(w_));
        }
        Check(xmlTextWriterEndElement(w_));
      } else {
        Refuse(index, path, "的值是既非记录也非记录集合的对象");
      }
      return;
    }
    std::string text = value.ToText();
    char32_t bad = 0;
    switch (xml::CheckXmlText(text, bad)) {
      case xml::TextCheck::InvalidUtf8: Refuse(index, path, "的文本不是有效的 UTF-8");
      case xml::TextCheck::ForbiddenChar: Refuse(index, path, "含有 XML 不能保存的字符 " + xml::CodePointText(bad));
      case xml::TextCheck::Ok: break;
    }
    Check(xmlTextWriterStartElement(w_, X(key)));
    if (!text.empty()) Check(xmlTextWriterWriteString(w_, X(text)));
    Check(xmlTextWriterEndElement(w_));
  }

  [[noreturn]] void Refuse(int index, const std::string& path, const std::string& why) {
    file_.Fail("第 " + std::to_string(index) + " 条记录的键 " + path + " " + why);
  }

  xmlTextWriter* w_;
  TempFile& file_;
  Sink& sink_;
};

[[noreturn]] void Refused(const std::string& dataFile, const std::string& why) {
  throw Error(kErrDataFile, kSource, "写数据文件 " + dataFile + " 出错：" + why);
}

// What a write checks before it touches anything; raises the refusal.
void CheckTarget(const std::string& dataFile, const std::string& elementName) {
  if (!xml::IsPlainElementName(elementName)) Refused(dataFile, "元素名 " + elementName + " 不能用作 XML 元素名");
  if (std::string problem = xml::TargetProblem(dataFile); !problem.empty()) Refused(dataFile, "目标" + problem);
}

// A data file being written: the document opened on a temporary file,
// records appended one by one, the target replaced by Finish.
class OpenFile {
 public:
  OpenFile(const std::string& dataFile, const std::string& elementName)
      : file_(dataFile), sink_{file_.fd()}, element_(X(elementName)) {
    xmlOutputBuffer* out = xmlOutputBufferCreateIO(WriteAll, CloseNothing, &sink_, nullptr);
    if (!out) file_.Fail("内存不足");
    w_.reset(xmlNewTextWriter(out));  // owns out from here
    if (!w_) {
      xmlOutputBufferClose(out);
      file_.Fail("内存不足");
    }
    rw_.emplace(w_.get(), file_, sink_);
    rw_->Check(xmlTextWriterSetIndent(w_.get(), 1));
    rw_->Check(xmlTextWriterSetIndentString(w_.get(), X("  ")));
    rw_->Check(xmlTextWriterStartDocument(w_.get(), "1.0", "UTF-8", nullptr));
    rw_->Check(xmlTextWriterStartElement(w_.get(), X(elementName + "List")));
    rw_->Check(xmlTextWriterWriteAttribute(w_.get(), X("xmlns:xsi"), X(xml::kXsiNamespace)));
  }

  // The record at the 1-based index of the file.
  void Add(const DataRecord* record, int32_t index) {
    if (!record) file_.Fail("第 " + std::to_string(index) + " 条记录是空对象");
    rw_->Check(xmlTextWriterStartElement(w_.get(), element_));
    rw_->Record(*record, index, "", 0);
    rw_->Check(xmlTextWriterEndElement(w_.get()));
  }

  void Finish() {
    rw_->Check(xmlTextWriterEndDocument(w_.get()));
    rw_->Check(xmlTextWriterFlush(w_.get()));
    w_.reset();
    if (sink_.error) file_.Fail(std::string("写入失败：") + std::strerror(sink_.error));
    file_.Commit();
  }

 private:
  TempFile file_;
  Sink sink_;
  const xmlChar* element_;  // points into the caller's name, which outlives the file
  std::unique_ptr<xmlTextWriter, WriterFree> w_;
  std::optional<RecordWriter> rw_;
};

void Write(const RecordCollection& collection, const std::string& dataFile, const std::string& elementName) {
  CheckTarget(dataFile, elementName);
  xml::EnsureInitialised();
  OpenFile file(dataFile, elementName);
  for (int32_t i = collection.LBound(); i <= collection.UBound(); ++i) file.Add(collection.Item(i).get(), i);
  file.Finish();
}

// Writes each record as it comes, so that an export holds one record at a
// time. It fails as a whole write of the same records would, with the same
// error, but only at Close: a record that fails ends the writing and the
// records after it are dropped. When the target cannot be opened at the
// start, the records are collected and Close writes them whole, checks and
// all, as OutputXML does.
class XmlRecordStream : public RecordStream {
 public:
  XmlRecordStream(const std::string& dataFile, const std::string& elementName)
      : dataFile_(dataFile), elementName_(elementName) {
    try {
      CheckTarget(dataFile_, elementName_);
      xml::EnsureInitialised();
      file_.emplace(dataFile_, elementName_);
    } catch (const Error&) {
      file_.reset();
      collected_.emplace();
    }
  }

  void Add(DataRecordPtr record) override {
    if (collected_) {
      collected_->Add(std::move(record));
      return;
    }
    if (failure_) return;
    try {
      file_->Add(record.get(), ++count_);
    } catch (const Error&) {
      failure_ = std::current_exception();
      file_.reset();
    }
  }

  void Close(std::string& errorText) override {
    try {
      if (collected_) return Write(*collected_, dataFile_, elementName_);
      // The target may have changed while the records were made.
      CheckTarget(dataFile_, elementName_);
      if (failure_) std::rethrow_exception(failure_);
      file_->Finish();
    } catch (const Error& e) {
      errorText = e.Description();
      throw;
    }
  }

 private:
  std::string dataFile_, elementName_;
  std::optional<OpenFile> file_;
  std::optional<RecordCollection> collected_;
  std::exception_ptr failure_;
  int32_t count_ = 0;
};

}  // namespace

void XmlDataFileWriter::OutputXML(RecordCollectionPtr& collection, const std::string& dataFile,
                                  const std::string& /*schemaFile*/, const std::string& elementName,
                                  std::string& errorText) {
  try {
    Write(Must(collection), dataFile, elementName);
  } catch (const Error& e) {
    errorText = e.Description();
    throw;
  }
}

std::unique_ptr<RecordStream> XmlDataFileWriter::OpenStream(const std::string& dataFile, const std::string& /*schemaFile*/,
                                                            const std::string& elementName) {
  return std::make_unique<XmlRecordStream>(dataFile, elementName);
}

}  // namespace morvent
