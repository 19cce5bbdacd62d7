#include "front/exchange_log.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <libxml/xmlreader.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/error.h"
#include "platform/progdir.h"
#include "platform/text.h"

namespace morvent {

namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\n";
constexpr std::string_view kRootOpen = "<Morvent";
constexpr std::string_view kRootClose = "</Morvent>\n";
constexpr std::string_view kBom = "\xEF\xBB\xBF";
// The declaration and the root's start tag must lie within this many bytes.
constexpr size_t kHeadBytes = 4096;

[[noreturn]] void Fail(const std::string& description) { throw Error(kErrFile, "Morvent", description); }

[[noreturn]] void FailIo(const std::string& path, int err) {
  Fail("无法写入交换日志 " + path + "：" + std::strerror(err));
}

[[noreturn]] void FailDamaged(const std::string& path) {
  Fail("交换日志 " + path + " 无法载入或格式不符，原文件保留未改");
}

// A log that breaks the rule of exchange_log.h, with the part it breaks.
struct Unsound {
  std::string reason;
};

constexpr const char* kBadHead = "开头须是 XML 声明，随后直接是没有属性的根元素 Morvent";
constexpr const char* kBadEncoding =
    "XML 声明中的编码须是 UTF-8、GB2312、GBK、GB18030、EUC-CN、ISO-8859-1 或 ASCII 之一";
constexpr const char* kBadTail = "根元素 Morvent 结束后不能再有内容";
constexpr const char* kCutTail = "最后一个条目不完整（写入时被中断），下一次写入时会被截去";
[[noreturn]] void Fails(const char* reason) { throw Unsound{reason}; }

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

// Keeps other processes out while this one appends. The lock lives on a
// file of its own: a new log appears by rename, and a lock on the file it
// replaced would guard nothing.
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

std::string CharRef(uint32_t cp) { return "&#" + std::to_string(cp) + ";"; }

// An attribute value in UTF-8 with every markup character escaped, so that
// "<" and ">" in the log only ever delimit elements (the tail repair relies
// on it). Bytes that are not UTF-8 and characters XML cannot carry become
// U+FFFD: written raw they would leave a log no parser accepts.
std::string AttrValue(std::string_view s) {
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(s.size() + 16);
  size_t i = 0;
  while (i < s.size()) {
    size_t len = Utf8SequenceLength(s.substr(i));
    if (len == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    uint32_t cp = DecodeUtf8(s.substr(i, len));
    switch (cp) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\t':
      case '\n':
      case '\r': out += CharRef(cp); break;
      default:
        if (XmlAllows(cp))
          out.append(s.substr(i, len));
        else
          out += kReplacement;
    }
    i += len;
  }
  return out;
}

std::string EntryText(bool bExport, const std::string& sErrMsg) {
  return "<ErrLog Direct=\"" + std::string(bExport ? kDirectExport : kDirectImport) + "\" Time=\"" + TimeOfNow() +
         "\" ErrMsg=\"" + AttrValue(sErrMsg) + "\"/>";
}

// How new text must be encoded to match the bytes already in the log.
struct Charset {
  enum Kind { Utf8, Ascii, Converted } kind = Utf8;
  std::string name;  // for Converted
};

// Encodings whose multi-byte characters never contain the bytes of "<",
// ">" or "/", so the log can be scanned from its end byte by byte.
std::optional<Charset> CharsetOf(std::string_view declared, bool bom) {
  const std::string name = ToUpperAscii(declared);
  if (name.empty() || name == "UTF-8" || name == "UTF8") return Charset{Charset::Utf8, ""};
  // A byte-order mark says UTF-8 and the declaration says otherwise: parsers
  // disagree on which wins, so add only ASCII, which reads alike either way.
  if (bom) return Charset{Charset::Ascii, ""};
  if (name == "US-ASCII" || name == "ASCII") return Charset{Charset::Ascii, ""};
  for (const char* known : {"GB2312", "GBK", "GB18030", "EUC-CN", "ISO-8859-1", "LATIN1"})
    if (name == known) return Charset{Charset::Converted, name};
  return std::nullopt;
}

// Characters the encoding lacks become character references.
std::string Encode(const std::string& utf8, const Charset& cs, const std::string& path) {
  if (cs.kind == Charset::Utf8) return utf8;
  std::string out;
  if (cs.kind == Charset::Ascii) {
    for (size_t i = 0; i < utf8.size();) {
      size_t len = Utf8SequenceLength(std::string_view(utf8).substr(i));
      len = std::max<size_t>(1, len);
      if (len == 1)
        out += utf8[i];
      else
        out += CharRef(DecodeUtf8(std::string_view(utf8).substr(i, len)));
      i += len;
    }
    return out;
  }
  iconv_t cd = iconv_open(cs.name.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) Fail("无法写入交换日志 " + path + "：没有 " + cs.name + " 编码转换");
  std::string in = utf8;
  char* ip = in.data();
  size_t il = in.size();
  out.resize(in.size() * 2 + 16);
  size_t used = 0;
  while (il > 0) {
    char* op = out.data() + used;
    size_t ol = out.size() - used;
    size_t rc = iconv(cd, &ip, &il, &op, &ol);
    used = out.size() - ol;
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
    } else {
      // Well-formed by construction, so only an unconvertible character.
      size_t len = std::max<size_t>(1, Utf8SequenceLength(std::string_view(ip, il)));
      std::string ref = CharRef(DecodeUtf8(std::string_view(ip, len)));
      if (out.size() - used < ref.size()) out.resize(out.size() * 2 + ref.size());
      out.replace(used, ref.size(), ref);
      used += ref.size();
      ip += len;
      il -= len;
    }
  }
  iconv_close(cd);
  out.resize(used);
  return out;
}

