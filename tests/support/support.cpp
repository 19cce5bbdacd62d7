#include "tests/support/support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace fs = std::filesystem;

namespace morvent::test {

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "morvent-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

ProgramHome::ProgramHome() : boxes_(std::make_shared<RecordingBoxes>()) {
  for (const auto& entry : fs::directory_iterator(SourceSchemaDir()))
    if (entry.path().extension() == ".xml") fs::copy_file(entry.path(), dir_.path() + "/" + entry.path().filename().string());
  if (const char* h = std::getenv("MORVENT_HOME")) {
    hadHome_ = true;
    previousHome_ = h;
  }
  setenv("MORVENT_HOME", dir_.path().c_str(), 1);
  previousBoxes_ = SetMessageBoxes(boxes_);
}

ProgramHome::~ProgramHome() {
  SetMessageBoxes(previousBoxes_);
  if (hadHome_)
    setenv("MORVENT_HOME", previousHome_.c_str(), 1);
  else
    unsetenv("MORVENT_HOME");
}

void ProgramHome::RemoveSchema(const std::string& name) { fs::remove(dir_.file(name)); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<LogEntry> ReadLogEntries(const std::string& path) {
  std::vector<LogEntry> out;
  xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
  if (!doc) throw std::runtime_error("cannot parse log " + path);
  auto attr = [](xmlNodePtr n, const char* name) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
  };
  for (xmlNodePtr n = xmlDocGetRootElement(doc)->children; n; n = n->next)
    if (n->type == XML_ELEMENT_NODE) out.push_back({attr(n, "Direct"), attr(n, "Time"), attr(n, "ErrMsg")});
  xmlFreeDoc(doc);
  return out;
}

DataRecordPtr Rec(std::vector<std::pair<std::string, Variant>> entries) {
  auto r = NewRecord();
  for (auto& [k, v] : entries) r->SetValue(k, v);
  return r;
}

std::string SourceSchemaDir() { return std::string(MORVENT_SOURCE_DIR) + "/schemas"; }
std::string FixtureDir() { return std::string(MORVENT_SOURCE_DIR) + "/tests/fixtures"; }

}  // namespace morvent::test
