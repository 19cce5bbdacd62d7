#include "context/props.h"

#include "platform/error.h"

namespace morvent {

ConnectionContext& Context() {
  thread_local ConnectionContext context;
  return context;
}

std::string SplitFirst(std::string& text, const std::string& separator) {
  if (text.empty()) return "";
  auto p = text.find(separator);
  if (p == std::string::npos) {
    std::string all = std::move(text);
    text.clear();
    return all;
  }
  std::string first = text.substr(0, p);
  text.erase(0, p + separator.size());
  return first;
}

std::string NextKey(std::string& text) { return TrimBlanks(SplitFirst(text, "=")); }

std::string NextValue(std::string& text) {
  text = TrimBlanks(text);
  std::string value;
  if (!text.empty() && text.front() == '{') {
    text.erase(0, 1);
    value = SplitFirst(text, "}");
    SplitFirst(text, ";");
  } else {
    value = SplitFirst(text, ";");
  }
  return TrimBlanks(value);
}

namespace {
void ParseInto(PropertyTable& table, const std::string& propsString) {
  std::string rest = propsString;
  while (true) {
    std::string key = NextKey(rest);
    std::string value = NextValue(rest);
    if (key.empty()) break;
    if (!table.emplace(key, value).second)
      throw Error(kErrKeyExists, "Morvent", "该关键字已经与该集合的一个元素相关联：" + key);
  }
}
}  // namespace

PropertyTable ParsePropertyString(const std::string& propsString) {
  PropertyTable table;
  ParseInto(table, propsString);
  return table;
}

bool ParseProps(const std::string& propsString) {
  auto& table = Context().props;
  table.clear();
  ParseInto(table, propsString);
  return true;
}

std::string GetProp(const std::string& key) {
  const auto& table = Context().props;
  auto it = table.find(key);
  if (it == table.end()) throw Error(kErrKeyMissing, "Morvent", "属性串中没有关键字：" + key);
  return it->second;
}

namespace {
[[noreturn]] void RefuseValue(std::string_view value, const std::string& why) {
  throw Error(kErrInvalidCall, "Morvent", "属性串无法原样容纳这个值（" + why + "）：「" + std::string(value) + "」");
}
}  // namespace

std::string PropertyValue(std::string_view value) {
  if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) RefuseValue(value, "首尾有空格，读取时会被去掉");
  const bool needsBraces = value.find(';') != std::string_view::npos || (!value.empty() && value.front() == '{');
  if (!needsBraces) return std::string(value);
  if (value.find('}') != std::string_view::npos)
    RefuseValue(value, value.front() == '{' ? "以 { 开头又含有 }" : "含有 ; 又含有 }");
  return "{" + std::string(value) + "}";
}

std::string LedgerPropertyString(std::string_view path, std::string_view acctType) {
  std::string props = "Data Source=" + PropertyValue(path);
  if (!acctType.empty()) props += ";AcctType=" + PropertyValue(acctType);
  return props;
}

bool IsAcctTypeGY() {
  // Asked per imported record: no copies of the key or the value.
  const auto& table = Context().props;
  auto it = table.find(std::string_view("AcctType"));
  if (it == table.end()) return ToUpperAscii(GetProp("AcctType")) == "GY";  // raises the missing key
  return EqualsNoCase(it->second, "GY");
}

}  // namespace morvent
