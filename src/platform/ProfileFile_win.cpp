#include <windows.h>
// after windows.h
#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <cwchar>
#include <utility>
#include <vector>

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

// What UpdateProfileFile's caller makes of a version of the file.
using TEdit = std::function<std::string(const std::string* oldBytes)>;

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
  UniqueLocalMemory Security;  // its owner and access rights; none when they could not be read
  PSID Owner = nullptr;        // inside Security
  PACL Dacl = nullptr;         // inside Security
  SECURITY_DESCRIPTOR_CONTROL Control = 0;
};

// True when every access right of the file comes from its folder, so that a new
// file made there may get the same ones. A protected or missing list, or one with rights
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

// True when both lists hold the same entries in the same order.
bool SameAcl(PACL a, PACL b) {
  if (a == nullptr || b == nullptr) return a == b;
  if (a->AceCount != b->AceCount) return false;
  for (DWORD i = 0; i < a->AceCount; ++i) {
    void* x = nullptr;
    void* y = nullptr;
    if (!GetAce(a, i, &x) || !GetAce(b, i, &y)) return false;
    const WORD size = static_cast<ACE_HEADER*>(x)->AceSize;
    if (size != static_cast<ACE_HEADER*>(y)->AceSize || std::memcmp(x, y, size) != 0) return false;
  }
  return true;
}

// True when the new file has the old file's owner and access rights. A new file belongs
// to the user who makes it, and an entry its folder passes on for CREATOR OWNER names
// that user: where the old file belongs to someone else, the two differ.
bool SameOwnerAndRights(const TOldFile& old, HANDLE file) {
  if (!old.Security || old.Owner == nullptr) return false;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  const UniqueLocalMemory security(descriptor);
  return owner != nullptr && EqualSid(owner, old.Owner) && SameAcl(dacl, old.Dacl);
}

// A new temporary file beside a profile file, open with the right to delete it, which
// nobody else can open for its bytes meanwhile: a scanner cannot keep it from being
// moved or deleted. Deleted through its handle with the object unless Keep says it was
// moved into place, so it is never left behind (one that another program still has
// open goes when that program lets go).
class TTempFile {
 public:
  TTempFile() = default;
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  ~TTempFile() { Discard(); }
  // Makes it beside target; false (GetLastError set) when the folder refuses it.
  bool Create(const std::wstring& target) {
    static std::atomic<unsigned> counter{0};
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\') + 1);
    for (int attempt = 0; attempt < 100 && !FFile; ++attempt) {
      FStem = folder + L"~ini" + Digits(GetCurrentProcessId()) + L"-" + Digits(counter++);
      FFile.Reset(ValidOrNull(CreateFileW(Name().c_str(), GENERIC_WRITE | READ_CONTROL | DELETE,
                                          FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr)));
      if (!FFile && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return static_cast<bool>(FFile);
  }
  HANDLE Get() const { return FFile.Get(); }
  std::wstring Name() const { return FStem + L".tmp"; }
  // The name of a second link to the old file, kept over the move (see ReplaceHeld).
  std::wstring BackupName() const { return FStem + L".old"; }
  void Keep() { FFile.Reset(); }
  // Moved into place: its handle, which now holds the file at the target's name.
  UniqueKernelHandle Moved() { return std::move(FFile); }
  void Discard() {
    if (!FFile) return;
    FILE_DISPOSITION_INFO gone{TRUE};
    const bool marked =
        SetFileInformationByHandle(FFile.Get(), FileDispositionInfo, &gone, sizeof gone) != 0;
    FFile.Reset();
    if (!marked) DeleteFileW(Name().c_str());
  }

 private:
  UniqueKernelHandle FFile;
  std::wstring FStem;
};

// Writes bytes to a new temporary file beside target, flushed; with an old file, with
// its attributes and creation time. False, with nothing left behind, when a step fails.
bool WriteTemporary(TTempFile& temp, const std::wstring& target, const TOldFile* old,
                    std::string_view bytes) {
  if (!temp.Create(target)) return false;
  if (WriteAt(temp.Get(), bytes, 0) != 0) return false;
  if (old != nullptr) {
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD attributes = old->Info.dwFileAttributes & kKept;
    FILE_BASIC_INFO basic{};
    basic.CreationTime.LowPart = old->Info.ftCreationTime.dwLowDateTime;
    basic.CreationTime.HighPart = static_cast<LONG>(old->Info.ftCreationTime.dwHighDateTime);
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(temp.Get(), FileBasicInfo, &basic, sizeof basic)) return false;
  }
  return FlushFileBuffers(temp.Get()) != 0;
}

// What became of a replacement of the whole file.
enum class TReplaced {
  Done,
  NotDone,     // nothing changed; the held handle is still open
  MoveFailed,  // nothing changed, but the held handle is closed
  Exists,      // creating: another writer created the file meanwhile; nothing changed
};

// Creates target with bytes: a temporary file beside it moved to its name, which never
// replaces a file that another writer created meanwhile (Exists).
TReplaced CreateWhole(const std::wstring& target, std::string_view bytes) {
  TTempFile temp;
  if (!WriteTemporary(temp, target, nullptr, bytes)) return TReplaced::NotDone;
  if (!MoveFileExW(temp.Name().c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return TReplaced::Exists;
    return TReplaced::MoveFailed;
  }
  temp.Keep();
  return TReplaced::Done;
}

// The second links that replacements left to the held file (ReplaceHeld) whose writes
// are over: their process has ended, or it is this one, between writes. A link whose
// removal was refused (another program had the old file open without letting it be
// deleted) or a crash between making and removing it would otherwise keep every later
// write in place.
std::vector<std::wstring> LeftBackups(const std::wstring& target, const TOldFile& old) {
  std::vector<std::wstring> left;
  const std::wstring folder = target.substr(0, target.find_last_of(L'\\') + 1);
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW((folder + L"~ini*.old").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return left;
  do {
    const std::wstring name = entry.cFileName;
    const DWORD pid = static_cast<DWORD>(std::wcstoul(name.c_str() + 4, nullptr, 10));
    if (pid != GetCurrentProcessId()) {
      const UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
      if (process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT) continue;
    }
    const std::wstring backup = folder + name;
    const UniqueKernelHandle file(ValidOrNull(CreateFileW(
        backup.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr)));
    BY_HANDLE_FILE_INFORMATION info{};
    if (file && GetFileInformationByHandle(file.Get(), &info) &&
        info.dwVolumeSerialNumber == old.Info.dwVolumeSerialNumber &&
        info.nFileIndexHigh == old.Info.nFileIndexHigh &&
        info.nFileIndexLow == old.Info.nFileIndexLow)
      left.push_back(backup);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return left;
}

// Deletes the file, trying again until the deadline while another program has it open
// without letting it be deleted.
void DeleteBefore(const std::wstring& name, ULONGLONG deadline) {
  DWORD pause = 1;
  while (!DeleteFileW(name.c_str())) {
    const DWORD error = GetLastError();
    const ULONGLONG now = GetTickCount64();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || now >= deadline)
      return;
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, deadline - now)));
    pause = std::min<DWORD>(pause * 2, 16);
  }
}

