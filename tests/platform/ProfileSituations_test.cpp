// Writing a profile file in the file-system situations a workstation can really have:
// one row per situation, run natively and under Wine. Each row checks the outcome
// (written, or refused with IniWriteError), that a refused write leaves the old bytes,
// that no file but the written one appears, and that the write ends within its one
// second of waiting for another holder of the file. What a Windows program cannot set up
// itself under Wine (symbolic links, folders that refuse new files, a small file
// system, Unix permissions) is prepared through the Unix shell that Wine can start; a
// row whose situation cannot be made here is skipped with the reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>  // steady_clock: <chrono> does not compile with code-page-936 literals
#include <vector>

#include "../reader/ReaderWorld.h"
#include "platform/Profile.h"

#if !defined(_WIN32)
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kSection = "NuvReader";
constexpr const char* kKey = "nuvreader";
constexpr const char* kNewReader = "读卡器 2";
// A write waits for another holder of the file one second in all, whatever steps it
// takes; the rest of the bound is slack for a busy machine.
constexpr auto kWriteBound = std::chrono::milliseconds(1750);
// A duration in whole milliseconds, as a failed check shows it.
template <class Duration>
long long Milliseconds(Duration duration) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}
// The new value is six bytes longer than the old one.
const std::string kOldBytes = "[system]\r\nServerType=99\r\n\r\n[NuvReader]\r\nnuvreader=旧\r\n";

// UTF-16 LE bytes of a text.
std::string Le(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

#if defined(_WIN32)
std::wstring Wide(const std::string& text) {
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}
std::string Narrow(const std::wstring& wide) {
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                      nullptr, nullptr);
  return text;
}
std::wstring Long(const std::string& path) { return L"\\\\?\\" + Wide(path); }
#endif

// Whole-file access at any path length (the test's own, independent of the profile code).
void Put(const std::string& path, const std::string& bytes) {
#if defined(_WIN32)
  HANDLE h = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  DWORD n = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  CloseHandle(h);
#else
  WriteBytes(path, bytes);
#endif
}
std::string Get(const std::string& path) {
#if defined(_WIN32)
  HANDLE h = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<unreadable>";
  std::string bytes;
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(h, chunk, sizeof chunk, &n, nullptr) && n != 0) bytes.append(chunk, n);
  CloseHandle(h);
  return bytes;
#else
  return ReadBytes(path);
