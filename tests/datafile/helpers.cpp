#include "tests/datafile/helpers.h"

#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include "platform/registry.h"

namespace morvent::test {

void WriteWithComponent(RecordCollectionPtr collection, const std::string& file, const std::string& element,
                        const std::string& schemaDir) {
  EnsureComponentsRegistered();
  auto writer = CreateObjectAs<DataFileWriter>(kWriterProgId);
  std::string error;
  writer->OutputXML(collection, file, schemaDir + "/Schema" + element + ".xml", element, error);
}

std::string ReadWithComponent(RecordCollectionPtr& collection, const std::string& file, const std::string& element,
                              const std::string& schemaDir) {
  EnsureComponentsRegistered();
  auto reader = CreateObjectAs<DataFileReader>(kReaderProgId);
  std::string error;
  reader->InputXML(collection, file, schemaDir + "/Schema" + element + ".xml", element, error);
  return error;
}

RecordCollectionPtr List(std::vector<DataRecordPtr> records) {
  auto c = std::make_shared<RecordCollection>();
  for (auto& r : records) c->Add(r);
  return c;
}

std::string Describe(const RecordCollection& c) {
  std::string s = "[";
  for (int32_t i = c.LBound(); i <= c.UBound(); ++i) s += (i > 1 ? "," : "") + Describe(c.Item(i));
  return s + "]";
}

std::string Describe(const Variant& v) {
  if (v.IsNull()) return "null";
  if (v.IsEmpty()) return "empty";
  if (auto r = v.As<DataRecord>()) {
    std::string s = "{";
    bool first = true;
    for (const auto& [k, val] : r->Entries()) {
      s += (first ? "" : ",") + k + "=" + Describe(val);
      first = false;
    }
    return s + "}";
  }
  if (auto c = v.As<RecordCollection>()) return Describe(*c);
  if (v.IsObject()) return "object";
  return "\"" + v.ToText() + "\"";
}

std::string ValidateWithLibxml(const std::string& file, const std::string& schema) {
  std::string problem;
  auto collect = [](void* ctx, xmlError* e) {
    auto* p = static_cast<std::string*>(ctx);
    if (p->empty() && e && e->level >= XML_ERR_ERROR) *p = std::to_string(e->line) + ": " + (e->message ? e->message : "");
  };
  xmlSchemaParserCtxt* pc = xmlSchemaNewParserCtxt(schema.c_str());
  xmlSchemaSetParserStructuredErrors(pc, collect, &problem);
  xmlSchema* s = xmlSchemaParse(pc);
  xmlSchemaFreeParserCtxt(pc);
  if (!s) return problem.empty() ? "schema does not parse" : problem;
  xmlSchemaValidCtxt* vc = xmlSchemaNewValidCtxt(s);
  xmlSchemaSetValidStructuredErrors(vc, collect, &problem);
  int rc = xmlSchemaValidateFile(vc, file.c_str(), XML_PARSE_NONET);
  xmlSchemaFreeValidCtxt(vc);
  xmlSchemaFree(s);
  if (rc != 0 && problem.empty()) problem = "invalid (" + std::to_string(rc) + ")";
  return problem;
}

}  // namespace morvent::test
