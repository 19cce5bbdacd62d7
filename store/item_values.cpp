#include "store/item_values.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/error.h"

namespace morvent {

namespace {

// Only what JSON requires is escaped; every other byte is kept as it is, so
// a text that is no UTF-8 still reads back whole.
void Quote(std::string& out, std::string_view text) {
  static const char* const kHex = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
          out += "\\u00";
          out += kHex[u >> 4];
          out += kHex[u & 15];
      }
    } else {
      out += c;
    }
  }
  out += '"';
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

bool Hex4(std::string_view in, size_t at, uint32_t& out) {
  if (at + 4 > in.size()) return false;
  out = 0;
  for (size_t i = at; i < at + 4; ++i) {
    const char c = in[i];
    out <<= 4;
    if (c >= '0' && c <= '9') out |= static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f') out |= static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') out |= static_cast<uint32_t>(c - 'A' + 10);
    else return false;
  }
  return true;
}

}  // namespace

void ItemValuesWriter::Key(std::string_view field) {
  text_ += text_.empty() ? '{' : ',';
  Quote(text_, field);
  text_ += ':';
}

void ItemValuesWriter::AddInt(std::string_view field, int64_t value) {
  Key(field);
  char buf[24];
  const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  text_.append(buf, static_cast<size_t>(end - buf));
}

void ItemValuesWriter::AddReal(std::string_view field, double value) {
  if (std::isnan(value)) return;  // SQLite stores NaN as NULL: no value
  Key(field);
  if (std::isinf(value)) {
    text_ += value < 0 ? "-9e999" : "9e999";
    return;
  }
  char buf[32];
  const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  text_.append(buf, static_cast<size_t>(end - buf));
  // "5" would read back as a whole number.
  if (std::string_view(buf, static_cast<size_t>(end - buf)).find_first_of(".e") == std::string_view::npos) text_ += ".0";
}

void ItemValuesWriter::AddText(std::string_view field, std::string_view value) {
  Key(field);
  Quote(text_, value);
}

void ItemValuesWriter::AddNull(std::string_view field) {
  Key(field);
  text_ += "null";
}

void ItemValuesWriter::Add(std::string_view field, const Variant& value) {
  switch (value.Type()) {
    case VarType::Empty:
    case VarType::Null: return;
    case VarType::Boolean: return AddInt(field, value.RawBool() ? 1 : 0);
    case VarType::Integer:
    case VarType::Long: return AddInt(field, value.ToLong());
    case VarType::Double: return AddReal(field, value.ToDouble());
    case VarType::Date: return AddReal(field, value.ToDate().serial);
    case VarType::String: return AddText(field, value.RawText());
    case VarType::Object: break;
  }
  ThrowTypeMismatch();
}

std::string ItemValuesWriter::Take() {
  if (text_.empty()) return "{}";
  text_ += '}';
  return std::move(text_);
}

namespace item_values_detail {

void Reader::Space() {
  while (at < in.size() && (in[at] == ' ' || in[at] == '\n' || in[at] == '\t' || in[at] == '\r')) ++at;
}

bool Reader::String(std::string& out) {
  if (at >= in.size() || in[at] != '"') return false;
  ++at;
  out.clear();
  for (;;) {
    // Runs without escapes are copied whole.
    const size_t stop = in.find_first_of("\"\\", at);
    if (stop == std::string_view::npos) return false;
    out.append(in.substr(at, stop - at));
    at = stop + 1;
    if (in[stop] == '"') return true;
    if (at >= in.size()) return false;
    const char e = in[at++];
    switch (e) {
      case '"': case '\\': case '/': out += e; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'u': {
        uint32_t cp = 0;
        if (!Hex4(in, at, cp)) return false;
        at += 4;
        uint32_t low = 0;
        if (cp >= 0xD800 && cp < 0xDC00 && at + 1 < in.size() && in[at] == '\\' && in[at + 1] == 'u' &&
            Hex4(in, at + 2, low) && low >= 0xDC00 && low < 0xE000) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          at += 6;
        }
        AppendUtf8(out, cp);
        break;
      }
      default: return false;
    }
  }
}

bool Reader::Value(Variant& out, bool& null) {
  if (at >= in.size()) return false;
  const char c = in[at];
  if (c == '"') {
    if (!String(text)) return false;
    out = Variant(text);
    return true;
  }
  auto word = [&](std::string_view w) {
    if (in.substr(at, w.size()) != w) return false;
    at += w.size();
    return true;
  };
  if (c == 'n') return (null = true, word("null"));
  if (c == 't') return (out = Variant(int32_t{1}), word("true"));
  if (c == 'f') return (out = Variant(int32_t{0}), word("false"));
  size_t end = at;
  bool real = false;
  while (end < in.size()) {
    const char d = in[end];
    if (d == '.' || d == 'e' || d == 'E') real = true;
    else if (!((d >= '0' && d <= '9') || d == '-' || d == '+')) break;
    ++end;
  }
  if (end == at) return false;
  const char* first = in.data() + at;
  const char* last = in.data() + end;
  at = end;
  if (!real) {
    int64_t n = 0;
    auto [p, ec] = std::from_chars(first, last, n);
    if (ec == std::errc() && p == last) {
      if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max())
        out = Variant(static_cast<int32_t>(n));
      else
        out = Variant(static_cast<double>(n));
      return true;
    }
    if (ec != std::errc::result_out_of_range) return false;
  }
  double d = 0;
  auto [p, ec] = std::from_chars(first, last, d);
  if (p != last) return false;
  if (ec == std::errc::result_out_of_range) {
    // Past the largest double is infinity; below the smallest, zero.
    const bool negative = *first == '-';
    const size_t exp = std::string_view(first, static_cast<size_t>(last - first)).find_first_of("eE");
    const bool tiny = exp != std::string_view::npos && first[exp + 1] == '-';
    d = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    if (negative) d = -d;
  } else if (ec != std::errc()) {
    return false;
  }
  out = Variant(d);
  return true;
}

}  // namespace item_values_detail

}  // namespace morvent
