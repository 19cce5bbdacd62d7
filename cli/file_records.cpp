#include "cli/file_records.h"

#include <libxml/xmlreader.h>

#include <memory>

namespace morvent::cli {

std::optional<int64_t> FileRecords(const std::string& path) {
  // No network, no entities: the count must not fetch or expand anything.
  std::unique_ptr<xmlTextReader, void (*)(xmlTextReaderPtr)> reader(
      xmlReaderForFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
      xmlFreeTextReader);
  if (!reader) return std::nullopt;
  int64_t records = 0;
  int r;
  while ((r = xmlTextReaderRead(reader.get())) == 1)
    if (xmlTextReaderNodeType(reader.get()) == XML_READER_TYPE_ELEMENT && xmlTextReaderDepth(reader.get()) == 1) ++records;
  if (r != 0) return std::nullopt;
  return records;
}

std::string RowsAndRecords(const std::string& element, int64_t rows, std::optional<int64_t> records) {
  if (!records || *records == rows) return std::to_string(rows) + " 行";
  // Assist details are exported a category at a time, units a group.
  const std::string word = element == "AssistDetail" ? " 类，" : " 组，";
  return std::to_string(rows) + word + std::to_string(*records) + " 条";
}

}  // namespace morvent::cli