// Reads the old file through its second link and removes that link; its bytes when they
// are not oldBytes (another writer changed the old file between the moment it was let go
// and the move).
std::optional<std::string> TakeBackup(const std::wstring& backup, const std::string& oldBytes) {
  UniqueKernelHandle file(ValidOrNull(CreateFileW(backup.c_str(), GENERIC_READ | DELETE, kShareAll,
                                                  nullptr, OPEN_EXISTING, 0, nullptr)));
  if (!file) {
    DeleteFileW(backup.c_str());
    return std::nullopt;
  }
  std::string bytes;
  const bool read = ReadAll(file.Get(), bytes) == 0;
  FILE_DISPOSITION_INFO gone{TRUE};
  if (!SetFileInformationByHandle(file.Get(), FileDispositionInfo, &gone, sizeof gone)) {
    file.Reset();
    DeleteFileW(backup.c_str());
  }
  if (!read || bytes == oldBytes) return std::nullopt;
  return bytes;
}

void WriteInPlace(const std::string& path, UniqueKernelHandle& file, const std::wstring& target,
                  const std::string* oldBytes, std::string_view bytes);

// Replaces the held file as a whole with bytes: a temporary file beside it, with its
// attributes and creation time, moved over it. Only where the new file gets the old
// one's owner and access rights (NotDone otherwise, the held file still open). A
// second link to the old file is made while it is held, so that a version another
// writer puts into it after it is let go, just before the move (which a held file
// refuses), is not lost: after the move it is read back, and when it changed the edit
// is made again on that version and written into the new file. The new file is held
// from its creation, through the move, to the end of that repair by the temporary
// file's handle, which shares only deletion: no other writer can read or write it
// before it holds the version it keeps, so the repair never writes over a third
// writer's version, and none sees the new file without the version written just before
// the move. Nothing is left behind when a step fails. Raises IniWriteError and
// IniFormatError (from the repair), the new file holding bytes then.
TReplaced ReplaceHeld(const std::string& path, const std::wstring& target, const TOldFile& old,
                      const std::string& bytes, UniqueKernelHandle& held,
                      const std::string& oldBytes, const TEdit& edit, ULONGLONG deadline) {
  TTempFile temp;
  if (!WriteTemporary(temp, target, &old, bytes) || !SameOwnerAndRights(old, temp.Get()))
    return TReplaced::NotDone;
  const std::wstring backup = temp.BackupName();
  if (!CreateHardLinkW(backup.c_str(), target.c_str(), nullptr)) return TReplaced::NotDone;
  held.Reset();
  RunProfileMoveHook();
  if (!MoveFileExW(temp.Name().c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    // Refused while another program has the old file open (a scanner, an indexer).
    DeleteBefore(backup, deadline);
    return TReplaced::MoveFailed;
  }
  UniqueKernelHandle moved = temp.Moved();
  RunProfileMovedHook();
  if (const std::optional<std::string> changed = TakeBackup(backup, oldBytes))
    WriteInPlace(path, moved, target, &bytes, edit(&*changed));
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
  bool MayDelete = false;   // open with the right to delete it: no other program holds it
                            // without letting it be deleted, so it may be replaced
};

// True when the system refuses to write the file for a reason that stays: its read-only
// attribute, or access rights that do not let this process read and write it. A file
// whose deletion is pending, or that a filter or a network share refuses for a moment,
// answers ERROR_ACCESS_DENIED as well but shows neither (or cannot be asked).
bool WriteRefusedForGood(const std::wstring& target) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data) &&
      (data.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0)
    return true;
  constexpr SECURITY_INFORMATION kWhat =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  GetFileSecurityW(target.c_str(), kWhat, nullptr, 0, &size);
  if (size == 0) return false;
  std::vector<BYTE> security(size);
  if (!GetFileSecurityW(target.c_str(), kWhat, security.data(), size, &size)) return false;
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &token))
    return false;
  const UniqueKernelHandle own(token);
  HANDLE copy = nullptr;
  if (!DuplicateToken(own.Get(), SecurityImpersonation, &copy)) return false;
  const UniqueKernelHandle impersonation(copy);
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                          FILE_ALL_ACCESS};
  PRIVILEGE_SET privileges{};
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL allowed = FALSE;
  if (!AccessCheck(security.data(), impersonation.Get(), FILE_GENERIC_READ | FILE_GENERIC_WRITE,
                   &mapping, &privileges, &privilegesSize, &granted, &allowed))
    return false;
  return !allowed;
}

