#pragma once
// The data file as the reader sees it: opened without ever blocking, and
// read in a way that bounds what the parser can be made to hold.
//
// Only a regular file (or a symlink to one) is opened; a FIFO, device,
// socket or directory is refused before anything waits on it.
//
// The parser may hold a run of text (a value, whitespace, a CDATA section)
// in memory whole, and rescans an unfinished tag, comment or processing
// instruction for its end on every chunk, quadratic in its length. So a
// text run may not exceed kMaxRun bytes, nor a piece of markup kMaxMarkup:
// the read fails at that point instead of growing.
//
// Between two tags libxml2's reader builds every node before handing back
// control, so all the text, comments and instructions between two tags are
// held at once: together they may not exceed kMaxRun either. Blanks
// directly inside an element that holds only elements (after an end tag or
// an empty one, or after the start tag of a name given to
// SetElementOnly) are never a value, and in a file of an ASCII-compatible
// encoding they are not passed on at all, their line feeds aside (so lines
// still count right). The parser's memory is then bounded by the records,
// never by whitespace, comments or the file size.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace morvent::xml {

// The longest run of bytes without '<' or '>' a data file may hold; it bounds
// a single value (a 10 MB value reads).
inline constexpr size_t kMaxRun = 16u << 20;
inline constexpr const char* kMaxRunText = "16 MB";
// The longest text after a '&' without its ';': no reference a data file
// may hold is near as long (entities need a DOCTYPE, which is refused), and
// libxml2 2.9 rescans the whole rest of the text on every chunk while it
// looks for the ';', minutes for a few megabytes.
inline constexpr size_t kMaxReference = 1024;
// The longest CDATA section. libxml2 2.9 rescans a section for its end
// every time a chunk holding a '>' arrives, and takes the section on by
// 300 bytes at a time meanwhile: quadratic, 5 s for 7 MB with a '>' in every
// 2 KB, a third of a second for 2 MB. (A long value reads as plain text.)
inline constexpr size_t kMaxCdata = 2u << 20;
inline constexpr const char* kMaxCdataText = "2 MB";
// The most comments, processing instructions and CDATA sections in a row
// with no tag between: libxml2 2.9's reader keeps such runs in memory
// (hundreds of bytes each), so a flood of them would balloon.
inline constexpr size_t kMaxQuietRun = 10000;
// The most text, comments, processing instructions and CDATA sections
// between two tags is kMaxRun as well (blanks left out as above).
// The longest tag, comment or processing instruction.
inline constexpr size_t kMaxMarkup = 256u << 10;
inline constexpr const char* kMaxMarkupText = "256 KB";

// A failure already worded for the user (the whole error text).
struct InputRefused {
  std::string text;
};

class InputFile {
 public:
  // Raises InputRefused: "数据文件 X 不存在！", "数据文件 X 不是普通文件",
  // or "无法打开数据文件 X：reason".
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool Empty() const { return size_ == 0; }

  // Elements whose content is never text (the list, its records, nested
  // records and collections), so that blanks right after their start tag
  // are left out too. Names are compared whole, without a prefix.
  void SetElementOnly(std::vector<std::string> names);

  // Up to len bytes from the current position; 0 at the end, -1 on an I/O
  // error or when a limit is passed (then Overrun() tells which).
  int Read(char* buffer, int len);
  // Back to the start of the file, with the counts reset.
  void Rewind();
  // Up to len bytes at an offset, apart from the scan and the position (to
  // look at the file again when explaining an error); -1 on an I/O error.
  long ReadAt(long long offset, char* buffer, size_t len) const;

  // DoubleHyphen: "--" inside a comment, which libxml2 2.9 reports so slowly
  // (once per pair, minutes for a comment of dashes) that it is refused here.
  // QuietRun: more than kMaxQuietRun comments, processing instructions and
  // CDATA sections in a row. Stretch: more than kMaxRun of text, comments,
  // instructions and sections together between two tags. Ampersand: a '&'
  // in text without its ';' within kMaxReference bytes.
  enum class Overrun { None, Text, Cdata, Markup, DoubleHyphen, QuietRun, Stretch, Ampersand };
  Overrun Overran() const { return overrun_; }
  // The line (1-based, counting line feeds) where the overlong piece (or
  // stretch) began.
  long OverrunLine() const { return startLine_; }
  int Errno() const { return errno_; }

 private:
  // Where the scan stands: in text, just after '<' (still telling what
  // follows), in a tag, comment, processing instruction or CDATA section.
  enum class At { Text, Open, Tag, Comment, Pi, Cdata };
  bool Scan(char c);
  // Bytes of [buffer, end) handed on, compacted to the front; sets
  // overrun_ when a limit is passed there.
  size_t Take(char* buffer, const char* end);
  // Takes bytes of a start tag's name while it lasts.
  void Name(const char* p, const char* end);
  // A tag has closed: what follows stands in element content or not.
  void TagClosed(bool endOrEmpty, std::string_view name);
  // Follows the references in the text [p, stop); false (with the overrun
  // set) at a '&' whose ';' is too far.
  bool References(const char* p, const char* stop);
  // How many bytes from p on Scan would only count (nothing opens, closes
  // or ends a line), so that they can be taken in one stride.
  size_t Plain(const char* p, const char* end) const;

  int fd_ = -1;
  long long size_ = 0;
  At at_ = At::Text;
  char opened_[8] = {};  // what follows '<', while At::Open
  size_t openedLength_ = 0;
  char quote_ = 0, last_ = 0, beforeLast_ = 0;
  size_t length_ = 0;  // of the current text run or piece of markup
  size_t quiet_ = 0;   // comments, instructions and sections since the last tag
  size_t stretch_ = 0;  // bytes handed on since the last tag, tags aside
  long stretchLine_ = 1;
  bool ascii_ = false;  // an encoding whose blanks are single ASCII bytes
  bool betweenElements_ = false;  // blanks here are never a value
  size_t reference_ = 0;  // bytes since a '&' of this text run, 0: none open
  long referenceLine_ = 1;
  bool endTag_ = false;  // the tag being scanned is an end tag
  bool naming_ = false;  // still in the start tag's name
  char name_[64] = {};
  size_t nameLength_ = 0;
  std::vector<std::string> elementOnly_;
  long line_ = 1, startLine_ = 1;
  Overrun overrun_ = Overrun::None;
  int errno_ = 0;
};

}  // namespace morvent::xml
