#include <windows.h>
// after windows.h
#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <climits>

#include "platform/ErrorTexts.h"
#include "platform/Profile.h"
#include "platform/ProfileFile.h"
#include "platform/WinHandles.h"

namespace {

// A number in decimal digits, as a wide text.
std::wstring Digits(unsigned long long value) {
  const std::string digits = std::to_string(value);
  return std::wstring(digits.begin(), digits.end());
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::optional<std::wstring> ToWide(std::string_view text) {
  if (text.empty()) return std::wstring();
  if (text.size() > INT_MAX) return std::nullopt;
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n) != n)
    return std::nullopt;
  return wide;
}

// The path as the wide file functions take it at any length: full, with the "\\?\"
// prefix. Nothing (GetLastError set) when it has no wide form.
std::optional<std::wstring> LongPath(const std::string& path) {
  const std::optional<std::wstring> wide = ToWide(path);
  if (!wide) return std::nullopt;
  if (wide->empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return std::nullopt;
  }
  std::wstring full;
  DWORD size = GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
  for (;;) {
    if (size == 0) return std::nullopt;
    full.assign(size, L'\0');
    const DWORD got = GetFullPathNameW(wide->c_str(), size, full.data(), nullptr);
    if (got == 0) return std::nullopt;
    if (got < size) {
      full.resize(got);
      break;
    }
    size = got;
  }
  if (full.rfind(L"\\\\?\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The path of the file an open handle stands for, links resolved; empty when unknown.
std::wstring FinalPath(HANDLE file) {
  DWORD size = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
  while (size != 0) {
    std::wstring path(size, L'\0');
    const DWORD got = GetFinalPathNameByHandleW(file, path.data(), size, FILE_NAME_NORMALIZED);
    if (got == 0) break;
    if (got < size) {
      path.resize(got);
      return path;
    }
    size = got;
  }
  return {};
}

// 0, or the error of the failed call.
DWORD ReadAll(HANDLE file, std::string& bytes) {
  bytes.clear();
  std::string chunk(1 << 16, '\0');
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr))
      return GetLastError();
    if (n == 0) return 0;
    bytes.append(chunk.data(), n);
  }
}

// 0, or the error of the failed write.
DWORD WriteAt(HANDLE file, std::string_view bytes, size_t offset) {
  size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED at{};
    const uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD n = 0;
    if (!WriteFile(file, bytes.data() + done, want, &n, &at)) return GetLastError();
    done += n;
  }
  return 0;
}

// 0, or the error of the failed call.
DWORD CutAt(HANDLE file, size_t size) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN) || !SetEndOfFile(file))
    return GetLastError();
  return 0;
}

// What belongs to an existing file rather than to its bytes.
struct TOldFile {
  BY_HANDLE_FILE_INFORMATION Info{};
  UniqueLocalMemory Security;  // its access rights; none when they could not be read
  PACL Dacl = nullptr;         // inside Security
  SECURITY_DESCRIPTOR_CONTROL Control = 0;
};

// True when every access right of the file comes from its folder, so that a new
// file made there gets the same ones. A protected or missing list, or one with rights
// of the file's own (Wine gives every file those, from its Unix permissions), is not.
bool RightsAllInherited(const TOldFile& old) {
  if (!old.Security || old.Dacl == nullptr || (old.Control & SE_DACL_PROTECTED) != 0) return false;
  for (DWORD i = 0; i < old.Dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(old.Dacl, i, &ace)) return false;
    if ((static_cast<ACE_HEADER*>(ace)->AceFlags & INHERITED_ACE) == 0) return false;
  }
  return true;
}

// What became of a replacement of the whole file.
enum class TReplaced {
  Done,
  NotDone,     // nothing changed; the held handle is still open
  MoveFailed,  // nothing changed, but the held handle is closed
  Exists,      // creating: another writer created the file meanwhile; nothing changed
};

// Writes bytes to a temporary file beside target and moves it over target, with the
// old file's attributes and creation time (its access rights are the folder's, as
// the new file's are). The handle that keeps other writers out of target is closed
// just before the move, which it would refuse. With no old file the move creates
// target and never replaces a file that another writer created meanwhile. Nothing is
// left behind when a step fails.
TReplaced ReplaceWhole(const std::wstring& target, const TOldFile* old, std::string_view bytes,
                       UniqueKernelHandle& held) {
  static std::atomic<unsigned> counter{0};
  const std::wstring folder = target.substr(0, target.find_last_of(L'\\') + 1);
  std::wstring temp;
  UniqueKernelHandle file;
  for (int attempt = 0; attempt < 100 && !file; ++attempt) {
    temp = folder + L"~ini" + Digits(GetCurrentProcessId()) + L"-" + Digits(counter++) + L".tmp";
    file.Reset(ValidOrNull(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!file && GetLastError() != ERROR_FILE_EXISTS) return TReplaced::NotDone;
  }
  if (!file) return TReplaced::NotDone;
  auto fail = [&] {
    file.Reset();
    DeleteFileW(temp.c_str());
    return TReplaced::NotDone;
  };
  if (WriteAt(file.Get(), bytes, 0) != 0) return fail();
  if (old != nullptr && !SetFileTime(file.Get(), &old->Info.ftCreationTime, nullptr, nullptr))
    return fail();
  if (!FlushFileBuffers(file.Get())) return fail();
  file.Reset();
  if (old != nullptr) {
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = old->Info.dwFileAttributes & kKept;
    if (!SetFileAttributesW(temp.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL)) {
      DeleteFileW(temp.c_str());
      return TReplaced::NotDone;
    }
  }
  held.Reset();
  const DWORD replace = old != nullptr ? MOVEFILE_REPLACE_EXISTING : 0;
  if (!MoveFileExW(temp.c_str(), target.c_str(), replace | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temp.c_str());
    if (old == nullptr && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS))
      return TReplaced::Exists;
    return TReplaced::MoveFailed;
  }
  return TReplaced::Done;
}

