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

void Write(const RecordCollection& collection, const std::string& dataFile, const std::string& elementName) {
  if (!xml::IsPlainElementName(elementName))
    throw Error(kErrDataFile, kSource, "写数据文件 " + dataFile + " 出错：元素名 " + elementName + " 不能用作 XML 元素名");
  if (std::string problem = xml::TargetProblem(dataFile); !problem.empty())
    throw Error(kErrDataFile, kSource, "写数据文件 " + dataFile + " 出错：目标" + problem);
  xml::EnsureInitialised();
  TempFile file(dataFile);
  Sink sink{file.fd()};
  xmlOutputBuffer* out = xmlOutputBufferCreateIO(WriteAll, CloseNothing, &sink, nullptr);
  if (!out) file.Fail("内存不足");
  std::unique_ptr<xmlTextWriter, WriterFree> w(xmlNewTextWriter(out));  // owns out from here
  if (!w) {
    xmlOutputBufferClose(out);
    file.Fail("内存不足");
  }
  RecordWriter rw(w.get(), file, sink);
  rw.Check(xmlTextWriterSetIndent(w.get(), 1));
  rw.Check(xmlTextWriterSetIndentString(w.get(), X("  ")));
  rw.Check(xmlTextWriterStartDocument(w.get(), "1.0", "UTF-8", nullptr));
  rw.Check(xmlTextWriterStartElement(w.get(), X(elementName + "List")));
  rw.Check(xmlTextWriterWriteAttribute(w.get(), X("xmlns:xsi"), X(xml::kXsiNamespace)));
  for (int32_t i = collection.LBound(); i <= collection.UBound(); ++i) {
    auto record = collection.Item(i);
    if (!record) file.Fail("第 " + std::to_string(i) + " 条记录是空对象");
    rw.Check(xmlTextWriterStartElement(w.get(), X(elementName)));
    rw.Record(*record, i, "", 0);
    rw.Check(xmlTextWriterEndElement(w.get()));
  }
  rw.Check(xmlTextWriterEndDocument(w.get()));
  rw.Check(xmlTextWriterFlush(w.get()));
  w.reset();
  if (sink.error) file.Fail(std::string("写入失败：") + std::strerror(sink.error));
  file.Commit();
}

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

}  // namespace morvent
