#pragma once
// The program's own directory: where the schema files and the exchange log
// lie. It is the directory of the running module, unless MORVENT_HOME names
// another one.
#include <string>

namespace morvent {

std::string ProgramDirectory();
// Joins with "/" (the separator of this platform).
std::string JoinPath(const std::string& dir, const std::string& name);
bool FileExist(const std::string& path);

}  // namespace morvent