// Writes bytes into the open file, as the system's profile writer does: first the
// part beyond the old end, flushed, so that a lack of space is found while the old
// bytes are still whole; then the bytes that differ, in one write; the cut of a file
// that shrinks last. A file being created (no oldBytes) is deleted again on failure.
void WriteInPlace(const std::string& path, UniqueKernelHandle& file, const std::wstring& target,
                  const std::string* oldBytes, std::string_view bytes) {
  const bool create = oldBytes == nullptr;
  const std::string_view old = create ? std::string_view() : std::string_view(*oldBytes);
  const size_t overlap = std::min(old.size(), bytes.size());
  const size_t same = static_cast<size_t>(
      std::mismatch(old.begin(), old.begin() + static_cast<ptrdiff_t>(overlap), bytes.begin())
          .first -
      old.begin());
  // Puts the old bytes back after a failure (a created file goes again) and reports it.
  auto fail = [&](const char* operation, DWORD error) {
    if (create) {
      file.Reset();
      DeleteFileW(target.c_str());
    } else {
      WriteAt(file.Get(), old.substr(same), same);
      if (CutAt(file.Get(), old.size()) == 0) FlushFileBuffers(file.Get());
    }
    throw IniWriteError(path, operation, static_cast<long>(error));
  };
  if (bytes.size() > old.size()) {
    if (const DWORD error = WriteAt(file.Get(), bytes.substr(old.size()), old.size()))
      fail("WriteFile", error);
    if (same < overlap && !FlushFileBuffers(file.Get())) fail("FlushFileBuffers", GetLastError());
  }
  if (same < overlap) {
    if (const DWORD error = WriteAt(file.Get(), bytes.substr(same, overlap - same), same))
      fail("WriteFile", error);
  }
  if (bytes.size() < old.size()) {
    if (const DWORD error = CutAt(file.Get(), bytes.size())) fail("SetEndOfFile", error);
  }
  if (!FlushFileBuffers(file.Get())) fail("FlushFileBuffers", GetLastError());
}

// How long a write waits for another program to let go of the file, in milliseconds:
// one deadline for the whole write, however many passes it takes.
constexpr ULONGLONG kHoldWait = 1000;

// An existing file opened for one update.
struct THeldFile {
  UniqueKernelHandle File;  // none when the file does not exist
  DWORD WriteError = 0;     // why it is open for reading only (no right to write it)
};

// Opens the existing file to read, compare and write it through one handle that
// shares reading only, so that no other program writes, replaces or deletes it until
// the handle is closed. While another program holds it in a way that refuses this,
// tries again until the deadline; the last attempt, past it, opens it as any writer
// may open it when its holder lets others write (and refuses the write otherwise).
// Without the right to write it (read-only attribute, access rights) it is opened for
// reading. No file in the result when it does not exist. Raises IniWriteError.
THeldFile HoldFile(const std::string& path, const std::wstring& target, ULONGLONG deadline) {
  THeldFile held;
  DWORD access = GENERIC_READ | GENERIC_WRITE | READ_CONTROL;
  auto open = [&](DWORD share) {
    for (;;) {
      held.File.Reset(ValidOrNull(CreateFileW(target.c_str(), access, share, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr)));
      if (held.File) return DWORD{0};
      const DWORD error = GetLastError();
      if (error != ERROR_ACCESS_DENIED || (access & GENERIC_WRITE) == 0) return error;
      // No right to write it: held for reading, and refused when it comes to writing.
      held.WriteError = error;
      access = GENERIC_READ | READ_CONTROL;
    }
  };
  DWORD pause = 1;
  for (;;) {
    const bool last = GetTickCount64() >= deadline;
    if (last) RunProfileDeadlineHook();
    DWORD error = open(FILE_SHARE_READ);
    if (last && error == ERROR_SHARING_VIOLATION) error = open(kShareAll);
    if (error == 0 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return held;
    if (error != ERROR_SHARING_VIOLATION || last)
      throw IniWriteError(path, "CreateFileW", static_cast<long>(error));
    const ULONGLONG now = GetTickCount64();
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, now < deadline ? deadline - now : 0)));
    pause = std::min<DWORD>(pause * 2, 16);
  }
}

}  // namespace

