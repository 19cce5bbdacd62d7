#pragma once
// What the reader harnesses ask of one data file: the reader answers records
// or an error text, never crashes, and a file it accepted (up to
// roundTripBytes) is written back and read again to the same records.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "datafile/xml_reader.h"
#include "datafile/xml_writer.h"
#include "fuzz/fuzz_support.h"
#include "platform/error.h"

namespace morvent::fuzz {

inline std::string Describe(const Variant& v);

inline std::string Describe(const RecordCollection& c) {
  std::string s = "[";
  for (int32_t i = c.LBound(); i <= c.UBound(); ++i) s += Describe(Variant(c.Item(i))) + ",";
  return s + "]";
}

inline std::string Describe(const Variant& v) {
  if (v.IsNull()) return "null";
  if (auto r = v.As<DataRecord>()) {
    std::string s = "{";
    for (const auto& [k, val] : r->Entries()) s += k + "=" + Describe(val) + ",";
    return s + "}";
  }
  if (auto c = v.As<RecordCollection>()) return Describe(*c);
  return "\"" + v.ToText() + "\"";
}

inline void ReadAndCheck(const Kind& kind, std::string_view bytes, size_t roundTripBytes = SIZE_MAX) {
  const std::string file = WorkDir() + "/in.xml", again = WorkDir() + "/again.xml";
  const std::string schema = SchemaDir() + "/Schema" + kind.element + ".xml";
  WriteBytes(file, bytes);

  XmlDataFileReader reader;
  RecordCollectionPtr records = std::make_shared<RecordCollection>();
  std::string error;
  reader.InputXML(records, file, schema, kind.element, error);
  if (!records) std::abort();
  if (!error.empty() || bytes.size() > roundTripBytes) return;

  // A value the writer refuses (a character XML cannot hold came in through
  // a reference) is a refusal, not a loss.
  XmlDataFileWriter writer;
  std::string writeError;
  try {
    writer.OutputXML(records, again, schema, kind.element, writeError);
  } catch (const Error&) {
    return;
  }
  RecordCollectionPtr back = std::make_shared<RecordCollection>();
  reader.InputXML(back, again, schema, kind.element, error);
  if (!error.empty() || Describe(*records) != Describe(*back)) std::abort();
}

}  // namespace morvent::fuzz
