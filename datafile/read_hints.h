#pragma once
// Plain words for the mistakes a hand-edited data file most often holds: a
// GBK file read as UTF-8, an unknown or repeated key, text where a record
// belongs, a bare "&", a file cut short. The explanation comes first; the
// parser's own text follows for whoever knows it, as
// "<explanation>（解析器原文：<parser's text>）".
#include <libxml/xmlerror.h>

#include <string>
#include <string_view>

#include "datafile/input_file.h"
#include "datafile/schema_model.h"
#include "datafile/xml_support.h"

namespace morvent::xml {

// A '&' in text that starts no reference.
inline constexpr const char* kBareAmpersandText = "文本中有单独的“&”：XML 中的 & 须写成 &amp;（例如 A&amp;B）";

// The text of a well-formedness error of the data file, raised by the
// parser whose context is still alive (it tells whether the file ended
// inside an element). `text` is the parser's own, trimmed; `file` is read
// again only for an encoding error.
std::string ParseErrorText(const xmlError& error, const std::string& text, const InputFile& file,
                           const std::string& rootName);

// The text of a problem found while reading: a validator's error with its
// explanation put first; anything else unchanged.
std::string ExplainedIssue(const Issue& issue, const DataFileShape& shape);

// "元素 Customer 中有未知的键 Nmae：…", naming the declared key it most
// likely stands for.
std::string UnknownKeyText(const std::string& element, const std::string& key, const ShapeNode& shape);
std::string RepeatedKeyText(const std::string& element, const std::string& key);

// Whether bytes that are not UTF-8 start with a Chinese character in GBK /
// GB18030 (a two- or four-byte character that decodes to a CJK character).
bool LooksLikeGbk(std::string_view bytes);

// The declared key nearest to `key` (same letters in another case, or one
// or two typing slips away), or "" when none is near.
std::string NearestKey(const std::string& key, const ShapeNode& shape);

}  // namespace morvent::xml
