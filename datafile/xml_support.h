#pragma once
// Shared pieces of the data-file writer and reader: ownership of libxml2
// objects, the collection of libxml2's structured errors, and the character
// checks XML 1.0 imposes on text.
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvent::xml {

inline constexpr const char* kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";

// Initialises libxml2 once per process (thread-safe).
void EnsureInitialised();

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

// One problem reported while parsing or validating, with its line (0 when
// unknown).
struct Issue {
  long line = 0;
  std::string message;
  bool ours = false;  // raised by our own structural checks, not by libxml2
  int domain = 0, code = 0;  // libxml2's, for its own errors
};

// Collects errors (warnings are dropped: libxml2 emits spurious ones after
// some validity errors). Install it per parser/validator context.
class IssueSink {
 public:
  static void Structured(void* sink, xmlError* error);
  void Add(Issue issue) { issues_.push_back(std::move(issue)); }
  bool Empty() const { return issues_.empty(); }
  size_t Size() const { return issues_.size(); }
  // The problem that stands first in the file; on one line our own checks
  // win, as they say more than the validator's generic text, and a broken
  // tag wins over what the validator made of it.
  const Issue* First() const;
  // Every problem in file order, one per line (the one First would choose
  // on that line).
  std::vector<const Issue*> ByLine() const;

 private:
  std::vector<Issue> issues_;
};

// Result of scanning a text for what XML 1.0 can hold.
enum class TextCheck { Ok, InvalidUtf8, ForbiddenChar };
// Checks strict UTF-8 (no overlong forms, no surrogates) and that every
// character is one XML 1.0 allows; on failure `bad` receives the code point
// of the forbidden character.
TextCheck CheckXmlText(std::string_view s, char32_t& bad);

// Whether the text is a usable element name (ASCII letters, digits, '_',
// '-', '.', starting with a letter or '_', not starting with "xml").
bool IsPlainElementName(std::string_view name);

// "U+0001" style.
std::string CodePointText(char32_t c);

}  // namespace morvent::xml
