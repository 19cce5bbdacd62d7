// The data-file reader on any bytes: it answers records or an error text,
// never crashes, and a file it accepted is written back and read again to
// the same records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "datafile/xml_reader.h"
#include "datafile/xml_writer.h"
#include "fuzz/fuzz_support.h"
#include "platform/error.h"

namespace {

using namespace morvent;

std::string Describe(const Variant& v);

std::string Describe(const RecordCollection& c) {
  std::string s = "[";
  for (int32_t i = c.LBound(); i <= c.UBound(); ++i) s += Describe(Variant(c.Item(i))) + ",";
  return s + "]";
}

std::string Describe(const Variant& v) {
  if (v.IsNull()) return "null";
  if (auto r = v.As<DataRecord>()) {
    std::string s = "{";
    for (const auto& [k, val] : r->Entries()) s += k + "=" + Describe(val) + ",";
    return s + "}";
  }
  if (auto c = v.As<RecordCollection>()) return Describe(*c);
  return "\"" + v.ToText() + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvent::fuzz;
  if (size < 1) return 0;
  const Kind& kind = KindOf(data[0]);
  const std::string file = WorkDir() + "/in.xml", again = WorkDir() + "/again.xml";
  const std::string schema = SchemaDir() + "/Schema" + kind.element + ".xml";
  WriteBytes(file, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));

  XmlDataFileReader reader;
  RecordCollectionPtr records = std::make_shared<RecordCollection>();
  std::string error;
  reader.InputXML(records, file, schema, kind.element, error);
  if (!records) std::abort();
  if (!error.empty()) return 0;

  // What was read must survive a write and a second read unchanged. A value
  // the writer refuses (a character XML cannot hold came in through a
  // reference) is a refusal, not a loss.
  XmlDataFileWriter writer;
  std::string writeError;
  try {
    writer.OutputXML(records, again, schema, kind.element, writeError);
  } catch (const Error&) {
    return 0;
  }
  RecordCollectionPtr back = std::make_shared<RecordCollection>();
  reader.InputXML(back, again, schema, kind.element, error);
  if (!error.empty() || Describe(*records) != Describe(*back)) std::abort();
  return 0;
}