// A refusal to write that is waited for as a held file is (see HoldFile).
constexpr DWORD kPassingRefusal = ERROR_SHARING_VIOLATION;

// Opens the existing file to read, compare and write it through one handle that
// shares reading only, so that no other program writes, replaces or deletes it until
// the handle is closed; with the right to delete it too where no other program holds it
// without letting it be deleted. While another program holds it in a way that refuses
// this, or the system refuses it for a moment (ERROR_ACCESS_DENIED of a file whose
// deletion is pending, of a filter or a network share), tries again until the deadline;
// the last attempt, past it, opens it as any writer may open it when its holder lets
// others write (and refuses the write otherwise). Without the right to write it
// (read-only attribute, access rights) it is opened for reading at once. No file in the
// result when it does not exist. Raises IniWriteError.
THeldFile HoldFile(const std::string& path, const std::wstring& target, ULONGLONG deadline) {
  THeldFile held;
  constexpr DWORD kWrite = GENERIC_READ | GENERIC_WRITE | READ_CONTROL;
  auto attempt = [&](DWORD access, DWORD share) {
    held.File.Reset(ValidOrNull(CreateFileW(target.c_str(), access, share, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr)));
    const DWORD error = held.File ? 0 : GetLastError();
    const DWORD answer = static_cast<DWORD>(RunProfileOpenShim(static_cast<long>(error)));
    if (answer != 0) held.File.Reset();
    return answer;
  };
  auto open = [&](DWORD share, bool mayWait) {
    held.WriteError = 0;
    DWORD error = attempt(kWrite | DELETE, share);
    held.MayDelete = error == 0;
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
      error = attempt(kWrite, share);
    if (error != ERROR_ACCESS_DENIED) return error;
    if (mayWait && !WriteRefusedForGood(target)) return kPassingRefusal;
    // No right to write it: held for reading, and refused when it comes to writing.
    held.WriteError = error;
    return attempt(GENERIC_READ | READ_CONTROL, share);
  };
  DWORD pause = 1;
  for (;;) {
    const bool last = GetTickCount64() >= deadline;
    if (last) RunProfileDeadlineHook();
    DWORD error = open(FILE_SHARE_READ, !last);
    if (last && error == ERROR_SHARING_VIOLATION) error = open(kShareAll, false);
    if (error == 0 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return held;
    if (error != ERROR_SHARING_VIOLATION || last)
      throw IniWriteError(path, "CreateFileW", static_cast<long>(error));
    const ULONGLONG now = GetTickCount64();
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, now < deadline ? deadline - now : 0)));
    pause = std::min<DWORD>(pause * 2, 16);
  }
}

