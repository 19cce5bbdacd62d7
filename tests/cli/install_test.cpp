// What the tool installs beside itself: bash completion that follows the
// tool's own help and kinds, and a manual page that keeps up with the help.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "tests/cli/tool.h"

namespace morvent::test {
namespace {

const std::string kSource = MORVENT_SOURCE_DIR;

// What the completion offers for the words typed so far (the last one the
// word being completed).
std::string Complete(const std::string& words) {
  const std::string script = "source " + Quote(kSource + "/cli/morvent.bash") + "; COMP_WORDS=(" + Quote(Tool()) +
                             " " + words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _morvent; "
                             "echo \"${COMPREPLY[*]}\"";
  std::string out = RunCommand("bash -c " + Quote(script) + " </dev/null 2>&1").out;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

TEST(ToolInstall, CompletionOffersCommandsOptionsAndKinds) {
  struct Case {
    const char* words;
    const char* want;
  };
  const Case cases[] = {
      {"ex", "export"},
      {"ledger i", "init info"},
      {"export --ty", "--type"},
      {"import --dry", "--dry-run"},
      {"log -", "--tail -h --help"},
      {"export --type Dep", "Department"},
      {"import --type 12", "120 121 122"},
      {"export --acct-type G", "GY"},
      {"import --on-error s", "stop skip"},
      {"--ver", "--version"},
  };
  for (const Case& c : cases) EXPECT_EQ(Complete(c.words), c.want) << c.words;
}

// The long options a command's help lists under its heading "选项".
std::set<std::string> HelpOptions(const std::string& command) {
  const std::string help = RunCommand(Quote(Tool()) + " " + command + " --help 2>&1").out;
  std::set<std::string> options;
  const size_t from = help.find("选项:");
  const std::string part = help.substr(from, help.find("\n\n", from) - from);
  static const std::regex option("\n  (?:-[a-zA-Z],)?--([a-z][a-z-]*)");
  for (std::sregex_iterator it(part.begin(), part.end(), option), end; it != end; ++it) options.insert((*it)[1]);
  return options;
}

TEST(ToolInstall, TheManualPageNamesEveryCommandAndOption) {
  const std::string page = ReadFile(kSource + "/docs/morvent.1");
  for (const char* command :
       {"", "export", "import", "check", "template", "ledger", "ledger init", "ledger demo", "ledger info", "compare", "types", "log", "serve"}) {
    SCOPED_TRACE(command);
    const std::set<std::string> options = HelpOptions(command);
    EXPECT_FALSE(options.empty());
    for (const auto& o : options)
      EXPECT_NE(page.find("\\-\\-" + o), std::string::npos) << "--" << o << " is not in the manual page";
    const std::string name = std::string(command).substr(std::string(command).find_last_of(' ') + 1);
    if (*command) EXPECT_NE(page.find(name), std::string::npos);
  }
}

}  // namespace
}  // namespace morvent::test
