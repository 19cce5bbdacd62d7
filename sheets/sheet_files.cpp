#include "sheets/sheet_files.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_map>

#include "datafile/xml_reader.h"
#include "datafile/xml_writer.h"
#include "context/glfunc.h"
#include "front/trap.h"
#include "platform/error.h"
#include "platform/private_folder.h"
#include "platform/registry.h"

namespace morvent::sheets {

namespace {

namespace fs = std::filesystem;

constexpr const char* kReadSource = "SheetPellam.Read";
constexpr const char* kWriteSource = "SheetPellam.Write";

// A row-level failure already worded for the user.
struct RowFailure {
  std::string text;
};

// Characters XML 1.0 cannot hold: what the data files could not carry either.
bool XmlSafe(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = s[i];
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    // U+FFFE and U+FFFF
    if (c == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(s[i + 2]) & 0xFE) == 0xBE)
      return false;
  }
  return true;
}

// Escaped so that a whole record stays on one line of the temporary file.
void Escape(std::string& out, const std::string& text) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      case '\n': out += "&#10;"; break;
      case '\t': out += "&#9;"; break;
      default: out += c;
    }
  }
}

void JsonRecords(std::string& out, const nlohmann::json& array) {
  for (const auto& item : array) {
    if (!item.is_object()) throw std::invalid_argument("每条记录应为一个 JSON 对象");
    out += "<Record>";
    for (const auto& [key, value] : item.items()) {
      out += "<" + key;
      if (value.is_null()) {
        out += " xsi:nil=\"true\"/>";
        continue;
      }
      out += ">";
      if (value.is_string()) Escape(out, value.get<std::string>());
      else if (value.is_object() || value.is_array()) throw std::invalid_argument("键 " + key + " 的值应为文本");
      else Escape(out, value.dump());
      out += "</" + key + ">";
    }
    out += "</Record>";
  }
}

// "meaning | type" or "meaning | type | 必填": the second header row, by
// its shape, so that one written under other words still is one.
// Matched by hand: a regular expression's ".*" recursed once per character
// of the meaning, and a long one overflowed the stack.
bool IsDescription(std::string_view text) {
  constexpr std::string_view required = " | 必填";
  if (text.ends_with(required)) text.remove_suffix(required.size());
  for (std::string_view type : {"文本", "代码", "数字", "0/1", "JSON", "日期"}) {
    const size_t tail = type.size() + 3;
    if (text.size() >= tail && text.ends_with(type) && text.substr(text.size() - tail, 3) == " | ")
      return text.substr(0, text.size() - tail).find_first_of("\r\n") == std::string_view::npos;
  }
  return false;
}

bool ValidKey(const std::string& key) {
  if (key.empty()) return false;
  for (unsigned char c : key)
    if (!std::isalnum(c) && c != '_') return false;
  return !std::isdigit(static_cast<unsigned char>(key[0]));
}

// One record of the temporary data file, built from a row's present cells:
// dotted columns sharing a first key make one nested record.
class RecordXml {
 public:
  RecordXml(const std::vector<std::optional<size_t>>& model, const std::vector<Column>& columns)
      : model_(model), columns_(columns) {}

  // Raises RowFailure naming the cell.
  std::string Build(const Row& row, long sheetRow, const std::string& element) const {
    struct Node {
      std::string key, text;
      bool leaf = false, collection = false, null = false;
      std::vector<Node> children;
      Node& Child(const std::string& k) {
        for (auto& c : children)
          if (c.key == k) return c;
        children.push_back({k});
        return children.back();
      }
    } root;
    for (size_t i = 0; i < row.size() && i < model_.size(); ++i) {
      if (!row[i].present || !model_[i]) continue;
      const Column& col = columns_[*model_[i]];
      if (!XmlSafe(row[i].text))
        throw RowFailure{CellName(sheetRow, i, col.header) + "：含有数据文件不能容纳的控制字符"};
      Node* n = &root;
      for (const auto& k : col.path) n = &n->Child(k);
      n->leaf = true;
      n->null = row[i].null;
      n->collection = col.collection;
      n->text = row[i].text;
      if (col.collection && !row[i].null) {
        std::string records;
        try {
          auto array = nlohmann::json::parse(row[i].text);
          if (!array.is_array()) throw std::invalid_argument("应为 JSON 数组");
          for (const auto& item : array)
            if (item.is_object())
              for (const auto& [key, value] : item.items())
                if (!ValidKey(key)) throw std::invalid_argument("键名 " + key + " 不能用作键");
          JsonRecords(records, array);
        } catch (const std::exception& e) {
          throw RowFailure{CellName(sheetRow, i, col.header) + "：不是有效的记录列表（" + e.what() + "）"};
        }
        n->text = records;
      }
    }
    if (root.children.empty()) return {};
    std::string out = "<" + element + ">";
    Emit(out, root);
    return out + "</" + element + ">";
  }

