#pragma once
// The program's own directory: where the schema files and the exchange log
// lie. It is the directory of the running module, unless MORVENT_HOME names
// another one.
#include <string>
#include <vector>

namespace morvent {

std::string ProgramDirectory();

// Full path of a schema file. MORVENT_HOME, when set, is the one place
// looked in. Otherwise the file beside the program comes first; a program
// installed as PREFIX/bin/morvent finds it in PREFIX/share/morvent/schemas.
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
