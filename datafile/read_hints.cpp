#include "datafile/read_hints.h"

#include <iconv.h>
#include <libxml/parser.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <vector>

#include "platform/text.h"

namespace morvent::xml {

namespace {

std::string ParserSaid(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return "（解析器原文：" + text + "）";
}

// The name in libxml2's "Element 'X': ..." and "Entity 'X' ..." texts.
std::string Quoted(const std::string& text) {
  auto b = text.find('\'');
  auto e = b == std::string::npos ? b : text.find('\'', b + 1);
  return e == std::string::npos ? "" : text.substr(b + 1, e - b - 1);
}

// ---- GBK read as UTF-8 ----

// Where the first byte sequence that is not UTF-8 starts (and its line),
// looking no further than line `upTo`.
bool FindNonUtf8(const InputFile& file, long upTo, long long& at, long& line) {
  static constexpr size_t kBlock = 1 << 16;
  std::vector<char> buf(kBlock);
  line = 1;
  for (long long pos = 0;;) {
    long n = file.ReadAt(pos, buf.data(), kBlock);
    if (n <= 0) return false;
    std::string_view block(buf.data(), static_cast<size_t>(n));
    bool last = block.size() < kBlock;
    size_t i = 0;
    while (i < block.size() && (last || block.size() - i >= 4)) {  // a sequence may go on in the next block
      auto c = static_cast<unsigned char>(block[i]);
      if (c < 0x80) {
        if (c == '\n' && ++line > upTo) return false;
        ++i;
        continue;
      }
      size_t len = Utf8SequenceLength(block.substr(i));
      if (len == 0) {
        at = pos + static_cast<long long>(i);
        return true;
      }
      i += len;
    }
    if (last) return false;
    pos += static_cast<long long>(i);
  }
}

enum class Declared { Utf8, Nothing, Other };

Declared DeclaredEncoding(const InputFile& file) {
  char buf[512];
  long n = file.ReadAt(0, buf, sizeof buf);
  std::string_view head(buf, n > 0 ? static_cast<size_t>(n) : 0);
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  if (!head.starts_with("<?xml")) return Declared::Nothing;
  head = head.substr(0, head.find("?>"));
  auto e = head.find("encoding");
  if (e == std::string_view::npos) return Declared::Nothing;
  auto q = head.find_first_of("\"'", e);
  auto q2 = q == std::string_view::npos ? q : head.find(head[q], q + 1);
  if (q2 == std::string_view::npos) return Declared::Other;
  std::string_view value = head.substr(q + 1, q2 - q - 1);
  return EqualsNoCase(value, "UTF-8") || EqualsNoCase(value, "UTF8") ? Declared::Utf8 : Declared::Other;
}

std::string Gbk(const xmlError& e, const std::string&, const InputFile& file) {
  Declared declared = DeclaredEncoding(file);
  long long at = 0;
  long line = 0;
  if (declared == Declared::Other || !FindNonUtf8(file, e.line, at, line) || line != e.line) return "";
  char buf[32];
  long n = file.ReadAt(at, buf, sizeof buf);
  std::string_view window(buf, n > 0 ? static_cast<size_t>(n) : 0);
  window = window.substr(0, window.find_first_of("<&\r\n"));
  if (!LooksLikeGbk(window)) return "";
  return declared == Declared::Utf8
             ? "文件声明为 UTF-8，内容却像 GBK 编码：请把第一行的声明改为 encoding=\"GBK\"，或用编辑器把文件另存为 UTF-8"
             : "文件没有声明编码，按 UTF-8 读取，内容却像 GBK 编码：请在文件开头加上 "
               "<?xml version=\"1.0\" encoding=\"GBK\"?>，或用编辑器把文件另存为 UTF-8";
}

// ---- "&" ----

std::string BareAmpersand(const xmlError& e, const std::string& text, const InputFile&) {
  // The same code stands for a missing element name after "<".
  if (e.code == XML_ERR_NAME_REQUIRED && !text.starts_with("xmlParseEntityRef")) return "";
  return kBareAmpersandText;
}

std::string UnknownEntity(const xmlError&, const std::string& text, const InputFile&) {
  std::string name = Quoted(text);
  if (name.empty()) return "";
  return "“&" + name + ";”不是 XML 认得的写法：XML 只认 &amp;、&lt;、&gt;、&quot;、&apos; 和 &#数字; 形式的字符，"
         "文本中的 & 须写成 &amp;";
}

struct ParseHint {
  int code;
  std::string (*explain)(const xmlError&, const std::string& text, const InputFile&);
};

const ParseHint kParseHints[] = {
    {XML_ERR_INVALID_CHAR, &Gbk},
    {XML_ERR_INVALID_ENCODING, &Gbk},
    {XML_ERR_NAME_REQUIRED, &BareAmpersand},
    {XML_ERR_ENTITYREF_SEMICOL_MISSING, &BareAmpersand},
    {XML_ERR_UNDECLARED_ENTITY, &UnknownEntity},
};

// ---- a file cut short ----

// Errors of a piece of markup whose end never came.
bool Unfinished(int code) {
  switch (code) {
    case XML_ERR_GT_REQUIRED:
    case XML_ERR_TAG_NOT_FINISHED:
    case XML_ERR_LTSLASH_REQUIRED:
    case XML_ERR_COMMENT_NOT_FINISHED:
    case XML_ERR_PI_NOT_FINISHED:
    case XML_ERR_CDATA_NOT_FINISHED:
    case XML_ERR_ATTRIBUTE_NOT_FINISHED:
    case XML_ERR_LITERAL_NOT_FINISHED:
    case XML_ERR_ENTITYREF_SEMICOL_MISSING:
    case XML_ERR_NAME_REQUIRED: return true;
    default: return false;
  }
}

// The parser's context, for its own errors while it is alive.
const xmlParserCtxt* ParserOf(const xmlError& e) {
  return e.domain == XML_FROM_PARSER ? static_cast<const xmlParserCtxt*>(e.ctxt) : nullptr;
}

std::string CutShort(const std::string& element) {
  return "文件不完整：到文件末尾时元素 " + element + " 还没有结束，可能没有保存完或复制时被截断，请找回完整的文件";
}

// ---- validator ----

// The first element of that name in the record's shape, breadth first.
const ShapeNode* FindShape(const ShapeNode& record, const std::string& name) {
  std::deque<const ShapeNode*> queue{&record};
  std::vector<const ShapeNode*> seen;
  while (!queue.empty()) {
    const ShapeNode* n = queue.front();
    queue.pop_front();
    if (std::find(seen.begin(), seen.end(), n) != seen.end()) continue;  // types may recur
    seen.push_back(n);
    if (const ShapeNode* c = n->Child(name)) return c;
    for (const auto& [key, child] : n->children) queue.push_back(child);
  }
  return nullptr;
}

std::string TextInRecord(const std::string& text, const DataFileShape& shape) {
  std::string name = Quoted(text);
  const std::string& root = shape.RootName();
  std::string element = root.size() > 4 ? root.substr(0, root.size() - 4) : root;  // "...List"
  if (name == root) return "根元素 " + root + " 中只能有 " + element + " 记录，不能直接写文本";
  const ShapeNode* node = name == element ? &shape.RecordShape() : FindShape(shape.RecordShape(), name);
  if (!node || node->kind == ShapeNode::Kind::Leaf) return "";
  if (node->kind == ShapeNode::Kind::Collection)
    return "键 " + name + " 是记录的列表，其中每条记录写成 <Record>…</Record>，不能直接写文本";
  std::string example;
  if (!node->children.empty()) {
    std::string key = node->Child("Name") ? "Name" : node->children.begin()->first;
    example = "（如 <" + key + ">…</" + key + ">）";
  }
  return (name == element ? "记录 " + name + " 中" : "键 " + name + " 是一条嵌套的记录，其中") + "只能写它的键" + example +
         "，不能直接写文本";
}

// An unknown or repeated key is found by the reader itself; what the
// validator still finds unexpected breaks a schema's order.
std::string Unexpected(const std::string& text, const DataFileShape&) {
  std::string name = Quoted(text);
  if (name.empty()) return "";
  return "元素 " + name + " 不能出现在这里：接口定义文件规定了这一层的键及其次序，请对照接口定义文件调整";
}

struct ValidityHint {
  int code;
  std::string (*explain)(const std::string& text, const DataFileShape&);
};

const ValidityHint kValidityHints[] = {
    {XML_SCHEMAV_CVC_COMPLEX_TYPE_2_3, &TextInRecord},
    {XML_SCHEMAV_ELEMENT_CONTENT, &Unexpected},
};

}  // namespace

bool LooksLikeGbk(std::string_view bytes) {
  auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() < 2 || b(0) < 0x81 || b(0) > 0xFE) return false;
  // A trail byte below 0x80 is rare in Chinese text and common after a
  // Latin-1 letter ("ü" + "l"), so it does not count as a start.
  bool two = b(1) >= 0x80 && b(1) <= 0xFE;
  bool four = bytes.size() >= 4 && b(1) >= 0x30 && b(1) <= 0x39 && b(2) >= 0x81 && b(2) <= 0xFE && b(3) >= 0x30 &&
              b(3) <= 0x39;
  if (!two && !four) return false;
  iconv_t cd = iconv_open("UTF-8", "GB18030");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in(bytes);
  char out[256];
  char* inp = in.data();
  char* outp = out;
  size_t inLeft = in.size(), outLeft = sizeof out;
  bool bad = iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) && errno == EILSEQ;
  iconv_close(cd);
  std::string_view decoded(out, static_cast<size_t>(outp - out));
  size_t first = Utf8SequenceLength(decoded);
  if (bad || first == 0) return false;
  uint32_t cp = DecodeUtf8(decoded.substr(0, first));
  return (cp >= 0x2E80 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
         (cp >= 0xFF00 && cp <= 0xFFEF) || cp >= 0x10000;
}