void ReadAt(int fd, std::string& buf, off_t offset, const std::string& path) {
  size_t done = 0;
  while (done < buf.size()) {
    ssize_t n = ::pread(fd, buf.data() + done, buf.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) FailIo(path, errno);
    if (n == 0) FailDamaged(path);  // shrank under us: someone writes without the lock
    done += static_cast<size_t>(n);
  }
}

// 0, or the error that stopped the write.
int WriteAt(int fd, std::string_view bytes, off_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
size_t SkipSpace(std::string_view s, size_t i) {
  while (i < s.size() && IsSpace(s[i])) ++i;
  return i;
}

// What the start of the log says: its encoding and where the root begins.
struct Head {
  Charset charset;
  off_t rootStart = 0;   // offset of "<Morvent"
  off_t rootEnd = 0;     // just after its start tag
  bool emptyRoot = false;  // "<Morvent/>"
  std::string bytes;     // what was read
};

// Only a declaration, then directly the root "Morvent" without attributes:
// anything else (a document type, a comment, a namespace) is not a log this
// writer extends.
Head ReadHead(int fd, off_t size, const std::string& path) {
  Head h;
  h.bytes.resize(static_cast<size_t>(std::min<off_t>(size, kHeadBytes)));
  ReadAt(fd, h.bytes, 0, path);
  std::string_view s = h.bytes;
  bool bom = s.substr(0, kBom.size()) == kBom;
  size_t i = bom ? kBom.size() : 0;
  if (s.substr(i, 5) != "<?xml" || i + 5 >= s.size() || !IsSpace(s[i + 5])) Fails(kBadHead);
  size_t declEnd = s.find("?>", i);
  if (declEnd == std::string_view::npos) Fails(kBadHead);
  std::string_view decl = s.substr(i, declEnd - i);
  std::string_view encoding;
  if (size_t e = decl.find("encoding"); e != std::string_view::npos) {
    size_t q = SkipSpace(decl, e + 8);
    if (q >= decl.size() || decl[q] != '=') Fails(kBadHead);
    q = SkipSpace(decl, q + 1);
    if (q >= decl.size() || (decl[q] != '"' && decl[q] != '\'')) Fails(kBadHead);
    size_t close = decl.find(decl[q], q + 1);
    if (close == std::string_view::npos) Fails(kBadHead);
    encoding = decl.substr(q + 1, close - q - 1);
  }
  auto charset = CharsetOf(encoding, bom);
  if (!charset) Fails(kBadEncoding);
  h.charset = *charset;
  i = SkipSpace(s, declEnd + 2);
  if (s.substr(i, kRootOpen.size()) != kRootOpen) Fails(kBadHead);
  h.rootStart = static_cast<off_t>(i);
  size_t j = SkipSpace(s, i + kRootOpen.size());
  if (j == i + kRootOpen.size() && j < s.size() && s[j] != '>' && s[j] != '/') Fails(kBadHead);  // <MorventX
  if (s.substr(j, 1) == ">") {
    h.rootEnd = static_cast<off_t>(j + 1);
  } else if (s.substr(j, 2) == "/>") {
    h.emptyRoot = true;
    h.rootEnd = static_cast<off_t>(j + 2);
    // An empty root must end the file, and the file must lie in the head.
    if (static_cast<off_t>(s.size()) != size || SkipSpace(s, j + 2) != s.size()) Fails(kBadTail);
  } else {
    Fails(kBadHead);
  }
  return h;
}

// "<ErrLog a="..." b='...'/>" with well-formed attributes.
bool IsWholeEntry(std::string_view e) {
  constexpr std::string_view kOpen = "<ErrLog";
  if (e.substr(0, kOpen.size()) != kOpen || e.size() < kOpen.size() + 2) return false;
  if (e.substr(e.size() - 2) != "/>") return false;
  std::string_view body = e.substr(kOpen.size(), e.size() - kOpen.size() - 2);
  size_t i = 0;
  while (true) {
    size_t k = SkipSpace(body, i);
    if (k == body.size()) return true;
    if (k == i) return false;  // attributes need blanks between them
    size_t eq = body.find('=', k);
    if (eq == std::string_view::npos) return false;
    std::string_view name = body.substr(k, eq - k);
    while (!name.empty() && IsSpace(name.back())) name.remove_suffix(1);
    if (name.empty() || name.find_first_of(" \t\r\n/\"'<>") != std::string_view::npos) return false;
    size_t q = SkipSpace(body, eq + 1);
    if (q >= body.size() || (body[q] != '"' && body[q] != '\'')) return false;
    size_t close = body.find(body[q], q + 1);
    if (close == std::string_view::npos || body.substr(q, close - q).find('<') != std::string_view::npos)
      return false;
    i = close + 1;
  }
}

// What follows the last whole element when a writer was killed mid-entry:
// a start of "<ErrLog ..." or of "</Morvent", or (after a crash of the
// machine) bytes never written.
bool IsCutTail(std::string_view rest) {
  size_t i = SkipSpace(rest, 0);
  std::string_view s = rest.substr(i);
  if (s.empty() || s.find_first_not_of('\0') == std::string_view::npos) return true;
  if (s[0] != '<') return false;
  s.remove_prefix(1);
  if (s.find('<') != std::string_view::npos) return false;
  auto startsEither = [&s](std::string_view name) {
    if (s.size() <= name.size()) return name.substr(0, s.size()) == s;
    return s.substr(0, name.size()) == name && IsSpace(s[name.size()]);
  };
  if (startsEither("ErrLog")) return true;
  return startsEither("/Morvent") && (s.size() <= 8 || SkipSpace(s, 8) == s.size());
}

// Where a new entry goes, and what it replaces.
struct Splice {
  off_t at = 0;
  bool afterElement = false;  // at the end of a whole element: start a new line
};

// Works back from the end only as far as the last element, so the cost
// depends on the last entry, not on the log.
Splice FindSplice(int fd, off_t size, const Head& head, const std::string& path) {
  std::string tail;
  off_t from = size;
  size_t gt = std::string::npos, lt = std::string::npos;
  while (true) {
    off_t chunk = std::min<off_t>(from - head.rootStart, std::max<off_t>(kHeadBytes, static_cast<off_t>(tail.size())));
    from -= chunk;
    std::string more(static_cast<size_t>(chunk), '\0');
    ReadAt(fd, more, from, path);
    tail.insert(0, more);
    gt = tail.rfind('>');
    if (gt != std::string::npos) lt = tail.rfind('<', gt);
    if (lt != std::string::npos || from == head.rootStart) break;
  }
  if (lt == std::string::npos) Fails(kBadHead);
  std::string_view t = tail;
  std::string_view element = t.substr(lt, gt - lt + 1);
  std::string_view rest = t.substr(gt + 1);
  const off_t ltAt = from + static_cast<off_t>(lt);
  if (element.substr(0, 9) == "</Morvent" && SkipSpace(element, 9) == element.size() - 1) {
    if (SkipSpace(rest, 0) != rest.size()) Fails(kBadTail);
    return {ltAt, false};
  }
  const bool rootTag = ltAt == head.rootStart && from + static_cast<off_t>(gt) + 1 == head.rootEnd;
  bool whole = rootTag || IsWholeEntry(element) ||
               (element.substr(0, 8) == "</ErrLog" && SkipSpace(element, 8) == element.size() - 1);
  if (!whole || !IsCutTail(rest)) Fails(kBadTail);
  return {from + static_cast<off_t>(gt + 1), true};
}

// Replaces everything from `at` to the end with `bytes`. The file is cut
// first, so a writer killed at any moment leaves whole entries followed by
// a start of the new one, which the next append cuts away again. A failed
// write puts back what was there.
void SpliceInto(int fd, off_t size, off_t at, std::string_view bytes, const std::string& path) {
  std::string old(static_cast<size_t>(size - at), '\0');
  ReadAt(fd, old, at, path);
  if (::ftruncate(fd, at) != 0) FailIo(path, errno);
  const int err = WriteAt(fd, bytes, at);
  if (err == 0) return;
  if (::ftruncate(fd, at) == 0) WriteAt(fd, old, at);
  FailIo(path, err);
}

// Writes beside the log and renames over it: used only when the log is new
// or holds no entry yet, so it appears whole or not at all. The side file
// has a fixed name (the lock is held), so one left by a killed writer is
// simply reused by the next.
void ReplaceFile(const std::string& path, const std::string& content) {
  const std::string temp = path + ".new";
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (fd.get() < 0) FailIo(path, errno);
  auto fail = [&](int err) {
    fd.Close();
    ::unlink(temp.c_str());
    FailIo(path, err);
  };
  if (int err = WriteAt(fd.get(), content, 0)) fail(err);
  if (::fsync(fd.get()) != 0) fail(errno);
  if (fd.Close() != 0) fail(errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    FailIo(path, err);
  }
}

void AppendEntry(const std::string& path, const std::string& entry) {
  Fd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0 && errno == ENOENT) {
    ReplaceFile(path, std::string(kDeclaration) + "<Morvent>\n  " +
                          Encode(entry, Charset{Charset::Converted, "GB2312"}, path) + "\n" + std::string(kRootClose));
    return;
  }
  if (fd.get() < 0) FailIo(path, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) FailIo(path, errno);
  if (!S_ISREG(st.st_mode)) FailDamaged(path);
  Head head;
  Splice splice;
  try {
    head = ReadHead(fd.get(), st.st_size, path);
    if (!head.emptyRoot) splice = FindSplice(fd.get(), st.st_size, head, path);
  } catch (const Unsound&) {
    FailDamaged(path);
  }
  const std::string encoded = Encode(entry, head.charset, path);
  if (head.emptyRoot) {
    ReplaceFile(path, head.bytes.substr(0, static_cast<size_t>(head.rootStart)) + "<Morvent>\n  " + encoded + "\n" +
                          std::string(kRootClose));
    return;
  }
  std::string bytes = (splice.afterElement ? "\n  " : "  ") + encoded + "\n" + std::string(kRootClose);
  SpliceInto(fd.get(), st.st_size, splice.at, bytes, path);
}

