#pragma once
// morvent check: data files looked over without the user's ledger.
#include "cli/commands.h"

namespace morvent::cli {

// Imports the files of options (--type/--file or --all) into a fresh ledger
// of options.acctType (QY when empty) in a folder of its own, letting every
// error pass, so that the import tells every problem it meets: the schema,
// each value's conversion, numbers given twice, parents neither in the file
// nor creatable. The folder is removed at the end. Answers 0 when nothing
// was found, 4 when something was, 5 when a file cannot be opened.
int RunCheck(RunOptions options);

}  // namespace morvent::cli
