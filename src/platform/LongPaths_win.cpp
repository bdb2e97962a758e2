#include <windows.h>

#include <atomic>

#include "platform/ErrorTexts.h"
#include "platform/LongPaths.h"

namespace {

std::atomic<int> OptInForTest{-1};

// RtlAreLongPathsEnabled came with Windows 10 version 1607; a system without it has no
// opt-in. It answers for this process: the registry value and the program's manifest.
bool LongPathsEnabled() {
  const int forced = OptInForTest.load();
  if (forced >= 0) return forced != 0;
  using AreLongPathsEnabledFn = BOOLEAN(NTAPI*)();
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto enabled = ntdll == nullptr
                           ? nullptr
                           : reinterpret_cast<AreLongPathsEnabledFn>(reinterpret_cast<void*>(
                                 GetProcAddress(ntdll, "RtlAreLongPathsEnabled")));
  return enabled != nullptr && enabled() != FALSE;
}

// The length of path's full form in UTF-16 characters, and whether it ends in a separator
// (a lead byte's trail byte may be the byte of '\\', so the wide text tells); {0, false}
// when it does not convert.
struct TFullPath {
  size_t Length = 0;
  bool EndsInSeparator = false;
};
TFullPath MeasureFullPath(std::string_view path) {
  const int size =
      MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), size);
  const bool endsInSeparator = wide.back() == L'\\' || wide.back() == L'/';
  // The size asked for counts the terminating NUL.
  const DWORD full = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  return {full == 0 ? wide.size() : full - 1, endsInSeparator};
}

}  // namespace

std::string PathLengthProblem(std::string_view path, TPathKind kind) {
  if (path.empty() || LongPathsEnabled()) return {};
  const TFullPath full = MeasureFullPath(path);
  // The longest the system takes, the NUL left out: MAX_PATH - 1 for a file, and for a
  // folder the same once the system has added its final backslash.
  const size_t limit =
      kind == TPathKind::File || full.EndsInSeparator ? MAX_PATH - 1 : MAX_PATH - 2;
  if (full.Length <= limit) return {};
  return errortext::PathTooLongText(full.Length, limit);
}

void SetLongPathOptInForTest(int optIn) { OptInForTest = optIn < 0 ? -1 : (optIn != 0 ? 1 : 0); }
