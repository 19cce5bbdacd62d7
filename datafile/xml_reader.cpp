#include "datafile/xml_reader.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlschemas.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "platform/progdir.h"
#include "platform/text.h"
#include "datafile/input_file.h"
#include "datafile/read_hints.h"
#include "datafile/schema_model.h"
#include "datafile/xml_support.h"

namespace morvent {

namespace {

using xml::InputFile;
using xml::InputRefused;
using xml::Issue;
using xml::IssueSink;
using xml::ShapeNode;

// A failure already worded for the user.
struct ReadFailure {
  std::string text;
};

constexpr const char* kNoDoctype = "不接受含有 DOCTYPE 声明的数据文件";

std::string LinePart(long line) { return line > 0 ? "第 " + std::to_string(line) + " 行：" : ""; }

// Problems of one file told at once, and how many of them are listed; past
// kMaxIssues the file is not read on.
constexpr size_t kMaxIssues = 1000;
constexpr size_t kListedIssues = 20;

// One problem as it has always been told; several as a count followed by
// one line each (parts joined by kCR).
std::string AllIssues(const IssueSink& sink, const xml::DataFileShape& shape, bool stopped) {
  const auto issues = sink.ByLine();
  auto told = [&](const Issue& i) { return LinePart(i.line) + xml::ExplainedIssue(i, shape); };
  if (issues.size() == 1 && !stopped) return told(*issues.front());
  std::string text = (stopped ? "问题太多，只找了前 " : "共发现 ") + std::to_string(issues.size()) + " 处问题：";
  for (size_t i = 0; i < issues.size() && i < kListedIssues; ++i) text += kCR + told(*issues[i]);
  if (issues.size() > kListedIssues)
    text += kCR + std::string("另有 ") + std::to_string(issues.size() - kListedIssues) + " 处问题未列出";
  return text;
}

// The schema, parsed twice over: as a document for the file's shape and as
// a compiled schema for the validator.
class Schema {
 public:
  Schema(const std::string& path, const std::string& elementName) {
    if (!FileExist(path)) throw ReadFailure{MissingSchemaText(path, path)};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) throw ReadFailure{"无法读取接口定义文件 " + path};
    std::string text = bytes.str();

    IssueSink sink;
    xmlParserCtxt* ctxt = xmlNewParserCtxt();
    if (!ctxt) throw ReadFailure{"内存不足"};
    ctxt->sax->serror = &Schema::ParserError;
    ctxt->_private = &sink;
    doc_.reset(xmlCtxtReadMemory(ctxt, text.data(), static_cast<int>(text.size()), nullptr, nullptr, XML_PARSE_NONET));
    xmlFreeParserCtxt(ctxt);
    if (!doc_ || !sink.Empty()) Invalid(path, sink);
    for (xmlNode* n = doc_->children; n; n = n->next)
      if (n->type == XML_DTD_NODE) throw ReadFailure{"Morvent接口定义文件 " + path + " 无效：不接受 DOCTYPE 声明"};

    try {
      shape_ = std::make_unique<xml::DataFileShape>(doc_.get(), elementName);
    } catch (const xml::ShapeError& e) {
      throw ReadFailure{"Morvent接口定义文件 " + path + " 无效：" + e.what()};
    }

    PlainStringsAsMixed(doc_->children);
    xmlSchemaParserCtxt* pctxt = xmlSchemaNewDocParserCtxt(doc_.get());
    if (!pctxt) throw ReadFailure{"内存不足"};
    xmlSchemaSetParserStructuredErrors(pctxt, &IssueSink::Structured, &sink);
    schema_ = xmlSchemaParse(pctxt);
    xmlSchemaFreeParserCtxt(pctxt);
    if (!schema_ || !sink.Empty()) Invalid(path, sink);
  }
  ~Schema() {
    if (schema_) xmlSchemaFree(schema_);
  }
  Schema(const Schema&) = delete;
  Schema& operator=(const Schema&) = delete;

  xmlSchema* compiled() const { return schema_; }
  const xml::DataFileShape& shape() const { return *shape_; }