#endif
}
bool IsFile(const std::string& path) {
#if defined(_WIN32)
  const DWORD attributes = GetFileAttributesW(Long(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
#else
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
#endif
}

// Names in a folder given as system-code-page text (any length).
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
#if defined(_WIN32)
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((Long(folder) + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.insert(Narrow(name));
  } while (FindNextFileW(find, &entry));
  FindClose(find);
#else
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
#endif
  return names;
}

// Removes a folder and everything in it, at any path length.
void RemoveTree(const std::string& folder) {
  for (const std::string& name : Names(folder)) {
#if defined(_WIN32)
    const std::string native = folder + "\\" + name;
    const DWORD attributes = GetFileAttributesW(Long(native).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      RemoveTree(native);
    } else {
      SetFileAttributesW(Long(native).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(Long(native).c_str());
    }
#else
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      RemoveTree(path);
    } else {
      unlink(path.c_str());
    }
#endif
  }
#if defined(_WIN32)
  RemoveDirectoryW(Long(folder).c_str());
#else
  rmdir(folder.c_str());
#endif
}

bool MakeFolder(const std::string& path) {
#if defined(_WIN32)
  return CreateDirectoryW(Long(path).c_str(), nullptr) != 0;
#else
  return mkdir(path.c_str(), 0777) == 0;
#endif
}

// The Unix shell: directly in the native build, through Wine's start of Unix
// programs in the Windows build. Unavailable on Windows itself.
class TUnixShell {
 public:
  static bool Available() {
#if defined(_WIN32)
    return UnixPathFunction() != nullptr;
#else
    return true;
#endif
  }
  // The Unix path of a file of this program's file system.
  static std::string UnixPath(const std::string& path) {
#if defined(_WIN32)
    using Fn = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<Fn>(reinterpret_cast<void*>(UnixPathFunction()));
    char* unixPath = toUnix(Wide(path).c_str());
    if (unixPath == nullptr) return {};
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
#else
    return path;
#endif
  }
  // Runs the script; its exit status, or -1 when it did not run. Output goes to Output().
  int Run(const std::string& script) {
    const std::string file = FFolder.PathOf("script.sh"), done = FFolder.PathOf("status");
    const std::string out = FFolder.PathOf("output");
    fs::remove(done);
    WriteBytes(file, "exec >'" + UnixPath(out) + "' 2>&1\n" + script + "\necho $? >'" +
                         UnixPath(done) + ".part' && mv '" + UnixPath(done) + ".part' '" +
                         UnixPath(done) + "'\n");
#if defined(_WIN32)
    std::string command = "/bin/sh " + UnixPath(file);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
      return -1;
    // Wine starts a Unix program without a process to wait for: its status file says
    // when it is done.
    for (int i = 0; i < 300 && !fs::exists(done); ++i) Sleep(100);
#else
    if (std::system(("sh '" + file + "'").c_str()) == -1) return -1;
#endif
    if (!fs::exists(done)) return -1;
    return std::stoi(ReadBytes(done));
  }
  std::string Output() const { return ReadBytes(FFolder.PathOf("output")); }

 private:
#if defined(_WIN32)
  static FARPROC UnixPathFunction() {
    return GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  }
#endif
  TTempFolder FFolder;
};

// A sub-application folder with UserConfig.ini in it, and whatever a situation adds:
// open handles, a mount, an immutable folder, all undone before the folder goes.
class TWorld {
 public:
  TWorld() : Folder(FTemp.PathOf("app")), File(Folder + kSep + "UserConfig.ini") {
    fs::create_directory(Folder);
  }
  TWorld(const TWorld&) = delete;
  TWorld& operator=(const TWorld&) = delete;
  ~TWorld() {
    CloseHolders();
    if (!FUndo.empty()) Shell.Run(FUndo);
    std::error_code ignored;
    fs::permissions(FTemp.PathOf("app"), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::permissions(File, fs::perms::owner_write, fs::perm_options::add, ignored);
    // The folder of the long paths is beyond what the temporary folder's own removal reaches.
    RemoveTree(FTemp.PathOf("app"));
  }
  // Runs script now and undo when the world goes (the undo scripts in reverse order).
  bool RunWithUndo(const std::string& script, const std::string& undo) {
    FUndo = undo + "\n" + FUndo;
    return Shell.Run(script) == 0;
  }
  void Hold(
#if defined(_WIN32)
      HANDLE
#else
      int
#endif
          handle) {
    FHolders.push_back(handle);
  }
  void CloseHolders() {
    for (auto h : FHolders)
#if defined(_WIN32)
      CloseHandle(h);
#else
      close(h);
#endif
    FHolders.clear();
  }

#if defined(_WIN32)
  static constexpr const char* kSep = "\\";
#else
  static constexpr const char* kSep = "/";
#endif
  TUnixShell Shell;

 private:
  TTempFolder FTemp;

 public:
  std::string Folder;  // the sub-application folder
  std::string File;    // the file written
  // The file's bytes before the write, when the situation keeps them from being read.
  std::optional<std::string> Before;
  // Names listed afterwards; by default the folder's own.
  std::vector<std::string> Watched;

 private:
  std::string FUndo;
#if defined(_WIN32)
  std::vector<HANDLE> FHolders;
#else
  std::vector<int> FHolders;
#endif
};

std::string Quoted(const std::string& path) { return "'" + TUnixShell::UnixPath(path) + "'"; }

// Makes the world's file a symbolic link to folder/name, relative to the file's folder;
// the file it names need not exist. Windows: through the system, a link as Windows
// makes it (Wine 8 answers success and makes none: the row is skipped there; a Unix
// link instead would meet Wine's MoveFileExW, which replaces a link to a missing file
// where Windows refuses the name). Elsewhere through the Unix shell.
bool MakeSymbolicLink(TWorld& w, const std::string& folder, const std::string& name) {
#if defined(_WIN32)
  if (TUnixShell::Available() && !w.RunWithUndo("true", "rm -f " + Quoted(w.File))) return false;
  constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
  const std::wstring target = Wide(folder + w.kSep + name);
  return CreateSymbolicLinkW(Wide(w.File).c_str(), target.c_str(), kUnprivileged) ||
         CreateSymbolicLinkW(Wide(w.File).c_str(), target.c_str(), 0);
#else
  return w.RunWithUndo("ln -s " + folder + "/" + name + " " + Quoted(w.File),
                       "rm -f " + Quoted(w.File));
#endif
}

// True when path is a symbolic link (whether or not the file it names exists).
bool IsLink(TWorld& w, const std::string& path) {
  if (TUnixShell::Available()) return w.Shell.Run("test -L " + Quoted(path)) == 0;
#if defined(_WIN32)
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
  return fs::is_symlink(path);
#endif
}

// Whether a new file can be made in folder (the probe is removed again).
bool FolderTakesNewFiles(const std::string& folder) {
  const std::string probe = folder + TWorld::kSep + "probe";
  {
    std::ofstream out(probe, std::ios::binary);
    if (!out) return false;
  }
  fs::remove(probe);
  return true;
}

#if defined(_WIN32)
// Opens the file as another program would, with the share mode given.
std::string HoldOpen(TWorld& w, DWORD share) {
  WriteBytes(w.File, kOldBytes);
  HANDLE h = CreateFileW(Wide(w.File).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "cannot open the file";
  w.Hold(h);
  w.Before = kOldBytes;
  return {};
}
#endif

// A small file system of its own (root only): the file ends fileSize bytes into its
// blocks of 4096 bytes (no file for 0), and the rest of the file system is filled up.
std::string NearlyFullDisk(TWorld& w, size_t fileSize) {
  if (!TUnixShell::Available()) return "no Unix shell to mount a file system with";
  const std::string disk = w.Folder + w.kSep + "disk";
  MakeFolder(disk);
  if (!w.RunWithUndo("mount -t tmpfs -o size=64k,nr_inodes=64 rs-profile " + Quoted(disk),
                     "umount -l " + Quoted(disk)))
    return "cannot mount a small tmpfs (needs root and mount): " + w.Shell.Output();
  w.Folder = disk;
  w.File = disk + w.kSep + "UserConfig.ini";
  if (fileSize > 0) {
    std::string bytes = kOldBytes + "pad=";
    bytes += std::string(fileSize - bytes.size() - 2, 'p') + "\r\n";
    WriteBytes(w.File, bytes);
    if (ReadBytes(w.File) != bytes) return "cannot write the file on the small file system";
  }
  // Filled up in pieces so that the last free block is taken too.
  w.Shell.Run("i=0; while dd if=/dev/zero of=" + Quoted(disk + w.kSep + "fill") +
              "$i bs=4096 count=1 2>/dev/null; do i=$((i+1)); done");
  return {};
}

struct Situation {
  const char* name;  // a test name: letters, digits and "_" only
  // Makes the situation; returns why it cannot be made here, or an empty text.
  std::string (*prepare)(TWorld& w);
  bool written;                                                   // the write succeeds
  void (*check)(TWorld& w, const std::string& before) = nullptr;  // more checks
};

std::string PlainFile(TWorld& w) {
  WriteBytes(w.File, kOldBytes);
  return {};
}

const Situation kSituations[] = {
    {"OrdinaryFile", PlainFile, true},
    {"MissingFileIsCreated", [](TWorld&) { return std::string(); }, true},
    {"ReadOnlyFile",
     [](TWorld& w) {
       WriteBytes(w.File, kOldBytes);
       fs::permissions(w.File,
                       fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                       fs::perm_options::remove);
       return std::string();
     },
     false},
    {"ReadOnlyFolderWithWritableFile",
     [](TWorld& w) {
       WriteBytes(w.File, kOldBytes);
       fs::permissions(w.Folder,
                       fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                       fs::perm_options::remove);
       // As root a folder without write permission still takes new files; an
       // immutable one does not.
       if (FolderTakesNewFiles(w.Folder) && TUnixShell::Available())
         w.RunWithUndo("chattr +i " + Quoted(w.Folder), "chattr -i " + Quoted(w.Folder));
       if (FolderTakesNewFiles(w.Folder))
         return "cannot make a folder refuse new files here (chattr +i failed: " +
                w.Shell.Output() + ")";
       return std::string();
     },
     true},
    {"MissingFolder",
     [](TWorld& w) {
       w.Watched = {w.Folder};
       w.File = w.Folder + w.kSep + "absent" + w.kSep + "UserConfig.ini";
       return std::string();
     },
     false},
    {"FolderInTheFilesPlace",
     [](TWorld& w) {
       fs::create_directory(w.File);
       return std::string();
     },
     false},
    {"SymbolicLinkWrittenThrough",
     [](TWorld& w) {
       const std::string target = w.Folder + w.kSep + "real.ini";
       WriteBytes(target, kOldBytes);
       std::error_code error;
       // Removed through the shell too: Wine's file functions do not remove a
       // link whose target is gone.
       if (TUnixShell::Available())
         w.RunWithUndo("ln -s real.ini " + Quoted(w.File), "rm -f " + Quoted(w.File));
       else
         fs::create_symlink("real.ini", w.File, error);
       if (Get(w.File) != kOldBytes) return std::string("cannot make a symbolic link here");
       return std::string();
     },
     true,
     [](TWorld& w, const std::string&) {
       const bool isLink = TUnixShell::Available() ? w.Shell.Run("test -L " + Quoted(w.File)) == 0
                                                   : fs::is_symlink(w.File);
       EXPECT_TRUE(isLink) << "the link was replaced by a file";
       EXPECT_EQ(IniReadString(w.Folder + w.kSep + "real.ini", kSection, kKey, ""), kNewReader);
     }},
    // The file the link names is created through the link, in a folder of its own; the
    // link stays.
    {"DanglingSymbolicLinkCreatesItsFile",
     [](TWorld& w) {
       const std::string data = w.Folder + w.kSep + "data";
       if (!MakeFolder(data)) return std::string("cannot make a folder here");
       if (!MakeSymbolicLink(w, "data", "real.ini") || !IsLink(w, w.File))
         return std::string("cannot make a symbolic link here");
       if (IsFile(data + w.kSep + "real.ini")) return std::string("the link's file exists");
       return std::string();
     },
     true,
     [](TWorld& w, const std::string&) {
       EXPECT_TRUE(IsLink(w, w.File)) << "the link was replaced by a file";
       const std::string file = w.Folder + w.kSep + "data" + w.kSep + "real.ini";
       EXPECT_EQ(IniReadString(file, kSection, kKey, ""), kNewReader);
     }},
    {"HardLinkWrittenThrough",
     [](TWorld& w) {
       const std::string other = w.Folder + w.kSep + "other.ini";
       WriteBytes(other, kOldBytes);
       std::error_code error;
       fs::create_hard_link(other, w.File, error);
       if (error) return "cannot make a hard link here: " + error.message();
       return std::string();
     },
     true,
     [](TWorld& w, const std::string&) {
       EXPECT_EQ(IniReadString(w.Folder + w.kSep + "other.ini", kSection, kKey, ""), kNewReader);
     }},
    {"PermissionsKept",
     [](TWorld& w) {
       WriteBytes(w.File, kOldBytes);
       if (!TUnixShell::Available()) return std::string("no Unix permissions here");
       if (w.Shell.Run("chmod 0640 " + Quoted(w.File)) != 0) return "chmod: " + w.Shell.Output();
       return std::string();
     },
     true,
     [](TWorld& w, const std::string&) {
       ASSERT_EQ(w.Shell.Run("stat -c %a " + Quoted(w.File)), 0);
       EXPECT_EQ(w.Shell.Output(), "640\n");
     }},
#if defined(_WIN32)
    {"HeldOpenSharingNothing", [](TWorld& w) { return HoldOpen(w, 0); }, false},
    {"HeldOpenSharingRead", [](TWorld& w) { return HoldOpen(w, FILE_SHARE_READ); }, false},
    {"HeldOpenSharingReadWrite",
     [](TWorld& w) { return HoldOpen(w, FILE_SHARE_READ | FILE_SHARE_WRITE); }, true},
    {"HeldOpenSharingReadWriteDelete",
     [](TWorld& w) { return HoldOpen(w, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE); },
     true},
    {"AttributesAndAccessRightsKept",
     [](TWorld& w) {
       WriteBytes(w.File, kOldBytes);
       SetFileAttributesW(Wide(w.File).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
       return std::string();
     },
     true,
     [](TWorld& w, const std::string&) {
       EXPECT_EQ(GetFileAttributesW(Wide(w.File).c_str()),
                 static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
     }},
#else
    {"HeldOpenByAnotherDescriptor",
     [](TWorld& w) {
       WriteBytes(w.File, kOldBytes);
       w.Hold(open(w.File.c_str(), O_RDWR));
       return std::string();
     },
     true},
    {"LockedByAnotherWriter",
     [](TWorld& w) {
       WriteBytes(w.File, kOldBytes);
       const int fd = open(w.File.c_str(), O_RDWR);
       w.Hold(fd);
       if (flock(fd, LOCK_EX) != 0) return std::string("cannot lock the file here");
       w.Before = kOldBytes;
       return std::string();
     },
     false},
#endif
    {"NearlyFullDiskGrowthFits", [](TWorld& w) { return NearlyFullDisk(w, 8192 - 8); }, true},
    {"NearlyFullDiskGrowthDoesNotFit", [](TWorld& w) { return NearlyFullDisk(w, 8192 - 2); },
     false},
    // Neither the temporary file nor the file itself takes the bytes: no file is left.
    {"FullDiskMissingFile", [](TWorld& w) { return NearlyFullDisk(w, 0); }, false},
    {"Utf16File",
     [](TWorld& w) {
       Put(w.File, "\xFF\xFE" + Le(u"[s]\r\nk=丫\r\n"));
       return std::string();
     },
     true,
     [](TWorld& w, const std::string& before) {
       const std::string after = Get(w.File);
       EXPECT_EQ(after.substr(0, before.size()), before) << "the old bytes are kept";
       EXPECT_EQ(after.substr(before.size()), Le(u"\r\n[NuvReader]\r\nnuvreader=读卡器 2\r\n"));
       EXPECT_EQ(IniReadString(w.File, "s", "k", ""), "丫");
     }},
    {"NulPaddedFile",
     [](TWorld& w) {
       Put(w.File, "[system]\r\nServerType=99" + std::string(64, '\0'));
       return std::string();
     },
     true,
     [](TWorld& w, const std::string& before) {
       EXPECT_EQ(Get(w.File).substr(0, before.size()), before) << "the NULs are kept";
       EXPECT_EQ(IniReadString(w.File, "system", "ServerType", ""), "99");
     }},
    {"LongDoubleBytePath",
     [](TWorld& w) {
       // Under 260 characters, over 260 bytes: four folders of 40 double-byte characters.
       std::string component;
       for (int i = 0; i < 40; ++i) component += "读";
       for (int i = 0; i < 4; ++i) {
         w.Folder += w.kSep + component;
         if (!MakeFolder(w.Folder)) return std::string("cannot make a long folder here");
       }
       w.File = w.Folder + w.kSep + "UserConfig.ini";
       return std::string();
     },
     true},
    {"PathOverMaxPathCharacters",
     [](TWorld& w) {
       std::string component;
       for (int i = 0; i < 60; ++i) component += "卡";
       for (int i = 0; i < 6; ++i) {
         w.Folder += w.kSep + component;
         if (!MakeFolder(w.Folder)) return std::string("cannot make a long folder here");
       }
       w.File = w.Folder + w.kSep + "UserConfig.ini";
       Put(w.File, kOldBytes);
       return std::string();
     },
     true},
};

class ProfileSituation : public ::testing::TestWithParam<Situation> {};

TEST_P(ProfileSituation, WritesOrLeavesTheOldBytes) {
  const Situation& row = GetParam();
  TWorld w;
  const std::string why = row.prepare(w);
  if (!why.empty()) GTEST_SKIP() << why;
  if (w.Watched.empty()) w.Watched = {w.Folder};
  std::vector<std::set<std::string>> namesBefore;
  for (const std::string& folder : w.Watched) namesBefore.push_back(Names(folder));
  const bool existed = IsFile(w.File);
  const std::string before = w.Before ? *w.Before : existed ? Get(w.File) : "";
  long osError = 0;
  bool written = false;
  const auto start = std::chrono::steady_clock::now();
  try {
    IniWriteString(w.File, kSection, kKey, kNewReader);
    written = true;
  } catch (const IniWriteError& e) {
    osError = e.OsError();
    EXPECT_NE(std::string(e.what()).find(w.File), std::string::npos) << e.what();
  }
  const auto took = std::chrono::steady_clock::now() - start;
  w.CloseHolders();
  EXPECT_LT(Milliseconds(took), Milliseconds(kWriteBound)) << "the write took too long";
  EXPECT_EQ(written, row.written) << "OS error " << osError;
  if (written) {
    EXPECT_EQ(IniReadString(w.File, kSection, kKey, "<none>"), kNewReader);
  } else {
    EXPECT_NE(osError, 0);
    if (existed) {
      EXPECT_EQ(Get(w.File), before) << "the old bytes changed";
    }
  }
  // Nothing but a created file appears.
  for (size_t i = 0; i < w.Watched.size(); ++i) {
    std::set<std::string> want = namesBefore[i];
    if (written && w.Watched[i] == w.Folder) want.insert("UserConfig.ini");
    EXPECT_EQ(Names(w.Watched[i]), want) << w.Watched[i];
  }
  if (row.check != nullptr) row.check(w, before);
}

INSTANTIATE_TEST_SUITE_P(FileSystem, ProfileSituation, ::testing::ValuesIn(kSituations),
                         [](const ::testing::TestParamInfo<Situation>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