 private:
  template <class N>
  static void Emit(std::string& out, const N& node) {
    for (const auto& c : node.children) {
      if (c.null) {
        out += "<" + c.key + " xsi:nil=\"true\"/>";
        continue;
      }
      out += "<" + c.key + ">";
      if (c.collection) out += c.text;
      else if (c.leaf) Escape(out, c.text);
      else Emit(out, c);
      out += "</" + c.key + ">";
    }
  }

  const std::vector<std::optional<size_t>>& model_;
  const std::vector<Column>& columns_;
};

// The rows as a data file, in a folder of this process alone that goes
// with it (or, after a kill, with the next one made).
class TempXml {
 public:
  TempXml() : folder_("morvent-sheet-"), path_(folder_.file("rows.xml")) {
    if (folder_.path().empty()) {
      std::error_code ec;
      throw RowFailure{"无法创建临时文件（" + fs::temp_directory_path(ec).string() + "）"};
    }
    out_.open(path_, std::ios::binary | std::ios::trunc);
  }
  std::ofstream& out() { return out_; }
  const std::string& path() const { return path_; }

 private:
  PrivateFolder folder_;
  const std::string path_;
  std::ofstream out_;
};

void Read(const std::string& dataFile, const std::string& schemaFile, const std::string& elementName,
          const std::string& encoding, RecordCollectionPtr& collection, std::string& errorText, ReadRows& kept) {
  const std::vector<Column> columns = ColumnsOf(schemaFile, elementName);
  std::vector<std::optional<size_t>> model;  // sheet column -> column
  RecordXml builder(model, columns);
  TempXml temp;
  auto& out = temp.out();
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" << elementName
      << "List xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  kept.columns.clear();
  kept.sheetRow.clear();
  kept.cells.clear();
  bool headed = false, secondSeen = false;
  const std::string format = SheetFormat(dataFile);
  // Numeric cells in code columns: the first few are named one by one.
  constexpr size_t kNamedCells = 10;
  size_t numericCodes = 0;
  std::vector<std::string> warnings;

  auto each = [&](long number, Row& row) -> bool {
    if (!headed) {
      headed = true;
      for (size_t i = 0; i < row.size(); ++i) {
        const std::string& h = row[i].text;
        std::optional<size_t> at;
        if (h == kErrorHeader || !row[i].present) {
          model.push_back(std::nullopt);
          kept.columns.push_back({{}, h});
          continue;
        }
        for (size_t c = 0; c < columns.size(); ++c)
          if (columns[c].header == h) at = c;
        if (!at) throw RowFailure{CellName(number, i, h) + "：接口定义文件中没有这一列（列名区分大小写）"};
        for (size_t j = 0; j < i; ++j)
          if (model[j] == at) throw RowFailure{CellName(number, i, h) + "：这一列与 " + ColumnLetter(j) + " 列重复"};
        model.push_back(at);
        kept.columns.push_back(columns[*at]);
      }
      return true;
    }
    if (!secondSeen) {
      secondSeen = true;
      bool isDescription = false;
      for (size_t i = 0; i < row.size(); ++i) {
        if (!row[i].present) continue;
        if (!IsDescription(row[i].text)) {
          isDescription = false;
          break;
        }
        isDescription = true;
      }
      if (isDescription) return true;
    }
    for (size_t i = model.size(); i < row.size(); ++i)
      if (row[i].present) throw RowFailure{CellName(number, i, "") + "：这一列没有列名"};
    const std::string record = builder.Build(row, number, elementName);
    if (record.empty()) return true;
    for (size_t i = 0; i < row.size(); ++i)
      if (row[i].present && row[i].numeric && model[i] && columns[*model[i]].IsCode() && ++numericCodes <= kNamedCells)
        warnings.push_back(dataFile + " " + CellName(number, i, columns[*model[i]].header) +
                           "是数字单元格，代码的前导零可能已丢失：" + row[i].text);
    out << record << '\n';
    kept.sheetRow.push_back(number);
    if (kept.keepCells) kept.cells.push_back(row);
    return true;
  };
  try {
    if (format == "csv")
      ReadCsv(dataFile, encoding, each);
    else
      ReadXlsx(dataFile, {elementName}, each);
  } catch (const SheetError& e) {
    throw RowFailure{e.what()};
  }
  if (!headed) throw RowFailure{"文件中没有列名行"};
  for (const auto& w : warnings) ShowWarning(w);
  if (numericCodes > kNamedCells)
    ShowWarning(dataFile + " 另有 " + std::to_string(numericCodes - kNamedCells) + " 个代码单元格是数字单元格，前导零可能已丢失");
  out << "</" << elementName << "List>\n";
  out.close();
  if (!out) throw RowFailure{"无法写入临时文件 " + temp.path()};

  XmlDataFileReader xml;
  std::string text;
  xml.InputXML(collection, temp.path(), schemaFile, elementName, text);
  if (text.empty()) return;
  // The temporary file's line n holds record n - 2.
  for (size_t at = 0; (at = text.find(temp.path(), at)) != std::string::npos; at += dataFile.size())
    text.replace(at, temp.path().size(), dataFile);
  // The first "第 N 行：" names the temporary file's line: the sheet's row
  // stands there instead.
  constexpr std::string_view open = "第 ", close = " 行：";
  for (size_t at = 0; (at = text.find(open, at)) != std::string::npos; at += open.size()) {
    const size_t digits = at + open.size();
    size_t end = digits;
    while (end < text.size() && end - digits < 10 && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    if (end == digits || text.compare(end, close.size(), close) != 0) continue;
    const long line = std::atol(text.substr(digits, end - digits).c_str());
    const std::string where = line >= 3 && static_cast<size_t>(line - 2) <= kept.sheetRow.size()
                                  ? "第 " + std::to_string(kept.sheetRow[line - 3]) + " 行："
                                  : "";
    text.replace(at, end + close.size() - at, where);
    break;
  }
  errorText = text;
}

void Flatten(const Variant& value, const std::vector<std::string>& path, size_t depth, Cell& cell) {
  if (value.IsEmpty()) return;
  if (value.IsNull()) {
    cell.present = cell.null = depth == path.size();
    return;
  }
  if (depth == path.size()) {
    if (value.IsObject()) return;
    if (value.IsText()) cell.text = value.RawText();  // into the room the cell has
    else cell.text = value.ToText();
    cell.present = true;
    return;
  }
  auto record = value.As<DataRecord>();
  if (record && record->Has(path[depth])) Flatten(record->Value(path[depth]), path, depth + 1, cell);
}

nlohmann::ordered_json JsonOf(const DataRecord& r) {
  nlohmann::ordered_json o = nlohmann::ordered_json::object();
  for (const auto& [key, value] : r.Entries()) {
    if (value.IsNull()) o[key] = nullptr;
    else if (!value.IsObject() && !value.IsEmpty()) o[key] = value.ToText();
  }
  return o;
}

// The cells of records under fixed columns, into one row kept between
// records: each key of a record is looked up once, and the texts keep
// their room.
class RowMaker {
 public:
  explicit RowMaker(const std::vector<Column>& columns) : columns_(columns) {
    for (size_t i = 0; i < columns.size(); ++i) byKey_[columns[i].path[0]].push_back(i);
  }
  const Row& Of(const DataRecord& record) {
    row_.resize(columns_.size());
    for (Cell& c : row_) {
      c.text.clear();
      c.present = c.numeric = c.null = false;
    }
    for (size_t k = 0; k < record.Size(); ++k) {
      auto at = byKey_.find(record.KeyAt(k));
      if (at == byKey_.end()) continue;
      const Variant v = record.ValueAt(k);
      for (size_t i : at->second) Fill(v, columns_[i], row_[i]);
    }
    return row_;
  }

 private:
  static void Fill(const Variant& v, const Column& c, Cell& cell) {
    if (!c.collection) return Flatten(v, c.path, 1, cell);
    // A nested record's collection ("AcctID.ItemClass") is found through it.
    Variant at = v;
    for (size_t d = 1; d < c.path.size(); ++d) {
      auto r = at.As<DataRecord>();
      if (!r || !r->Has(c.path[d])) return;
      at = r->Value(c.path[d]);
    }
    auto items = at.As<RecordCollection>();
    if (!items) return;
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (int32_t k = items->LBound(); k <= items->UBound(); ++k)
      if (auto r = items->Item(k)) array.push_back(JsonOf(*r));
    cell.text = array.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    cell.present = true;
  }

  const std::vector<Column>& columns_;
  std::unordered_map<std::string, std::vector<size_t>> byKey_;
  Row row_;
};

// The records of one sheet written as they come; a failure is kept for Close.
class SheetStream : public RecordStream {
 public:
  SheetStream(std::string dataFile, const std::string& schemaFile, std::string elementName)
      : dataFile_(std::move(dataFile)), element_(std::move(elementName)) {
    try {
      columns_ = ColumnsOf(schemaFile, element_);
      maker_ = std::make_unique<RowMaker>(columns_);
      writer_ = OpenSheetWriter(dataFile_);
      writer_->Sheet(element_, columns_);
    } catch (const std::exception& e) {
      failure_ = e.what();
    }
  }
  void Add(DataRecordPtr record) override {
    if (!failure_.empty()) return;
    try {
      ++count_;
      if (!record) throw SheetError("第 " + std::to_string(count_) + " 条记录是空对象");
      writer_->Add(maker_->Of(*record));
    } catch (const std::exception& e) {
      failure_ = e.what();
    }
  }
  void Close(std::string& errorText) override {
    try {
      if (failure_.empty()) writer_->Close();
    } catch (const std::exception& e) {
      failure_ = e.what();
    }
    writer_.reset();
    if (failure_.empty()) return;
    errorText = "写数据文件 " + dataFile_ + " 出错：" + failure_;
    throw Error(kErrDataFile, kWriteSource, errorText);
  }

 private:
  std::string dataFile_, element_;
  std::vector<Column> columns_;
  std::unique_ptr<RowMaker> maker_;
  std::unique_ptr<SheetWriter> writer_;
  std::string failure_;
  int32_t count_ = 0;
};

}  // namespace

