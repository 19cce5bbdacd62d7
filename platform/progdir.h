#pragma once
// The program's own directory: where the schema files and the exchange log
// lie. It is the directory of the running module, unless MORVENT_HOME names
// another one. Schemas and the log are looked up apart: a MORVENT_HOME that
// holds no schema file (Schema*.xml) serves the log only, and the schemas
// are then found as without it.
#include <string>
#include <vector>

namespace morvent {

std::string ProgramDirectory();
// The user's own folder for what the program keeps between runs when its
// directory cannot be written: $XDG_STATE_HOME/morvent, else
// $HOME/.local/state/morvent ("" with neither set to an absolute path).
std::string StateDirectory();
// Whether dir is a folder this process may create files in.
bool FolderWritable(const std::string& dir);

// Full path of a schema file. MORVENT_HOME, when it holds schema files, is
// the one place looked in. Otherwise the file beside the program comes
// first; a program installed as PREFIX/bin/morvent (or a shared library in
// PREFIX/LIBDIR) finds it in PREFIX/share/morvent/schemas.
// Found nowhere, the path beside the program is answered, so the caller's
// "not found" message names the first place looked in.
std::string SchemaFilePath(const std::string& fileName);
// The same rule from a given program directory, MORVENT_HOME aside.
std::string SchemaFilePath(const std::string& programDir, const std::string& fileName);
// The folders SchemaFilePath looks in, in its order.
std::vector<std::string> SchemaDirectories();
// The warning for a schema file found nowhere: "Morvent接口定义文件 " +
// shownName + " 不存在！", then the folders looked in for `path` and how
// MORVENT_HOME points elsewhere.
std::string MissingSchemaText(const std::string& shownName, const std::string& path);
// Joins with "/" (the separator of this platform).
std::string JoinPath(const std::string& dir, const std::string& name);
bool FileExist(const std::string& path);

}  // namespace morvent