std::string ParseErrorText(const xmlError& error, const std::string& text, const InputFile& file,
                           const std::string& rootName) {
  if (error.code == XML_ERR_DOCUMENT_EMPTY) return "文件中没有任何元素";
  const xmlParserCtxt* ctxt = ParserOf(error);
  bool open = ctxt && ctxt->nameNr > 0 && ctxt->name;
  if (error.code == XML_ERR_DOCUMENT_END) {
    // The push parser words a file cut short like one with trailing
    // content, so its text would mislead here.
    if (!ctxt) return "文件不完整，或根元素之后还有多余的内容（须有且只有一个完整的根元素 " + rootName + "）";
    if (open) return CutShort(reinterpret_cast<const char*>(ctxt->name));
    return "根元素 " + rootName + " 结束后还有内容：文件中须有且只有一个根元素 " + rootName + ParserSaid(text);
  }
  // A parser that halted has let go of its input, so only one still parsing
  // tells by its position that the input ran out.
  if (open && Unfinished(error.code) && ctxt->instate != XML_PARSER_EOF && ctxt->input && ctxt->input->cur &&
      ctxt->input->cur >= ctxt->input->end)
    return CutShort(reinterpret_cast<const char*>(ctxt->name)) + ParserSaid(text);
  for (const auto& hint : kParseHints)
    if (hint.code == error.code)
      if (std::string said = hint.explain(error, text, file); !said.empty()) return said + ParserSaid(text);
  return text;
}

