#pragma once
// Runs the built tool as a user would: a real process with the program home
// of the test and stdin closed.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace morvent::test {

struct Outcome {
  int status = -1;
  std::string out;
};

// The tool is built beside the test executable.
inline std::string Tool() {
  if (const char* bin = std::getenv("MORVENT_BIN")) return std::string(bin) + "/morvent";
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  return self.substr(0, self.find_last_of('/')) + "/morvent";
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs the tool with the program home of the test, stdin closed.
// The shell command: stderr goes to stderr.txt in the program home.
inline std::string ToolCommand(const ProgramHome& home, const std::string& args) {
  return "MORVENT_HOME=" + Quote(home.path()) + " " + Quote(Tool()) + " " + args + " </dev/null 2>" +
         Quote(home.file("stderr.txt"));
}

// Runs a shell command and reads all its output.
inline Outcome RunCommand(const std::string& command) {
  Outcome o;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return o;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) o.out.append(buf.data(), n);
  int rc = pclose(p);
  o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return o;
}

inline Outcome RunTool(const ProgramHome& home, const std::string& args) { return RunCommand(ToolCommand(home, args)); }
// The same in the working directory dir, where relative paths are found.
inline Outcome RunToolIn(const ProgramHome& home, const std::string& dir, const std::string& args) {
  return RunCommand("cd " + Quote(dir) + " && " + ToolCommand(home, args));
}

// Runs the tool, reads the first lines of its output and closes the pipe, as
// "| head -n" does; those lines are in out. With after, the lines before the
// first holding it (and that line) are read and dropped first.
inline Outcome RunToolReadingLines(const ProgramHome& home, const std::string& args, int lines,
                                   const std::string& after = "") {
  Outcome o;
  FILE* p = popen(ToolCommand(home, args).c_str(), "r");
  if (!p) return o;
  std::array<char, 4096> buf{};
  if (!after.empty())
    while (fgets(buf.data(), static_cast<int>(buf.size()), p) && std::string(buf.data()).find(after) == std::string::npos) {
    }
  for (int i = 0; i < lines && fgets(buf.data(), static_cast<int>(buf.size()), p); ++i) o.out += buf.data();
  int rc = pclose(p);
  o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return o;
}
inline Outcome RunToolReadingOneLine(const ProgramHome& home, const std::string& args) {
  return RunToolReadingLines(home, args, 1);
}

// A department data file of count records, D1 部门1 to Dcount 部门count.
inline std::string DepartmentsXml(int count) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DepartmentList>\n";
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    xml += "<Department><Number>D" + n + "</Number><Name>部门" + n + "</Name></Department>\n";
  }
  return xml + "</DepartmentList>\n";
}

inline std::vector<nlohmann::ordered_json> Lines(const std::string& out) {
  std::vector<nlohmann::ordered_json> v;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) v.push_back(nlohmann::ordered_json::parse(line));
  return v;
}

}  // namespace morvent::test