TFileReadResult ReadProfileFile(const std::string& path, std::string& bytes, long& osError) {
  bytes.clear();
  const std::optional<std::wstring> wide = LongPath(path);
  if (!wide) {
    osError = static_cast<long>(GetLastError());
    return TFileReadResult::Failed;
  }
  const UniqueKernelHandle file(
      ValidOrNull(CreateFileW(wide->c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!file) {
    osError = static_cast<long>(GetLastError());
    return (osError == ERROR_FILE_NOT_FOUND || osError == ERROR_PATH_NOT_FOUND)
               ? TFileReadResult::Missing
               : TFileReadResult::Failed;
  }
  if (const DWORD error = ReadAll(file.Get(), bytes)) {
    osError = static_cast<long>(error);
    bytes.clear();
    return TFileReadResult::Failed;
  }
  return TFileReadResult::Read;
}

void UpdateProfileFile(const std::string& path,
                       const std::function<std::string(const std::string* oldBytes)>& edit) {
  const std::optional<std::wstring> wide = LongPath(path);
  if (!wide) throw IniWriteError(path, "MultiByteToWideChar", static_cast<long>(GetLastError()));
  std::wstring target = *wide;
  const ULONGLONG deadline = GetTickCount64() + kHoldWait;
  // Another pass follows when the file appeared meanwhile (it is edited then), or
  // after a replacement whose move failed (the file is held and read again and written
  // in place). A pass that starts past the deadline waits no more, and a file that
  // appears during it refuses the write.
  bool mayReplace = true;
  for (bool late = false;; late = GetTickCount64() >= deadline) {
    THeldFile held = HoldFile(path, target, deadline);
    if (!held.File) {
      const std::string bytes = edit(nullptr);
      const TReplaced created = ReplaceWhole(target, nullptr, bytes, held.File);
      if (created == TReplaced::Done) return;
      DWORD error = ERROR_FILE_EXISTS;
      if (created != TReplaced::Exists) {
        UniqueKernelHandle file(
            ValidOrNull(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
        if (file) {
          WriteInPlace(path, file, target, nullptr, bytes);
          return;
        }
        error = GetLastError();
      }
      // Another writer created it meanwhile: its version is edited.
      if (late || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS))
        throw IniWriteError(path, "CreateFileW", static_cast<long>(error));
      continue;
    }
    // A symbolic link is written through: the file it names is the one replaced.
    const std::wstring final = FinalPath(held.File.Get());
    if (!final.empty()) target = final;
    TOldFile old;
    if (!GetFileInformationByHandle(held.File.Get(), &old.Info))
      throw IniWriteError(path, "GetFileInformationByHandle", static_cast<long>(GetLastError()));
    if (old.Info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
      throw IniWriteError(path, std::string(errortext::kReadOnlyOperation), ERROR_ACCESS_DENIED);
    std::string oldBytes;
    if (const DWORD error = ReadAll(held.File.Get(), oldBytes))
      throw IniWriteError(path, "ReadFile", static_cast<long>(error));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(held.File.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, &old.Dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
      old.Security.Reset(descriptor);
      DWORD revision = 0;
      if (!GetSecurityDescriptorControl(descriptor, &old.Control, &revision)) old.Control = 0;
    }
    const std::string bytes = edit(&oldBytes);
    // Only a file whose access rights all come from its folder and that has no other
    // hard link, no encryption or compression stays the same file when replaced as a
    // whole.
    constexpr DWORD kInPlaceOnly = FILE_ATTRIBUTE_ENCRYPTED | FILE_ATTRIBUTE_COMPRESSED |
                                   FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SPARSE_FILE;
    if (mayReplace && RightsAllInherited(old) && old.Info.nNumberOfLinks == 1 &&
        (old.Info.dwFileAttributes & kInPlaceOnly) == 0) {
      const TReplaced replaced = ReplaceWhole(target, &old, bytes, held.File);
      if (replaced == TReplaced::Done) return;
      if (replaced == TReplaced::MoveFailed) {
        mayReplace = false;
        continue;
      }
    }
    if (held.WriteError != 0)
      throw IniWriteError(path, "CreateFileW", static_cast<long>(held.WriteError));
    WriteInPlace(path, held.File, target, &oldBytes, bytes);
    return;
  }
}

std::optional<std::u16string> AnsiToUtf16(std::string_view text) {
  const std::optional<std::wstring> wide = ToWide(text);
  if (!wide) return std::nullopt;
  return std::u16string(wide->begin(), wide->end());
}

std::string Utf16ToAnsi(std::u16string_view text) {
  if (text.empty() || text.size() > INT_MAX / 2) return {};
  const std::wstring wide(text.begin(), text.end());
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  if (n == 0 ||
      WideCharToMultiByte(CP_ACP, 0, wide.data(), size, out.data(), n, nullptr, nullptr) != n)
    return std::string(text.size(), '?');
  return out;
}
