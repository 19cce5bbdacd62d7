#include "store/ledger_recordset.h"

#include "platform/error.h"
#include "platform/text.h"
#include "store/ledger_store.h"

namespace morvent {

namespace {

[[noreturn]] void BadCriteria(const std::string& criteria) { ThrowLedgerError("查找条件无效：" + criteria); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Splits "field = value" into the field and the parsed value; a quoted
// value becomes text with '' read as one apostrophe.
void ParseCriteria(const std::string& criteria, std::string& field, Variant& value) {
  auto eq = criteria.find('=');
  if (eq == std::string::npos) BadCriteria(criteria);
  field = TrimBlanks(criteria.substr(0, eq));
  if (field.empty()) BadCriteria(criteria);
  for (char c : field)
    if (IsBlank(c) || c == '<' || c == '>' || c == '!' || c == '\'') BadCriteria(criteria);
  std::string rest = criteria.substr(eq + 1);
  size_t i = 0;
  while (i < rest.size() && IsBlank(rest[i])) ++i;
  if (i < rest.size() && rest[i] == '\'') {
    std::string text;
    ++i;
    bool closed = false;
    while (i < rest.size()) {
      if (rest[i] == '\'') {
        if (i + 1 < rest.size() && rest[i + 1] == '\'') {
          text += '\'';
          i += 2;
          continue;
        }
        closed = true;
        ++i;
        break;
      }
      text += rest[i++];
    }
    if (!closed) BadCriteria(criteria);
    while (i < rest.size() && IsBlank(rest[i])) ++i;
    if (i != rest.size()) BadCriteria(criteria);
    value = Variant(text);
    return;
  }
  double number = 0;
  std::string tail = TrimBlanks(rest.substr(i));
  if (tail.empty() || !ParseNumber(tail, number)) BadCriteria(criteria);
  value = Variant(number);
}

bool Matches(const Variant& field, const Variant& wanted) {
  if (field.IsNull() || field.IsEmpty() || field.IsObject()) return false;
  if (wanted.IsText()) return field.ToText() == wanted.RawText();
  double d = 0;
  if (field.IsText()) return ParseNumber(field.RawText(), d) && d == wanted.ToDouble();
  return field.ToDouble() == wanted.ToDouble();
}

}  // namespace

RowSet::RowSet(std::vector<std::string> fields) : fields_(std::move(fields)) {}

std::shared_ptr<RowSet> RowSet::FromQuery(Query& query) {
  std::vector<std::string> fields;
  for (int c = 0; c < query.Columns(); ++c) fields.push_back(query.ColumnName(c));
  auto set = std::make_shared<RowSet>(std::move(fields));
  while (query.Next()) {
    std::vector<Variant> row;
    row.reserve(set->fields_.size());
    for (int c = 0; c < query.Columns(); ++c) row.push_back(query.Get(c));
    set->AddRow(std::move(row));
  }
  return set;
}

void RowSet::AddRow(std::vector<Variant> values) {
  values.resize(fields_.size());
  rows_.push_back(std::move(values));
  pos_ = 0;
}

bool RowSet::BOF() const { return rows_.empty(); }
bool RowSet::EOF_() const { return pos_ >= rows_.size(); }
void RowSet::MoveFirst() { pos_ = 0; }

void RowSet::MoveNext() {
  if (EOF_()) ThrowLedgerError("记录集已在末尾，不能再向后移动");
  ++pos_;
}

void RowSet::MoveLast() {
  if (!rows_.empty()) pos_ = rows_.size() - 1;
}

int32_t RowSet::RecordCount() const { return static_cast<int32_t>(rows_.size()); }

int RowSet::FieldIndex(const std::string& name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (EqualsNoCase(fields_[i], name)) return static_cast<int>(i);
  ThrowLedgerError("记录集中没有字段：" + name);
}

void RowSet::Find(const std::string& criteria) {
  std::string field;
  Variant wanted;
  ParseCriteria(criteria, field, wanted);
  int column = FieldIndex(field);
  while (pos_ < rows_.size() && !Matches(rows_[pos_][column], wanted)) ++pos_;
}

Variant RowSet::Field(const std::string& name) const {
  int column = FieldIndex(name);
  if (EOF_()) ThrowLedgerError("没有当前记录（BOF 或 EOF 为真），不能读取字段：" + name);
  return rows_[pos_][column];
}

}  // namespace morvent