// The whole log through libxml2's reader, as any consumer would see it.
class LogParser {
 public:
  explicit LogParser(const std::string& path)
      : reader_(xmlReaderForFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING)) {
    if (reader_) xmlTextReaderSetStructuredErrorHandler(reader_, &LogParser::Keep, this);
  }
  ~LogParser() {
    if (reader_) xmlFreeTextReader(reader_);
  }
  LogParser(const LogParser&) = delete;
  LogParser& operator=(const LogParser&) = delete;

  // Hands on each entry; answers what breaks the rule, "" when nothing does.
  std::string Entries(const std::function<bool(const LogEntry&)>& each) {
    if (!reader_) return "无法打开";
    bool root = false;
    int rc = xmlTextReaderRead(reader_);
    while (rc == 1) {
      const int type = xmlTextReaderNodeType(reader_);
      if (type == XML_READER_TYPE_DOCUMENT_TYPE) return "日志中不能有文档类型声明";
      if (type != XML_READER_TYPE_ELEMENT) {
        rc = xmlTextReaderRead(reader_);
        continue;
      }
      const std::string name = reinterpret_cast<const char*>(xmlTextReaderConstName(reader_));
      if (!root) {
        if (name != "Morvent") return "根元素应为 Morvent，而不是 " + name;
        root = true;
        rc = xmlTextReaderRead(reader_);
        continue;
      }
      // Whatever else the root holds is someone else's: passed over whole.
      if (name == "ErrLog" && xmlTextReaderDepth(reader_) == 1 &&
          !each(LogEntry{Attribute("Time"), Attribute("Direct"), Attribute("ErrMsg")}))
        return "";
      rc = xmlTextReaderNext(reader_);
    }
    if (rc < 0) return "第 " + std::to_string(line_) + " 行：" + (error_.empty() ? "无法解析" : error_);
    return root ? "" : "文件中没有日志内容";
  }

 private:
  static void Keep(void* self, xmlErrorPtr e) {
    auto* p = static_cast<LogParser*>(self);
    if (!p->error_.empty() || !e || e->level < XML_ERR_ERROR) return;
    p->line_ = e->line;
    p->error_ = e->message ? e->message : "";
    while (!p->error_.empty() && (p->error_.back() == '\n' || p->error_.back() == ' ')) p->error_.pop_back();
  }
  std::string Attribute(const char* name) {
    xmlChar* v = xmlTextReaderGetAttribute(reader_, reinterpret_cast<const xmlChar*>(name));
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
  }

  xmlTextReader* reader_;
  std::string error_;
  int line_ = 0;
};

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}
DiagnosticSink& InstalledSink() {
  static DiagnosticSink sink;
  return sink;
}

}  // namespace

