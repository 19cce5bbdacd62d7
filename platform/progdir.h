#pragma once
// The program's own directory: where the schema files and the exchange log
// lie. It is the directory of the running module, unless MORVENT_HOME names
// another one.
#include <string>

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
// Joins with "/" (the separator of this platform).
std::string JoinPath(const std::string& dir, const std::string& name);
bool FileExist(const std::string& path);

}  // namespace morvent
