#include "front/exchange_log.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>

#include "platform/error.h"
#include "platform/progdir.h"
#include "platform/text.h"

namespace morvent {

namespace {

// Written by hand: the parser never reports the declaration as a node, and
// its own would lack the blank before "?>".
constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n";
constexpr const char* kRoot = "Morvent";
constexpr const char* kEntry = "ErrLog";

[[noreturn]] void Fail(const std::string& description) { throw Error(kErrFile, "Morvent", description); }

[[noreturn]] void FailIo(const std::string& path, int err) {
  Fail("无法写入交换日志 " + path + "：" + std::strerror(err));
}

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

struct CtxtFree {
  void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
};

// Holds an open descriptor and closes it once.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Close() {
    int rc = 0;
    if (fd_ >= 0) rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

std::mutex& WriterMutex() {
  static std::mutex m;
  return m;
}

// Keeps other processes out while this one loads, appends and replaces the
// log. The lock lives on a file of its own because the log is replaced by
// rename, which would leave a lock on the old file meaningless.
class ProcessLock {
 public:
  explicit ProcessLock(const std::string& logPath) {
    const std::string lockPath = logPath + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd_ < 0) FailIo(logPath, errno);
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd_);
      FailIo(logPath, err);
    }
  }
  ~ProcessLock() {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;

 private:
  int fd_ = -1;
};

std::string TimeOfNow() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  return buf;
}

// Code points XML cannot carry at all, not even as character references.
bool XmlAllows(uint32_t cp) {
  if (cp < 0x20) return cp == 0x09 || cp == 0x0A || cp == 0x0D;
  if (cp >= 0xD800 && cp <= 0xDFFF) return false;
  return cp != 0xFFFE && cp != 0xFFFF;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// A message with bytes that are not UTF-8, or with control characters, would
// be written raw and leave a log no parser accepts; those become U+FFFD.
std::string XmlSafe(std::string_view s) {
  constexpr uint32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    size_t len = Utf8SequenceLength(s.substr(i));
    if (len == 0) {
      AppendUtf8(out, kReplacement);
      ++i;
      continue;
    }
    uint32_t cp = DecodeUtf8(s.substr(i, len));
    if (XmlAllows(cp))
      out.append(s.substr(i, len));
    else
      AppendUtf8(out, kReplacement);
    i += len;
  }
  return out;
}

void RefuseDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxt*>(ctx);
  ctxt->wellFormed = 0;
  xmlStopParser(ctxt);
}

// Whether the bytes start with an XML declaration.
bool StartsWithDeclaration(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char head[6] = {};
  size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (n < 6 || std::memcmp(head, "<?xml", 5) != 0) return false;
  return head[5] == ' ' || head[5] == '\t' || head[5] == '\r' || head[5] == '\n';
}

// Loads the existing log, or raises: a log that is not ours in the expected
// shape is left exactly as it is.
DocPtr LoadLog(const std::string& path) {
  auto damaged = [&path]() { Fail("交换日志 " + path + " 无法载入或格式不符，原文件保留未改"); };
  if (!StartsWithDeclaration(path)) damaged();
  std::unique_ptr<xmlParserCtxt, CtxtFree> ctxt(xmlNewParserCtxt());
  if (!ctxt) throw std::bad_alloc();
  ctxt->sax->internalSubset = RefuseDoctype;
  DocPtr doc(xmlCtxtReadFile(ctxt.get(), path.c_str(), nullptr,
                             XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc || !ctxt->wellFormed || doc->intSubset || doc->extSubset) damaged();
  // The root must follow the declaration directly.
  xmlNode* first = doc->children;
  if (!first || first->type != XML_ELEMENT_NODE || first->ns ||
      xmlStrcmp(first->name, BAD_CAST kRoot) != 0)
    damaged();
  return doc;
}

DocPtr NewLog() {
  DocPtr doc(xmlNewDoc(BAD_CAST "1.0"));
  if (!doc) throw std::bad_alloc();
  xmlNode* root = xmlNewDocNode(doc.get(), nullptr, BAD_CAST kRoot, nullptr);
  if (!root) throw std::bad_alloc();
  xmlDocSetRootElement(doc.get(), root);
  return doc;
}

std::string Serialize(xmlDoc* doc, const std::string& path) {
  xmlBuffer* buf = xmlBufferCreate();
  if (!buf) throw std::bad_alloc();
  std::unique_ptr<xmlBuffer, void (*)(xmlBuffer*)> holder(buf, xmlBufferFree);
  // A character GB2312 lacks comes out as a character reference.
  xmlSaveCtxt* save = xmlSaveToBuffer(buf, "GB2312", XML_SAVE_NO_DECL | XML_SAVE_FORMAT);
  if (!save) Fail("无法写入交换日志 " + path + "：没有 GB2312 编码转换");
  long rc = xmlSaveDoc(save, doc);
  if (xmlSaveClose(save) < 0 || rc < 0) Fail("无法写入交换日志 " + path + "：保存文档失败");
  std::string out = kDeclaration;
  out.append(reinterpret_cast<const char*>(xmlBufferContent(buf)), static_cast<size_t>(xmlBufferLength(buf)));
  return out;
}

// Writes beside the log and renames over it, so the log is always either
// the old file or the new one, never a half-written one.
void ReplaceFile(const std::string& path, const std::string& content) {
  static std::atomic<unsigned> serial{0};
  const std::string temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(serial++);
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (fd.get() < 0) FailIo(path, errno);
  auto fail = [&](int err) {
    fd.Close();
    ::unlink(temp.c_str());
    FailIo(path, err);
  };
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd.get(), content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd.get()) != 0) fail(errno);
  if (fd.Close() != 0) fail(errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    FailIo(path, err);
  }
}

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}
DiagnosticSink& InstalledSink() {
  static DiagnosticSink sink;
  return sink;
}

}  // namespace

void WriteErrLog(bool bExport, const std::string& sErrMsg) {
  static std::once_flag init;
  std::call_once(init, [] { xmlInitParser(); });

  const std::string path = JoinPath(ProgramDirectory(), kLogFileName);
  std::lock_guard threads(WriterMutex());
  ProcessLock processes(path);

  DocPtr doc = FileExist(path) ? LoadLog(path) : NewLog();
  xmlNode* entry = xmlNewDocNode(doc.get(), nullptr, BAD_CAST kEntry, nullptr);
  if (!entry) throw std::bad_alloc();
  xmlAddChild(xmlDocGetRootElement(doc.get()), entry);
  const std::string message = XmlSafe(sErrMsg);
  xmlSetProp(entry, BAD_CAST "Direct", BAD_CAST(bExport ? kDirectExport : kDirectImport));
  xmlSetProp(entry, BAD_CAST "Time", BAD_CAST TimeOfNow().c_str());
  xmlSetProp(entry, BAD_CAST "ErrMsg", BAD_CAST message.c_str());
  ReplaceFile(path, Serialize(doc.get(), path));
}

DiagnosticSink SetDiagnosticSink(DiagnosticSink sink) {
  std::lock_guard lock(SinkMutex());
  DiagnosticSink previous = std::move(InstalledSink());
  InstalledSink() = std::move(sink);
  return previous;
}

void ReportDiagnostic(const std::string& message) {
  std::lock_guard lock(SinkMutex());
  if (InstalledSink()) {
    InstalledSink()(message);
    return;
  }
  std::cerr << "[" << "Morvent" << "] " << message << std::endl;
}

}  // namespace morvent
