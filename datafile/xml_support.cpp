#include "datafile/xml_support.h"

#include <libxml/parser.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace morvent::xml {

void EnsureInitialised() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
}

void IssueSink::Structured(void* sink, xmlError* error) {
  if (!sink || !error || error->level < XML_ERR_ERROR) return;
  std::string text = error->message ? error->message : "未知错误";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  static_cast<IssueSink*>(sink)->Add(Issue{error->line, std::move(text), false, error->domain, error->code});
}

namespace {
int Rank(const Issue& i) { return i.ours ? 2 : i.domain == XML_FROM_PARSER ? 1 : 0; }
}  // namespace

const Issue* IssueSink::First() const {
  const Issue* best = nullptr;
  for (const auto& i : issues_) {
    if (!best || i.line < best->line || (i.line == best->line && Rank(i) > Rank(*best))) best = &i;
  }
  return best;
}

std::vector<const Issue*> IssueSink::ByLine() const {
  std::vector<const Issue*> all;
  for (const auto& i : issues_) all.push_back(&i);
  std::stable_sort(all.begin(), all.end(), [](const Issue* a, const Issue* b) {
    return a->line != b->line ? a->line < b->line : Rank(*a) > Rank(*b);
  });
  std::vector<const Issue*> out;
  for (const Issue* i : all)
    if (out.empty() || out.back()->line != i->line || i->line == 0) out.push_back(i);
  return out;
}

TextCheck CheckXmlText(std::string_view s, char32_t& bad) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c;
      n = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F;
      n = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F;
      n = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07;
      n = 3;
    } else {
      return TextCheck::InvalidUtf8;
    }
    if (i + n >= s.size() && n > 0) return TextCheck::InvalidUtf8;
    for (size_t k = 1; k <= n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return TextCheck::InvalidUtf8;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
      return TextCheck::InvalidUtf8;
    bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                   (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
    if (!allowed) {
      bad = cp;
      return TextCheck::ForbiddenChar;
    }
    i += n + 1;
  }
  return TextCheck::Ok;
}

bool IsPlainElementName(std::string_view name) {
  if (name.empty()) return false;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!letter(name[0])) return false;
  for (char c : name)
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
  if (name.size() >= 3 && (name[0] == 'x' || name[0] == 'X') && (name[1] == 'm' || name[1] == 'M') &&
      (name[2] == 'l' || name[2] == 'L'))
    return false;
  return true;
}

std::string CodePointText(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

}  // namespace morvent::xml
