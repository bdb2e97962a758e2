#pragma once
// The length Windows allows a path where the process has not opted in to long paths: the
// opt-in needs Windows 10 version 1607 or later, the registry value LongPathsEnabled and a
// host program whose manifest says longPathAware, so Windows 7 and most hosts never have
// it. Without it LoadLibraryExW refuses a file path of MAX_PATH (260) characters or more,
// and SetCurrentDirectoryW a folder that is that long once it ends in a backslash (one of
// more than MAX_PATH - 2 characters without it). Other systems have no such limit.
//
//   const std::string why = PathLengthProblem("C:\\...\\lurmScard.dll", TPathKind::File);
//   // "路径有 275 个字符，超过 259 个字符的上限（Windows 未启用长路径）", or "" when it fits
#include <string>
#include <string_view>

enum class TPathKind { File, Folder };

// Why the system refuses the full form of path (text in the system code page; a relative
// path counts as made full) for its length, counted in UTF-16 characters as the system
// counts them; empty when the system takes it (it fits, the process has opted in, or the
// system has no such limit).
std::string PathLengthProblem(std::string_view path, TPathKind kind);

// A test switch that overrides the system's answer whether the process has opted in to
// long paths: 0 no (as on Windows 7, and on Windows 10 for most hosts), 1 yes, -1 the
// system's own answer again. Without effect where the system has no such limit.
void SetLongPathOptInForTest(int optIn);
