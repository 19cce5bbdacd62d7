#include "platform/error.h"

#include "platform/text.h"

namespace morvent {

namespace {
const char* ExpectedText(Expected e) {
  switch (e) {
    case Expected::Text: return "文本";
    case Expected::Number: return "数字";
    case Expected::Date: return "日期";
    case Expected::Flag: return " 0 或 1";
    default: return "";
  }
}
}  // namespace

const char* ErrorDetail::KindName(Expected e) {
  switch (e) {
    case Expected::None: return "";
    case Expected::Text: return "text";
    case Expected::Number: return "number";
    case Expected::Date: return "date";
    case Expected::Flag: return "flag";
    case Expected::InRange: return "range";
    case Expected::Object: return "object";
  }
  return "";
}

std::string ErrorDetail::Line() const {
  if (!AboutValue()) return {};
  std::string line = key.empty() ? std::string("值") : "键 " + key + " 的值";
  line += valueIsNull ? "为 Null，" : "“" + value + "”";
  switch (expected) {
    case Expected::InRange: return line + "超出了允许的范围";
    case Expected::Object: return line + "不是已有的" + object;
    default: return line + (valueIsNull ? "应为" : "不是") + ExpectedText(expected);
  }
}

Error& Error::About(std::string_view value, Expected expected, std::string object) {
  ErrorDetail d = detail_ ? *detail_ : ErrorDetail{};
  d.value = CharLength(value) > kDetailValueChars ? LeftChars(value, kDetailValueChars) : std::string(value);
  d.valueIsNull = false;
  d.expected = expected;
  d.object = std::move(object);
  return WithDetail(std::move(d));
}

Error& Error::AboutNull(Expected expected) {
  ErrorDetail d = detail_ ? *detail_ : ErrorDetail{};
  d.value.clear();
  d.valueIsNull = true;
  d.expected = expected;
  return WithDetail(std::move(d));
}

void ThrowTypeMismatch() { throw Error(kErrTypeMismatch, "Morvent", "类型不匹配"); }
void ThrowTypeMismatch(std::string_view value, Expected expected) {
  throw Error(kErrTypeMismatch, "Morvent", "类型不匹配").About(value, expected);
}
void ThrowOverflow() { throw Error(kErrOverflow, "Morvent", "溢出"); }
void ThrowOverflow(std::string_view value) {
  throw Error(kErrOverflow, "Morvent", "溢出").About(value, Expected::InRange);
}
void ThrowInvalidNull() { throw Error(kErrInvalidNull, "Morvent", "无效使用 Null"); }
void ThrowInvalidNull(Expected expected) {
  throw Error(kErrInvalidNull, "Morvent", "无效使用 Null").AboutNull(expected);
}
void ThrowObjectNotSet() { throw Error(kErrObjectNotSet, "Morvent", "对象变量未设置"); }
void ThrowNotSupported(const std::string& member) {
  throw Error(kErrNotSupported, "Morvent", "对象不支持该属性或方法：" + member);
}

Error ToError(const std::exception& e) {
  if (auto* err = dynamic_cast<const Error*>(&e)) return *err;
  if (dynamic_cast<const std::bad_alloc*>(&e)) return Error(7, "Morvent", "内存不足");
  return Error(kAppErrorBase + 0x0fff, "Morvent", e.what());
}

}  // namespace morvent