std::string ExplainedIssue(const Issue& issue, const DataFileShape& shape) {
  if (issue.domain != XML_FROM_SCHEMASV) return issue.message;
  for (const auto& hint : kValidityHints)
    if (hint.code == issue.code)
      if (std::string said = hint.explain(issue.message, shape); !said.empty()) return said + ParserSaid(issue.message);
  return issue.message;
}

std::string NearestKey(const std::string& key, const ShapeNode& shape) {
  std::string best;
  size_t bestDistance = key.size() <= 4 ? 1 : 2;
  for (const auto& [name, child] : shape.children) {
    // The lengths alone rule out most keys, and any key of a hostile length.
    if (name.size() > key.size() + bestDistance || key.size() > name.size() + bestDistance) continue;
    size_t d = EqualsNoCase(name, key) ? 0 : EditDistance(name, key);
    if (d < bestDistance || (d == bestDistance && best.empty())) best = name, bestDistance = d;
  }
  return best;
}

std::string UnknownKeyText(const std::string& element, const std::string& key, const ShapeNode& shape) {
  std::string text = "元素 " + element + " 中有未知的键 " + key + "：接口定义文件中没有这个键（键名区分大小写）";
  if (std::string near = NearestKey(key, shape); !near.empty()) text += "，是否应为 " + near + "？";
  return text;
}

std::string RepeatedKeyText(const std::string& element, const std::string& key) {
  return "元素 " + element + " 中的键 " + key + " 出现了两次：一条记录中每个键只能写一次，请删去多余的一个";
}

}  // namespace morvent::xml