 private:
  // The parser hands its own context to the structured handler.
  static void ParserError(void* ctxt, xmlError* error) {
    auto* c = static_cast<xmlParserCtxt*>(ctxt);
    if (c && c->_private) IssueSink::Structured(c->_private, error);
  }

  // The validator gathers the text of a simple-typed element by appending
  // each piece to the whole, quadratic in the length of a value. An element
  // of plain xs:string is declared instead as mixed content without
  // children: that accepts the same (any text, no element, nil when
  // nillable) and leaves the validator nothing to gather.
  static void PlainStringsAsMixed(xmlNode* node) {
    static const xmlChar* xsd = BAD_CAST "http://www.w3.org/2001/XMLSchema";
    for (xmlNode* n = node; n; n = n->next) {
      if (n->type != XML_ELEMENT_NODE) continue;
      if (n->ns && xmlStrEqual(n->ns->href, xsd) && xmlStrEqual(n->name, BAD_CAST "element") &&
          !xmlHasProp(n, BAD_CAST "default") && !xmlHasProp(n, BAD_CAST "fixed")) {
        if (xmlChar* type = xmlGetProp(n, BAD_CAST "type")) {
          std::string qname(reinterpret_cast<const char*>(type));
          xmlFree(type);
          auto colon = qname.find(':');
          std::string prefix = colon == std::string::npos ? "" : qname.substr(0, colon);
          xmlNs* ns = xmlSearchNs(n->doc, n, prefix.empty() ? nullptr : BAD_CAST prefix.c_str());
          if (ns && xmlStrEqual(ns->href, xsd) && qname.substr(colon + 1) == "string") {
            xmlUnsetProp(n, BAD_CAST "type");
            xmlNode* complex = xmlNewChild(n, n->ns, BAD_CAST "complexType", nullptr);
            if (complex) xmlSetProp(complex, BAD_CAST "mixed", BAD_CAST "true");
          }
        }
      }
      PlainStringsAsMixed(n->children);
    }
  }

  [[noreturn]] static void Invalid(const std::string& path, const IssueSink& sink) {
    const Issue* first = sink.First();
    throw ReadFailure{"Morvent接口定义文件 " + path + " 无效：" +
                      (first ? LinePart(first->line) + first->message : std::string("无法解析"))};
  }

  xml::DocPtr doc_;  // outlives schema_, which may point into it
  std::unique_ptr<xml::DataFileShape> shape_;
  xmlSchema* schema_ = nullptr;
};

// Looks at the prolog alone, with a parser that stops at the first tag: a
// DOCTYPE is refused before any of its declarations is parsed, so entity
// bombs and external entities never reach the reader (whose validator would
// even print about entity references).
class PrologScan {
 public:
  // True when the file declares a DOCTYPE; `line` is its line.
  static bool HasDoctype(InputFile& file, long& line) {
    PrologScan scan;
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.internalSubset = &PrologScan::OnDoctype;
    sax.startElementNs = &PrologScan::OnElement;
    sax.serror = [](void*, xmlError*) {};  // the reader reports errors itself
    xmlParserCtxt* ctxt = xmlCreatePushParserCtxt(&sax, &scan, nullptr, 0, nullptr);
    if (!ctxt) return false;
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET);
    scan.ctxt_ = ctxt;
    char buf[4096];
    while (!scan.decided_) {
      int n = file.Read(buf, sizeof buf);
      if (n <= 0 || xmlParseChunk(ctxt, buf, n, 0) != 0) break;
    }
    xmlFreeParserCtxt(ctxt);
    file.Rewind();
    line = scan.line_;
    return scan.doctype_;
  }

 private:
  static void OnDoctype(void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* s = static_cast<PrologScan*>(self);
    s->doctype_ = true;
    s->line_ = xmlSAX2GetLineNumber(s->ctxt_);
    s->Decide();
  }
  static void OnElement(void* self, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**, int, int,
                        const xmlChar**) {
    static_cast<PrologScan*>(self)->Decide();
  }
  void Decide() {
    decided_ = true;
    xmlStopParser(ctxt_);
  }

