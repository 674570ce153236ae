// Where the program keeps its catalogues and modem.ini: the directory of the running executable.
#pragma once

#include <string>

// The directory of the running executable (of /proc/self/exe), without a trailing separator.
std::string ExecutableDirectory();

// Library tests have no program of their own beside their catalogues: they point the lookup at a
// directory of their choosing. An empty text restores the real directory.
void SetExecutableDirectoryOverride(const std::string& directory);

// The path of the file called name beside the executable: the exact name when such a file exists, else
// the first entry whose name matches without regard to case (catalogues copied from other systems often
// differ in case), else the exact name (where a new file is to be created).
std::string FileBesideExecutable(const std::string& name);