namespace {
// The user's state folder stands in for a program directory this process
// may not write, so that an installed tool run by anyone keeps its log. A
// folder that is not there at all is a mistake to report, not to go around.
std::string LogDirectory() {
  const std::string program = ProgramDirectory();
  std::error_code ec;
  if (!std::filesystem::is_directory(program, ec) || FolderWritable(program)) return program;
  const std::string state = StateDirectory();
  return state.empty() ? program : state;
}

// Each missing folder is made private to the user, as the XDG rules ask.
void MakeFolders(const std::filesystem::path& dir) {
  std::error_code ec;
  if (dir.empty() || std::filesystem::is_directory(dir, ec)) return;
  MakeFolders(dir.parent_path());
  ::mkdir(dir.c_str(), 0700);
}

// Made on the first write; said once per process.
void PrepareLogDirectory(const std::string& dir) {
  const std::string program = ProgramDirectory();
  if (dir == program) return;
  MakeFolders(std::filesystem::path(dir).lexically_normal());
  static std::once_flag said;
  std::call_once(said, [&] { ReportDiagnostic("程序目录 " + program + " 不可写，交换日志改写在 " + dir + " 中"); });
}
}  // namespace

std::string ExchangeLogPath() { return JoinPath(LogDirectory(), kLogFileName); }

void WriteErrLog(bool bExport, const std::string& sErrMsg) {
  const std::string dir = LogDirectory();
  const std::string path = JoinPath(dir, kLogFileName);
  PrepareLogDirectory(dir);
  std::lock_guard threads(WriterMutex());
  ProcessLock processes(path);
  AppendEntry(path, EntryText(bExport, sErrMsg));
}

std::string ReadExchangeLog(const std::string& path, const std::function<bool(const LogEntry&)>& each) {
  bool stopped = false;
  std::string damage = LogParser(path).Entries([&](const LogEntry& e) {
    stopped = !each(e);
    return !stopped;
  });
  if (!damage.empty() || stopped) return damage;
  // Well-formed: it must still start and end as the writer needs it to.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return std::strerror(errno);
  try {
    const Head head = ReadHead(fd.get(), st.st_size, path);
    if (!head.emptyRoot && FindSplice(fd.get(), st.st_size, head, path).afterElement) return kCutTail;
  } catch (const Unsound& u) {
    return u.reason;
  } catch (const Error& e) {
    return e.Description();
  }
  return "";
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