  xmlParserCtxt* ctxt_ = nullptr;
  bool decided_ = false, doctype_ = false;
  long line_ = 0;
};

// Stops the walk; the reason is in the sink.
struct Stop {};

class Walker {
 public:
  Walker(xmlTextReader* reader, InputFile& file, IssueSink& sink, const xml::DataFileShape& shape,
         const std::string& elementName)
      : r_(reader), file_(file), sink_(sink), shape_(shape), elementName_(elementName), lastError_(&xmlLastError) {}

  RecordCollectionPtr Run() {
    auto out = std::make_shared<RecordCollection>();
    if (!FindRoot()) return out;
    if (!xmlTextReaderIsEmptyElement(r_)) {
      while (Next()) {
        if (type_ == XML_READER_TYPE_END_ELEMENT && xmlTextReaderDepth(r_) == 0) break;
        if (type_ != XML_READER_TYPE_ELEMENT) continue;
        if (Name() != elementName_) {
          Misplaced("元素 " + shape_.RootName() + " 中只能有 " + elementName_ + " 记录，不能有 " + std::string(Name()));
          continue;
        }
        auto record = NewRecord();
        row_ = out->UBound() + 1;
        record->SetFileRow(row_);
        ReadRecord(shape_.RecordShape(), *record, elementName_);
        out->Add(std::move(record));
      }
    }
    while (Next()) {
    }  // the rest of the file must still be well-formed
    return out;
  }

 private:
  // Advances one node; false at the end of the file. A file that breaks
  // the schema is read on to its end, so that every problem of it is told
  // at once (up to kMaxIssues); a parse error stops the walk at once.
  bool Next() {
    if (sink_.Size() >= kMaxIssues) throw Stop{};
    // What xmlResetLastError does, without its call and thread lookup per node.
    if (lastError_->code != XML_ERR_OK) xmlResetLastError();
    int rc = xmlTextReaderRead(r_);
    type_ = XML_READER_TYPE_NONE;
    if (rc < 0) {
      ParseFailed();
      throw Stop{};
    }
    if (rc == 0) return false;
    type_ = xmlTextReaderNodeType(r_);
    if (type_ == XML_READER_TYPE_DOCUMENT_TYPE) Ours(kNoDoctype);
    return true;
  }

  // With a validator plugged in, libxml2 2.9 hands well-formedness errors to
  // no handler; only the thread's last error keeps them.
  void ParseFailed() {
    if (auto overrun = file_.Overran(); overrun != InputFile::Overrun::None) {
      std::string what;
      if (overrun == InputFile::Overrun::QuietRun)
        what = "连续的注释、处理指令或 CDATA 段超过 " + std::to_string(xml::kMaxQuietRun) + " 个，中间没有任何元素，无法读入";
      else if (overrun == InputFile::Overrun::DoubleHyphen)
        what = "注释中不能有连续的两个减号（--）";
      else if (overrun == InputFile::Overrun::Stretch)
        what = textKey_ ? "键 " + *textKey_ + " 的值连同其中的注释与处理指令超过 " + xml::kMaxRunText + "，无法读入"
                        : std::string("有超过 ") + xml::kMaxRunText + " 的文本、注释与处理指令之间没有任何元素的标签，无法读入";
      else if (overrun == InputFile::Overrun::Ampersand)
        what = xml::kBareAmpersandText;
      else if (overrun == InputFile::Overrun::Markup)
        what = std::string("有超过 ") + xml::kMaxMarkupText + " 的标签、注释或处理指令，无法读入";
      else if (overrun == InputFile::Overrun::Cdata)
        what = (textKey_ ? "键 " + *textKey_ + " 中" : std::string("文件中")) + "有超过 " + xml::kMaxCdataText +
               " 的 CDATA 段，无法读入";
      else
        what = textKey_ ? "键 " + *textKey_ + " 的值超过 " + xml::kMaxRunText + "，无法读入"
                        : std::string("有超过 ") + xml::kMaxRunText + " 的连续内容不含任何标记，无法读入";
      sink_.Add(Issue{file_.OverrunLine(), what, true});
      return;
    }
    if (file_.Errno()) {
      sink_.Add(Issue{0, std::string("读取失败：") + std::strerror(file_.Errno()), true});
      return;
    }
    xmlError* last = xmlGetLastError();
    if (!last || last->level < XML_ERR_ERROR) {
      if (sink_.Empty()) sink_.Add(Issue{0, "文件格式不正确", false});
      return;
    }
    std::string text = last->message ? last->message : "文件格式不正确";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    sink_.Add(Issue{last->line, xml::ParseErrorText(*last, text, file_, shape_.RootName()), false, last->domain,
                    last->code});
  }

