#pragma once
// What an export may write over, and where the writing really lands.
//
// A data file replaces its target whole. That is only sound for a regular
// file: a FIFO, device, socket or directory in the target's place is
// refused, and so is any file of the ledger named by the current property
// string ("Data Source", and its -wal, -shm and -journal files), compared
// by device and inode and by canonical path, never by spelling. A symlink
// is followed: the file it points to is replaced and the link stays.
#include <string>

namespace morvent::xml {

// Why the target may not be written ("" when it may): "不是普通文件（命名管道）"
// or "是当前账套的文件".
std::string TargetProblem(const std::string& target);

// The warning an export shows for a refused target.
std::string TargetRefusedText(const std::string& target, const std::string& problem);

// The file writing the target replaces: the target, or the end of its chain
// of symlinks (which may not exist yet).
std::string RealTarget(const std::string& target);

// A name in the folder of `path` for a file or folder that becomes it, or
// helps make it: ".<name>.morvent-<pid>-<n>.tmp", unique in this process.
std::string TempNameBeside(const std::string& path);

// Removes from `dir` what such names of processes that are gone left
// behind (a run killed before it could clean up), files and folders, with
// anything a library appended to the name (".tmp.XXXXXX"). A name of a
// live process, or any other name, is left alone.
void RemoveStaleTemps(const std::string& dir);

}  // namespace morvent::xml
