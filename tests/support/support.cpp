#include "tests/support/support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

std::string InChild(const std::function<std::string()>& fn) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string message = fn();
    _exit(write(fds[1], message.data(), message.size()) == static_cast<ssize_t>(message.size()) ? 0 : 3);
  }
  close(fds[1]);
  std::string message;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child ended with " << status;
  return message;
}

}  // namespace morvent::test