  bool FindRoot() {
    while (Next()) {
      if (type_ != XML_READER_TYPE_ELEMENT) continue;
      if (Name() != shape_.RootName()) Ours("根元素应为 " + shape_.RootName() + "，文件中却是 " + std::string(Name()));
      return true;
    }
    return false;
  }

  // The whole file's records stay in memory, so each is gathered in a
  // buffer of its nesting level and packed once, at its exact size, with
  // the schema's key names shared.
  void ReadRecord(const ShapeNode& shape, DataRecord& record, const std::string& name) {
    if (xmlTextReaderIsEmptyElement(r_)) return;
    int depth = xmlTextReaderDepth(r_);
    if (gathered_.size() <= level_) gathered_.emplace_back();
    auto& entries = gathered_[level_];
    entries.clear();
    auto& order = orders_[&shape];
    struct Deeper {
      size_t& level;
      ~Deeper() { --level; }
    } deeper{++level_};
    while (Next()) {
      if (type_ == XML_READER_TYPE_END_ELEMENT && xmlTextReaderDepth(r_) == depth) {
        record.Pack(entries);
        return;
      }
      if (type_ != XML_READER_TYPE_ELEMENT) continue;
      const Key key = Resolve(shape, order, entries.size());
      if (!key.name) {
        Misplaced(xml::UnknownKeyText(name, std::string(Name()), shape));
        continue;
      }
      auto same = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key.shared; });
      if (same != entries.end()) {
        Misplaced(xml::RepeatedKeyText(name, *key.name));
        continue;
      }
      entries.emplace_back(key.shared, ReadValue(*key.shape, *key.name));
    }
    throw Stop{};  // the file ended inside the record; the parser says why
  }

  // A key of a record as the schema declares it.
  struct Key {
    const xmlChar* raw;  // the reader's name for it
    const std::string* name;
    const ShapeNode* shape;
    const std::string* shared;
  };

  // The declared key the current element names (no name when the schema
  // has none such). Records of one shape
  // mostly list their keys in the same order, so the key the last such
  // record had at this place is tried first: the reader keeps one copy of
  // each name, so a same name usually comes at the same address.
  Key Resolve(const ShapeNode& shape, std::vector<Key>& order, size_t at) {
    const xmlChar* raw = xmlTextReaderConstLocalName(r_);
    const std::string_view text = raw ? reinterpret_cast<const char*>(raw) : "";
    if (at < order.size() && order[at].raw == raw && *order[at].name == text) return order[at];
    auto child = shape.children.find(text);
    if (child == shape.children.end()) return Key{};
    Key key{raw, &child->first, child->second, SharedName(child->first)};
    if (at < order.size()) return order[at] = key;
    order.resize(at + 1, Key{});
    return order[at] = key;
  }

  const std::string* SharedName(const std::string& schemaName) {
    auto [it, added] = shared_.try_emplace(&schemaName, nullptr);
    if (added) it->second = SharedKey(schemaName);
    return it->second;
  }

  Variant ReadValue(const ShapeNode& shape, const std::string& name) {
    if (IsNil()) {
      SkipElement();
      return Variant::Null();
    }
    switch (shape.kind) {
      case ShapeNode::Kind::Leaf: return ReadText(name);
      case ShapeNode::Kind::Record: {
        auto record = NewRecord();
        record->SetFileRow(row_);
        ReadRecord(shape, *record, name);
        return record;
      }
      case ShapeNode::Kind::Collection: return ReadCollection(shape, name);
    }
    return Variant();
  }

  Variant ReadText(const std::string& name) {
    std::string text;
    if (xmlTextReaderIsEmptyElement(r_)) return text;
    int depth = xmlTextReaderDepth(r_);
    textKey_ = &name;
    struct Leave {
      const std::string*& key;
      ~Leave() { key = nullptr; }
    } leave{textKey_};
    while (Next()) {
      switch (type_) {
        case XML_READER_TYPE_TEXT:
        case XML_READER_TYPE_CDATA:
        case XML_READER_TYPE_WHITESPACE:
        case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
          if (const xmlChar* v = xmlTextReaderConstValue(r_)) text += reinterpret_cast<const char*>(v);
          break;
        case XML_READER_TYPE_ELEMENT:
          Misplaced("键 " + name + " 是文本，其中不能有元素 " + std::string(Name()));
          break;
        case XML_READER_TYPE_END_ELEMENT:
          if (xmlTextReaderDepth(r_) == depth) return text;
          break;
        default: break;
      }
    }
    throw Stop{};
  }

  Variant ReadCollection(const ShapeNode& shape, const std::string& name) {
    auto list = std::make_shared<RecordCollection>();
    if (xmlTextReaderIsEmptyElement(r_)) return list;
    const ShapeNode& item = *shape.Child("Record");
    int depth = xmlTextReaderDepth(r_);
    static const std::string kRecord = "Record";
    while (Next()) {
      if (type_ == XML_READER_TYPE_END_ELEMENT && xmlTextReaderDepth(r_) == depth) return list;
      if (type_ != XML_READER_TYPE_ELEMENT) continue;
      if (Name() != kRecord) {
        Misplaced("元素 " + name + " 中只能有 Record 记录，不能有 " + std::string(Name()));
        continue;
      }
      auto record = NewRecord();
      record->SetFileRow(row_);
      ReadRecord(item, *record, kRecord);
      list->Add(std::move(record));
    }
    throw Stop{};
  }

  void SkipElement() {
    if (xmlTextReaderIsEmptyElement(r_)) return;
    int depth = xmlTextReaderDepth(r_);
    while (Next())
      if (type_ == XML_READER_TYPE_END_ELEMENT && xmlTextReaderDepth(r_) == depth) return;
    throw Stop{};
  }

  bool IsNil() {
    // Without attributes (nearly every element) there is nothing to look up:
    // no DTD can supply one, as a DOCTYPE is refused.
    if (xmlTextReaderHasAttributes(r_) != 1) return false;
    xmlChar* v = xmlTextReaderGetAttributeNs(r_, reinterpret_cast<const xmlChar*>("nil"),
                                             reinterpret_cast<const xmlChar*>(xml::kXsiNamespace));
    if (!v) return false;
    std::string s(reinterpret_cast<const char*>(v));
    xmlFree(v);
    auto b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
    s = b == std::string::npos ? "" : s.substr(b, e - b + 1);
    return s == "true" || s == "1";
  }

  // Valid until the next read.
  std::string_view Name() {
    const xmlChar* n = xmlTextReaderConstLocalName(r_);
    return n ? reinterpret_cast<const char*>(n) : "";
  }

  long Line() {
    xmlNode* n = xmlTextReaderCurrentNode(r_);
    long line = n ? xmlGetLineNo(n) : -1;
    return line > 0 ? line : xmlTextReaderGetParserLineNumber(r_);
  }

  [[noreturn]] void Ours(const std::string& message) {
    sink_.Add(Issue{Line(), message, true});
    throw Stop{};
  }

  // An element the schema has no place for: told, passed over, and the
  // reading goes on.
  void Misplaced(const std::string& message) {
    sink_.Add(Issue{Line(), message, true});
    SkipElement();
  }

  xmlTextReader* r_;
  InputFile& file_;
  IssueSink& sink_;
  const xml::DataFileShape& shape_;
  const std::string& elementName_;
  xmlError* const lastError_;  // the thread's last error
  int type_ = XML_READER_TYPE_NONE;  // of the node the reader stands on
  int32_t row_ = 0;
  const std::string* textKey_ = nullptr;  // the key whose text is being read
  std::deque<std::vector<DataRecord::SharedEntry>> gathered_;  // by nesting level
  size_t level_ = 0;
  std::unordered_map<const std::string*, const std::string*> shared_;  // schema's name → shared key
  std::unordered_map<const ShapeNode*, std::vector<Key>> orders_;  // by record shape: the keys last seen
};