Row RowOf(const DataRecord& record, const std::vector<Column>& columns) { return RowMaker(columns).Of(record); }

void SheetFileReader::InputXML(RecordCollectionPtr& collection, const std::string& dataFile,
                               const std::string& schemaFile, const std::string& elementName, std::string& errorText) {
  ReadRows local;
  ReadRows& kept = rows_ ? *rows_ : local;
  try {
    Read(dataFile, schemaFile, elementName, encoding_, collection, errorText, kept);
  } catch (const RowFailure& f) {
    errorText = "读取数据文件 " + dataFile + " 出错：" + f.text;
  } catch (const std::runtime_error& e) {
    errorText = "读取数据文件 " + dataFile + " 出错：" + e.what();
  }
  if (!errorText.empty() && !collection) collection = std::make_shared<RecordCollection>();
}

void SheetFileWriter::OutputXML(RecordCollectionPtr& collection, const std::string& dataFile,
                                const std::string& schemaFile, const std::string& elementName, std::string& errorText) {
  SheetStream stream(dataFile, schemaFile, elementName);
  if (collection)
    for (int32_t i = collection->LBound(); i <= collection->UBound(); ++i) stream.Add(collection->Item(i));
  stream.Close(errorText);
}

std::unique_ptr<RecordStream> SheetFileWriter::OpenStream(const std::string& dataFile, const std::string& schemaFile,
                                                          const std::string& elementName) {
  return std::make_unique<SheetStream>(dataFile, schemaFile, elementName);
}

