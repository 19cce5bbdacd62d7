#include "cli/help.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "cli/suggest.h"

#include "store/ledger_admin.h"

namespace morvent::cli {

namespace {

const std::pair<const char*, const char*> kLabels[] = {
    {"Usage", "用法"},         {"OPTIONS", "选项"},       {"SUBCOMMAND", "子命令"},
    {"SUBCOMMANDS", "子命令"}, {"Positionals", "参数"},   {"REQUIRED", "必填"},
    {"Env", "环境变量"},       {"Needs", "需要"},         {"Excludes", "不能与之同用"},
    {"TEXT", "文本"},          {"INT", "整数"},           {"UINT", "非负整数"},
    {"FLOAT", "数值"},         {"BOOLEAN", "是或否"},     {"Options", "选项"},
    {"Subcommands", "子命令"},
};

// What went wrong, by the kind of the library's error.
template <class E>
bool Is(const CLI::Error& e) {
  return dynamic_cast<const E*>(&e) != nullptr;
}
std::string Headline(const CLI::Error& e) {
  if (Is<CLI::ConversionError>(e)) return "选项的值无法转换";
  if (Is<CLI::RequiredError>(e)) return "缺少必需的参数或子命令";
  if (Is<CLI::ArgumentMismatch>(e)) return "选项的值的个数不对";
  if (Is<CLI::RequiresError>(e)) return "选项缺少必须同时给出的选项";
  if (Is<CLI::ExcludesError>(e)) return "给出了不能同时使用的选项";
  if (Is<CLI::ExtrasError>(e)) return "有无法识别的参数";
  if (Is<CLI::ValidationError>(e)) return "选项的值不合要求";
  return "命令行有误";
}

const char* const kFooter =
    "示例：\n"
    "  morvent ledger demo books.db --acct-type GY\n"
    "  morvent export --ledger books.db --type 部门 --file dept.xml\n"
    "  morvent import --ledger new.db --all exported --on-error skip\n"
    "\n"
    "退出状态：0 全部完成，1 已停止（返回 False、拒绝覆盖），2 用法错误，3 失败，"
    "4 完成但有错误被跳过，5 无法打开账套或数据文件，130 被 Ctrl-C 中断。详见 docs/cli.md。";

std::string Label(const std::string& word) {
  for (const auto& [en, zh] : kLabels)
    if (word == en) return zh;
  return word;
}

// Columns a terminal gives the text: Chinese characters take two.
size_t Columns(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) == 0x80 ? 0 : (c >= 0xE0 ? 2 : 1);
  return n;
}

class ChineseFormatter : public CLI::Formatter {
 public:
  ChineseFormatter() {
    for (const auto& [en, zh] : kLabels) label(en, zh);
  }
  // The library pads by bytes, which misaligns Chinese placeholders.
  std::string make_option(const CLI::Option* opt, bool positional) const override {
    std::string left = "  " + make_option_name(opt, positional) + make_option_opts(opt);
    const std::string desc = make_option_desc(opt);
    const size_t used = Columns(left);
    const std::string pad = used < column_width_ ? std::string(column_width_ - used, ' ')
                                                  : "\n" + std::string(column_width_, ' ');
    return left + pad + desc + "\n";
  }
};

std::string Choices(const std::vector<std::string>& choices, const std::string& given) {
  std::string list;
  for (const auto& c : choices) list += (list.empty() ? "" : "、") + c;
  return "只能是以下之一：" + list + "，不能是“" + given + "”";
}

std::string Braced(const std::vector<std::string>& choices) {
  std::string s = "{";
  for (const auto& c : choices) s += (s.size() > 1 ? "," : "") + c;
  return s + "}";
}

// Every long and short option of app and its subcommands, as typed.
void OptionNames(const CLI::App& app, std::vector<std::string>& names) {
  for (const CLI::Option* opt : app.get_options()) {
    for (const auto& l : opt->get_lnames()) names.push_back("--" + l);
    for (const auto& s : opt->get_snames()) names.push_back("-" + s);
  }
  for (const CLI::App* sub : app.get_subcommands({})) OptionNames(*sub, names);
}

// For each option the library did not expect, the closest it knows.
std::string Suggestions(const CLI::App* app, const CLI::Error& e) {
  if (!app || !Is<CLI::ExtrasError>(e)) return "";
  const std::string what = e.what();
  const size_t colon = what.find(": ");
  if (colon == std::string::npos) return "";
  std::vector<std::string> names;
  OptionNames(*app, names);
  std::string lines;
  std::istringstream words(what.substr(colon + 2));
  for (std::string word; words >> word;) {
    if (word.size() < 2 || word[0] != '-') continue;
    const std::string option = word.substr(0, word.find('='));
    if (auto closest = Closest(option, names)) lines += option + "：是否应为 " + *closest + "？\n";
  }
  return lines;
}

std::string Failure(const CLI::App* app, const CLI::Error& e) {
  std::string what = e.what();
  // The checks of this tool speak Chinese already: say them once.
  const bool chinese = std::any_of(what.begin(), what.end(), [](char c) { return c & 0x80; });
  if (Is<CLI::ValidationError>(e) && chinese) {
    if (auto colon = what.find(": "); colon != std::string::npos) what.replace(colon, 2, "：");
    return "用法错误：" + what + "\n";
  }
  return "用法错误：" + Headline(e) + "\n" + what + "\n" + Suggestions(app, e) + "运行 morvent --help 查看用法\n";
}

void LocalizeCommand(CLI::App& app, const std::shared_ptr<CLI::Formatter>& formatter) {
  app.formatter(formatter);
  app.footer(kFooter);
  app.set_help_flag("-h,--help", "显示此帮助并退出");
  for (CLI::Option* opt : app.get_options()) {
    opt->group(Label(opt->get_group()));
    if (opt->get_type_size() == 0) continue;
    // The placeholder is the value's type, then the descriptions of its checks.
    std::string type = opt->get_type_name();
    type = type.substr(0, type.find(':'));
    opt->type_name(Label(type));
  }
  for (CLI::App* sub : app.get_subcommands({})) {
    sub->group(Label(sub->get_group()));
    LocalizeCommand(*sub, formatter);
  }
}

}  // namespace