struct ReaderFree {
  void operator()(xmlTextReader* r) const { xmlFreeTextReader(r); }
};
struct ValidFree {
  void operator()(xmlSchemaValidCtxt* v) const { xmlSchemaFreeValidCtxt(v); }
};

// The parser's own length limits (10,000,000 bytes of text) are lifted with
// XML_PARSE_HUGE; InputFile's run limit takes their place.
int ReadInput(void* file, char* buffer, int len) { return static_cast<InputFile*>(file)->Read(buffer, len); }
int KeepInput(void*) { return 0; }  // the InputFile closes itself

RecordCollectionPtr Read(const std::string& dataFile, const std::string& schemaFile, const std::string& elementName) {
  xml::EnsureInitialised();
  Schema schema(schemaFile, elementName);
  InputFile file(dataFile);
  file.SetElementOnly(schema.shape().ElementOnlyNames());
  std::string failedRead = "读取数据文件 " + dataFile + " 出错：";
  if (file.Empty()) throw ReadFailure{failedRead + "文件是空的"};
  if (long line = 0; PrologScan::HasDoctype(file, line))
    throw ReadFailure{failedRead + LinePart(line) + kNoDoctype};

  // Declared before the reader and the validator, which report into it up
  // to their release.
  IssueSink sink;
  std::unique_ptr<xmlSchemaValidCtxt, ValidFree> valid(xmlSchemaNewValidCtxt(schema.compiled()));
  std::unique_ptr<xmlTextReader, ReaderFree> reader(
      xmlReaderForIO(&ReadInput, &KeepInput, &file, nullptr, nullptr, XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_HUGE));
  if (!valid || !reader) throw ReadFailure{failedRead + "内存不足"};
  xmlSchemaSetValidStructuredErrors(valid.get(), &IssueSink::Structured, &sink);
  xmlTextReaderSetStructuredErrorHandler(reader.get(), &IssueSink::Structured, &sink);
  if (xmlTextReaderSchemaValidateCtxt(reader.get(), valid.get(), 0) != 0)
    throw ReadFailure{failedRead + "无法启用接口定义文件 " + schemaFile + " 的校验"};

  RecordCollectionPtr out;
  bool stopped = false;
  try {
    out = Walker(reader.get(), file, sink, schema.shape(), elementName).Run();
  } catch (const Stop&) {
    stopped = sink.Size() >= kMaxIssues;
  }
  if (sink.Empty() && out && xmlTextReaderIsValid(reader.get()) != 1)
    sink.Add(Issue{0, "文件不符合接口定义文件 " + schemaFile, false});
  if (!sink.Empty()) throw ReadFailure{failedRead + AllIssues(sink, schema.shape(), stopped)};
  return out;
}

}  // namespace

void XmlDataFileReader::InputXML(RecordCollectionPtr& collection, const std::string& dataFile,
                                 const std::string& schemaFile, const std::string& elementName,
                                 std::string& errorText) {
  errorText.clear();
  try {
    collection = Read(dataFile, schemaFile, elementName);
  } catch (const ReadFailure& f) {
    errorText = f.text;
  } catch (const InputRefused& f) {
    errorText = f.text;
  } catch (const std::bad_alloc&) {
    errorText = "读取数据文件 " + dataFile + " 出错：内存不足";
  }
  if (!collection) collection = std::make_shared<RecordCollection>();
}

}  // namespace morvent