namespace {

class DispatchReader : public DataFileReader {
 public:
  DispatchReader(std::string encoding, std::shared_ptr<ReadRows> rows) : sheet_(std::move(encoding), std::move(rows)) {}
  void InputXML(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaFile,
                const std::string& elementName, std::string& errorText) override {
    if (SheetFormat(dataFile).empty()) return xml_.InputXML(collection, dataFile, schemaFile, elementName, errorText);
    sheet_.InputXML(collection, dataFile, schemaFile, elementName, errorText);
  }

 private:
  SheetFileReader sheet_;
  XmlDataFileReader xml_;
};

class DispatchWriter : public DataFileWriter {
 public:
  void OutputXML(RecordCollectionPtr& collection, const std::string& dataFile, const std::string& schemaFile,
                 const std::string& elementName, std::string& errorText) override {
    if (SheetFormat(dataFile).empty()) return xml_.OutputXML(collection, dataFile, schemaFile, elementName, errorText);
    sheet_.OutputXML(collection, dataFile, schemaFile, elementName, errorText);
  }
  std::unique_ptr<RecordStream> OpenStream(const std::string& dataFile, const std::string& schemaFile,
                                           const std::string& elementName) override {
    if (SheetFormat(dataFile).empty()) return xml_.OpenStream(dataFile, schemaFile, elementName);
    return sheet_.OpenStream(dataFile, schemaFile, elementName);
  }

