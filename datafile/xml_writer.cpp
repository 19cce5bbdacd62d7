#include "datafile/xml_writer.h"

#include <fcntl.h>
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
    xml::RemoveStaleTemps(dir_);
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
  void OpenNamed() {
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = xml::TempNameBeside(real_);
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) path_.clear();
  }

  void LinkUnnamed() {
    std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = xml::TempNameBeside(real_);
      if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
          ::linkat(fd_, "", AT_FDCWD, path_.c_str(), AT_EMPTY_PATH) == 0)
        return;
      if (errno != EEXIST) break;
    }
    int error = errno;
    path_.clear();
    Fail(std::string("无法在 ") + dir_ + " 中保存临时文件：" + std::strerror(error));
  }

  std::string target_, real_, dir_, path_;
  int fd_ = -1;
  bool committed_ = false;
};

// The document's text as libxml2's text writer makes it with an indent of
// two spaces, byte for byte, so files stay what they were; made directly
// into a buffer that goes to the file in large pieces, which costs a small
// part of what the general writer's calls did per element.
class XmlText {
 public:
  explicit XmlText(TempFile& file) : file_(file) {}

  void Declaration() { Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"); }

  // "<name", after closing the open start tag of its parent.
  void Start(std::string_view name) {
    if (open_) Put(">\n");
    Indent(depth_);
    Put("<");
    Put(name);
    ++depth_;
    open_ = true;
  }

  // An attribute of the element just started; the value needs no escaping.
  void Attribute(std::string_view name, std::string_view value) {
    Put(" ");
    Put(name);
    Put("=\"");
    Put(value);
    Put("\"");
  }

  // Element content: < > & " and carriage returns as references.
  void Text(std::string_view text) {
    if (open_) Put(">");
    open_ = false;
    indentEnd_ = false;
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      const char* ref;
      switch (text[i]) {
        case '<': ref = "&lt;"; break;
        case '>': ref = "&gt;"; break;
        case '&': ref = "&amp;"; break;
        case '"': ref = "&quot;"; break;
        case '\r': ref = "&#13;"; break;
        default: continue;
      }
      Put(text.substr(from, i - from));
      Put(ref);
      from = i + 1;
    }
    Put(text.substr(from));
  }

  // Closes the innermost element: "/>" when it holds nothing, its end tag
  // on its own line when it holds elements.
  void End(std::string_view name) {
    --depth_;
    if (open_) {
      Put("/>\n");
    } else {
      if (indentEnd_) Indent(depth_);
      Put("</");
      Put(name);
      Put(">\n");
    }
    open_ = false;
    indentEnd_ = true;
  }

  void Flush() {
    Drain(buf_.get(), used_);
    used_ = 0;
  }

 private:
  static constexpr size_t kChunk = 64 * 1024;

  void Put(std::string_view s) {
    if (s.size() > kChunk - used_) {
      Flush();
      if (s.size() > kChunk) return Drain(s.data(), s.size());
    }
    std::memcpy(buf_.get() + used_, s.data(), s.size());
    used_ += s.size();
  }
  void Indent(int levels) {
    for (int i = 0; i < levels; ++i) Put("  ");
  }
  void Drain(const char* p, size_t left) {
    while (left > 0) {
      ssize_t n = ::write(file_.fd(), p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        file_.Fail(std::string("写入失败：") + std::strerror(errno));
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
  }

  TempFile& file_;
  std::unique_ptr<char[]> buf_ = std::make_unique<char[]>(kChunk);
  size_t used_ = 0;
  int depth_ = 0;
  bool open_ = false;       // the last start tag still lacks its ">"
  bool indentEnd_ = false;  // the element being closed holds elements, not text
};

class RecordWriter {
 public:
  RecordWriter(XmlText& out, TempFile& file) : out_(out), file_(file) {}

  // The keys of the record; path names the record within the file's record
  // for a refusal ("" at the top).
  void Record(const DataRecord& record, int index, const std::string& path, int depth) {
    if (depth > kMaxDepth) Refuse(index, path, "嵌套超过 " + std::to_string(kMaxDepth) + " 层（记录是否包含了自身？）");
    for (const auto& [key, value] : record.Entries()) {
      if (!xml::IsPlainElementName(key)) Refuse(index, Join(path, key), "不能用作 XML 元素名");
      Value(key, value, index, path, depth);
    }
  }

 private:
  static std::string Join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "/" + key;
  }

  void Value(const std::string& key, const Variant& value, int index, const std::string& path, int depth) {
    if (value.IsNull()) {
      out_.Start(key);
      out_.Attribute("xsi:nil", "true");
      out_.End(key);
      return;
    }
    if (value.IsObject()) {
      if (auto nested = value.As<DataRecord>()) {
        out_.Start(key);
        Record(*nested, index, Join(path, key), depth + 1);
        out_.End(key);
      } else if (auto list = value.As<RecordCollection>()) {
        out_.Start(key);
        for (int32_t i = list->LBound(); i <= list->UBound(); ++i) {
          std::string itemPath = Join(path, key) + "/Record[" + std::to_string(i) + "]";
          auto item = list->Item(i);
          if (!item) Refuse(index, itemPath, "是空对象");
          out_.Start("Record");
          Record(*item, index, itemPath, depth + 1);
          out_.End("Record");
        }
        out_.End(key);
      } else {
        Refuse(index, Join(path, key), "的值是既非记录也非记录集合的对象");
      }
      return;
    }
    std::string converted;
    const std::string& text = value.IsText() ? value.RawText() : (converted = value.ToText());
    char32_t bad = 0;
    switch (xml::CheckXmlText(text, bad)) {
      case xml::TextCheck::InvalidUtf8: Refuse(index, Join(path, key), "的文本不是有效的 UTF-8");
      case xml::TextCheck::ForbiddenChar: Refuse(index, Join(path, key), "含有 XML 不能保存的字符 " + xml::CodePointText(bad));
      case xml::TextCheck::Ok: break;
    }
    out_.Start(key);
    if (!text.empty()) out_.Text(text);
    out_.End(key);
  }

  [[noreturn]] void Refuse(int index, const std::string& path, const std::string& why) {
    file_.Fail("第 " + std::to_string(index) + " 条记录的键 " + path + " " + why);
  }

  XmlText& out_;
  TempFile& file_;
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
      : file_(dataFile), out_(file_), rw_(out_, file_), element_(elementName) {
    out_.Declaration();
    out_.Start(element_ + "List");
    out_.Attribute("xmlns:xsi", xml::kXsiNamespace);
  }

  // The record at the 1-based index of the file.
  void Add(const DataRecord* record, int32_t index) {
    if (!record) file_.Fail("第 " + std::to_string(index) + " 条记录是空对象");
    out_.Start(element_);
    rw_.Record(*record, index, "", 0);
    out_.End(element_);
  }

  void Finish() {
    out_.End(element_ + "List");
    out_.Flush();
    file_.Commit();
  }

 private:
  TempFile file_;
  XmlText out_;
  RecordWriter rw_;
  std::string element_;
};

void Write(const RecordCollection& collection, const std::string& dataFile, const std::string& elementName) {
  CheckTarget(dataFile, elementName);
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