void Localize(CLI::App& app) {
  app.name("morvent");
  app.set_version_flag("--version", "morvent " MORVENT_VERSION, "显示版本并退出");
  app.failure_message(Failure);
  LocalizeCommand(app, std::make_shared<ChineseFormatter>());
}

CLI::Validator OneOf(std::vector<std::string> choices) {
  return CLI::Validator(
      [choices](std::string& value) {
        for (const auto& c : choices)
          if (value == c) return std::string();
        return Choices(choices, value);
      },
      Braced(choices));
}

CLI::Validator KnownLedgerKind() {
  std::vector<std::string> codes;
  for (const auto& kind : kLedgerKinds) codes.push_back(kind.code);
  return CLI::Validator(
      [codes](std::string& value) {
        const LedgerKindInfo* kind = FindLedgerKind(value);
        if (!kind) return Choices(codes, value);
        value = kind->code;
        return std::string();
      },
      Braced(codes));
}

CLI::Validator Count() {
  return CLI::Validator(
      [](std::string& value) {
        bool digits = !value.empty() && value.size() <= 9;
        for (char c : value) digits = digits && c >= '0' && c <= '9';
        return digits ? std::string() : "需要 0 或正整数，不能是“" + value + "”";
      },
      "");
}

std::optional<std::string> UnknownCommand(const CLI::App& app, int argc, const char* const* argv) {
  const CLI::App* at = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.empty() || word[0] == '-') return std::nullopt;
    const auto subs = at->get_subcommands({});
    if (subs.empty()) return std::nullopt;
    std::vector<std::string> names;
    const CLI::App* found = nullptr;
    for (const CLI::App* sub : subs) {
      names.push_back(sub->get_name());
      if (sub->get_name() == word) found = sub;
    }
    if (found) {
      at = found;
      continue;
    }
    std::string list;
    for (const auto& n : names) list += (list.empty() ? "" : "、") + n;
    const auto closest = Closest(word, names);
    return "用法错误：没有命令“" + word + "”" + (closest ? "，是否应为 " + *closest + "？" : "（可用的命令：" + list + "）") +
           "\n运行 morvent --help 查看用法\n";
  }
  return std::nullopt;
}

std::string LedgerKindsHelp() {
  std::string s;
  for (const auto& kind : kLedgerKinds) s += std::string(s.empty() ? "" : "；") + kind.code + " " + kind.meaning;
  return s;
}

}  // namespace morvent::cli
