#pragma once
// The property string parser and the per-thread connection context.
//
// A property string is key=value pairs separated by ";"; a value holding ";"
// is enclosed in braces (context/property_string.h writes values so). Keys compare without regard to letter case and may
// occur once; values are trimmed.
#include <cstdint>
#include <map>
#include <string>

#include "context/property_string.h"
#include "platform/text.h"

namespace morvent {

using PropertyTable = std::map<std::string, std::string, NoCaseLess>;

// Splits text at the first separator: answers the first piece and leaves the
// rest in text (or empties text when the separator is absent).
std::string SplitFirst(std::string& text, const std::string& separator);
std::string NextKey(std::string& text);
std::string NextValue(std::string& text);

// Parses a property string into a table without touching the thread's
// context (the ledger reads its "Data Source" this way).
PropertyTable ParsePropertyString(const std::string& propsString);

// Replaces the thread's property table by the pairs of the string. A key
// that occurs twice raises the duplicate-key error; the pairs before it stay.
bool ParseProps(const std::string& propsString);
// The value of a key of the current table; an absent key raises an error.
std::string GetProp(const std::string& key);
// Whether "AcctType", upper-cased, is "GY".
bool IsAcctTypeGY();

// The connection context of the calling thread.
struct ConnectionContext {
  PropertyTable props;
  std::string gPropsString;
  int32_t gImpStyle = 0;
  int32_t gCodingStyle = 0;
};
ConnectionContext& Context();

}  // namespace morvent
