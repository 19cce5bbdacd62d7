#pragma once
// The tool's own words around the argument library: Chinese help and usage
// errors, and the checks of option values, so a bad value is refused before
// any work with exit status 2.
#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

namespace morvent::cli {

// Names the program "morvent", gives it --version and puts every text the
// argument library prints into Chinese: labels, group titles, the help flag
// of every subcommand, the examples ending --help and the usage errors
// (a Chinese line, then the library's own text when it has one). Call it
// after every option and subcommand is registered.
void Localize(CLI::App& app);

// A value among choices (exact spelling); the message lists them.
CLI::Validator OneOf(std::vector<std::string> choices);
// A kind the ledger knows (any letter case), turned into its own spelling.
CLI::Validator KnownLedgerKind();
// A whole number of zero or more, for counts such as --tail.
CLI::Validator Count();

// The usage error for a word where a command belongs that names none of
// app's commands (or of the command before it), with the closest one.
std::optional<std::string> UnknownCommand(const CLI::App& app, int argc, const char* const* argv);

// The help text of --acct-type: every known kind with its meaning.
std::string LedgerKindsHelp();

}  // namespace morvent::cli
