#include "platform/error.h"

namespace morvent {

void ThrowTypeMismatch() { throw Error(kErrTypeMismatch, "Morvent", "类型不匹配"); }
void ThrowOverflow() { throw Error(kErrOverflow, "Morvent", "溢出"); }
void ThrowInvalidNull() { throw Error(kErrInvalidNull, "Morvent", "无效使用 Null"); }
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