 private:
  SheetFileWriter sheet_;
  XmlDataFileWriter xml_;
};

}  // namespace

int32_t ErrorPlaces::RecordOf(const std::string& sErrMsg) const {
  const size_t at = sErrMsg.find(std::string(1, '\r') + kErrInfo + '\r');
  if (at == std::string::npos) return 0;
  const bool unnamed = std::string_view(sErrMsg).substr(0, at).ends_with("当前记录名称为：");
  if (unnamed && (lastRow_ == 0 || lastRate_ >= 100)) return 0;
  return lastRow_ + 1;
}

std::string ErrorPlaces::Annotate(const std::string& sErrMsg, int32_t record, const ErrorDetail* detail) const {
  if (!rows_ || record < 1 || static_cast<size_t>(record) > rows_->sheetRow.size()) return sErrMsg;
  std::string where = "\r表格位置：第 " + std::to_string(rows_->sheetRow[record - 1]) + " 行";
  if (detail && !detail->key.empty()) {
    std::string header = detail->key;
    for (char& c : header)
      if (c == '/') c = '.';  // a nested key is its dotted column
    for (size_t i = 0; i < rows_->columns.size(); ++i)
      if (rows_->columns[i].header == header) {
        where += " " + ColumnLetter(i) + " 列（" + header + "）";
        break;
      }
  }
  return sErrMsg + where;
}

std::shared_ptr<DataFileReader> DispatchingReader(std::string encoding, std::shared_ptr<ReadRows> rows) {
  return std::make_shared<DispatchReader>(std::move(encoding), std::move(rows));
}

std::shared_ptr<DataFileWriter> DispatchingWriter() { return std::make_shared<DispatchWriter>(); }

const std::vector<std::string>& HowToFill() {
  static const std::vector<std::string> lines = {
      "如何填写",
      "每种基础资料一张工作表，表名是它的元素名；整账套引入按工作表的先后无关，按引入顺序进行。",
      "第 1 行是列名（键名），不要改动；第 2 行是说明：含义 | 类型 | 是否必填，引入时跳过。",
      "从第 3 行起每行一条记录。空单元格表示没有这个键；可以删去不需要的列，列的先后不限。",
      "带点的列（如 SettleCurrency.Number）是引用的对象的键，按代码或名称找到已有对象。",
      "类型为“代码”的列已设为文本格式，请保留前导零（001 不要写成 1）。",
      "类型为“0/1”的列只能填 0 或 1；类型为“JSON”的列填记录列表，如 [{\"Number\":\"001\",\"Name\":\"客户\"}]。",
      "引入：morvent import --ledger 账套 --all 本文件.xlsx；单一种类：--type 种类 --file 文件。",
      "出错的行可用 --errors-out 错误.xlsx 取出，改正后直接引入该文件。",
  };
  return lines;
}

struct UseSheetFiles::Scopes {
  Scopes(const std::string& encoding, const std::shared_ptr<ReadRows>& rows)
      : reader(kReaderProgId, [encoding, rows] { return DispatchingReader(encoding, rows); }),
        writer(kWriterProgId, [] { return DispatchingWriter(); }) {}
  ScopedFactory reader, writer;
};

UseSheetFiles::UseSheetFiles(std::string encoding, std::shared_ptr<ReadRows> rows) {
  EnsureComponentsRegistered();
  scopes_ = std::make_unique<Scopes>(encoding, rows);
}

UseSheetFiles::~UseSheetFiles() = default;

}  // namespace morvent::sheets
