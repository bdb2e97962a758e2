#pragma once
// The process's current directory: every relative file name of the process resolves
// against it, so whoever changes it for a while puts the old one back.
//
//   std::string old = GetCurrentDir();
//   SetCurrentDir(dir);   // false when the directory cannot be made current
//   ...
//   SetCurrentDir(old);
#include <string>
#include <string_view>

// The current directory in the system code page; empty when it cannot be read.
std::string GetCurrentDir();
// Makes dir the current directory; false (and nothing changed) when that fails. A folder
// longer than Windows takes from the process (platform/LongPaths.h) is refused without
// asking the system.
bool SetCurrentDir(std::string_view dir);