// Creates the file that a symbolic link at target names and that does not exist (the
// system follows the link when it opens a name for creation), held as a file created in
// place is. False when a file is there already (another writer created it meanwhile).
// Raises IniWriteError when it cannot be created (its folder is missing, say).
bool CreateThroughLink(const std::string& path, const std::wstring& target,
                       std::string_view bytes) {
  UniqueKernelHandle file(
      ValidOrNull(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
  if (!file) throw IniWriteError(path, "CreateFileW", static_cast<long>(GetLastError()));
  if (GetLastError() == ERROR_ALREADY_EXISTS) return false;
  // A failed write deletes the file created, not the link.
  const std::wstring created = FinalPath(file.Get());
  WriteInPlace(path, file, created.empty() ? target : created, nullptr, bytes);
  return true;
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
  // The name was taken when the last pass created the file, though no file opens under
  // it: a symbolic link to a file that does not exist.
  bool nameTaken = false;
  bool swept = false;
  for (bool late = false;; late = GetTickCount64() >= deadline) {
    THeldFile held = HoldFile(path, target, deadline);
    if (!held.File) {
      const std::string bytes = edit(nullptr);
      if (nameTaken) {
        if (CreateThroughLink(path, target, bytes)) return;
        nameTaken = false;
        continue;
      }
      const TReplaced created = CreateWhole(target, bytes);
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
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        throw IniWriteError(path, "CreateFileW", static_cast<long>(error));
      // Another writer created it meanwhile: its version is edited; or a link names a
      // missing file: the next pass creates that file.
      nameTaken = true;
      if (late) throw IniWriteError(path, "CreateFileW", static_cast<long>(error));
      continue;
    }
    nameTaken = false;
    // A symbolic link is written through: the file it names is the one replaced.
    const std::wstring final = FinalPath(held.File.Get());
    if (!final.empty()) target = final;
    TOldFile old;
    if (!GetFileInformationByHandle(held.File.Get(), &old.Info))
      throw IniWriteError(path, "GetFileInformationByHandle", static_cast<long>(GetLastError()));
    if (old.Info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
      throw IniWriteError(path, std::string(errortext::kReadOnlyOperation), ERROR_ACCESS_DENIED);
    // Left links are deleted once, with the file let go of (it is held without letting
    // it be deleted), and the file held again.
    if (old.Info.nNumberOfLinks > 1 && !swept) {
      swept = true;
      if (const std::vector<std::wstring> left = LeftBackups(target, old); !left.empty()) {
        held.File.Reset();
        for (const std::wstring& backup : left) DeleteBefore(backup, deadline);
        continue;
      }
    }
    std::string oldBytes;
    if (const DWORD error = ReadAll(held.File.Get(), oldBytes))
      throw IniWriteError(path, "ReadFile", static_cast<long>(error));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(held.File.Get(), SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &old.Owner, nullptr,
                        &old.Dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
      old.Security.Reset(descriptor);
      DWORD revision = 0;
      if (!GetSecurityDescriptorControl(descriptor, &old.Control, &revision)) old.Control = 0;
    }
    const std::string bytes = edit(&oldBytes);
    // Only a file whose owner and access rights a new file gets too and that has no
    // other hard link, no encryption or compression stays the same file when replaced
    // as a whole.
    constexpr DWORD kInPlaceOnly = FILE_ATTRIBUTE_ENCRYPTED | FILE_ATTRIBUTE_COMPRESSED |
                                   FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_SPARSE_FILE;
    if (mayReplace && held.MayDelete && held.WriteError == 0 &&
        (RightsAllInherited(old) || ProfileReplaceForced()) && old.Info.nNumberOfLinks == 1 &&
        (old.Info.dwFileAttributes & kInPlaceOnly) == 0) {
      const TReplaced replaced =
          ReplaceHeld(path, target, old, bytes, held.File, oldBytes, edit, deadline);
      if (replaced == TReplaced::MoveFailed) {
        mayReplace = false;
        continue;
      }
      if (replaced == TReplaced::Done) return;
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
