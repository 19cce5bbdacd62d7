#include "cli/check.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "platform/private_folder.h"
#include "platform/text.h"
#include "store/ledger_admin.h"

namespace morvent::cli {

namespace fs = std::filesystem;

namespace {

}  // namespace

int RunCheck(RunOptions options) {
  PrivateFolder folder("morvent-check-");
  if (folder.path().empty()) {
    std::cerr << "失败：无法在 " << ForTerminal(fs::temp_directory_path().string()) << " 中创建临时文件夹" << std::endl;
    return kExitError;
  }
  options.ledger = folder.path() + "/check.db";
  try {
    CreateLedger(options.ledger, options.acctType.empty() ? "QY" : options.acctType);
  } catch (const std::exception& e) {
    std::cerr << "失败：无法创建用于检查的临时账套：" << ForTerminal(e.what(), false) << std::endl;
    return kExitError;
  }
  options.onError = "skip";
  options.warningIsFinding = true;
  const int status = RunImport(options);
  // A file refused as a whole stops the import (1); for a check that is a
  // finding like any other.
  if (status == kExitTrue || status == kExitLetPass || status == kExitFalse) {
    const bool clean = status == kExitTrue;
    if (options.events != "jsonl") std::cerr << (clean ? "检查完毕：没有发现问题" : "检查完毕：发现问题，见上") << std::endl;
    return clean ? kExitTrue : kExitLetPass;
  }
  return status;
}

}  // namespace morvent::cli
