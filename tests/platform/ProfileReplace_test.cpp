// The rare paths of a profile write that replaces the file as a whole.
//
// Windows: the replacement (a temporary file moved over the old one) runs only for files
// whose rights all come from their folder, which Wine's files never are: the tests force
// it (SetProfileReplaceForced) and meet it with rivals that take the file or the
// temporary file just before the move (the move hook), or hold the file throughout.
// Every row checks that the new key and every other version are kept, that no other
// file is left in the folder, and that the file keeps its owner and access rights. A
// file whose deletion is pending answers ERROR_ACCESS_DENIED on Windows (Wine answers
// ERROR_SHARING_VIOLATION): a shim answers as Windows does, and the write waits for the
// file as for a held one.
//
// Elsewhere: a creation cut short (a crash) between linking its temporary file to the
// file's name and removing the temporary name leaves a second link; the next write
// removes it and replaces the file as a whole again.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../reader/ReaderWorld.h"
#include "platform/Profile.h"
#include "platform/ProfileFile.h"

#if defined(_WIN32)
#include <aclapi.h>
#include <sddl.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kSection = "NuvReader";
constexpr const char* kKey = "nuvreader";
const std::string kOldBytes = "[system]\r\nServerType=99\r\n\r\n[NuvReader]\r\nnuvreader=旧\r\n";

std::set<std::string> Names(const TTempFolder& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder.Path()))
    names.insert(entry.path().filename().string());
  return names;
}

#if defined(_WIN32)

std::wstring Wide(const std::string& text) {
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// The file's identity on its volume: a file replaced as a whole is another file.
std::optional<std::pair<DWORD, DWORD>> FileIndex(const std::string& path) {
  const HANDLE h = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool got = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!got) return std::nullopt;
  return std::make_pair(info.nFileIndexHigh, info.nFileIndexLow);
}

// The file's owner and access rights as text.
std::string OwnerAndRights(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (GetNamedSecurityInfoW(Wide(path).c_str(), SE_FILE_OBJECT, kWhat, nullptr, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return "<unreadable>";
  char* text = nullptr;
  std::string result = "<no text>";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, kWhat,
                                                           &text, nullptr)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return result;
}

HANDLE OpenAs(const std::string& path, DWORD access, DWORD share) {
  return CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Another program around the write: it may hold the file from the start, and may act
// just before the move; whatever it holds it lets go after the write.
struct TRival {
  TTempFolder* folder = nullptr;
  std::string file;
  std::vector<HANDLE> handles;
  void (*atMove)(TRival& rival) = nullptr;
  bool acted = false;
  // A third writer that comes right after the move: it writes then, or, finding the file
  // held, after the write, as a writer that waits for the file does.
  bool thirdWriter = false;
  bool thirdCame = false;
  bool thirdWaits = false;

  static void AtMove(void* context) {
    auto* rival = static_cast<TRival*>(context);
    if (rival->atMove == nullptr || rival->acted) return;
    rival->acted = true;
    rival->atMove(*rival);
  }
  static void AfterMove(void* context) {
    auto* rival = static_cast<TRival*>(context);
    if (!rival->thirdWriter || rival->thirdCame) return;
    rival->thirdCame = true;
    rival->WriteThird();
  }
  // Sets [system] third=3 in whatever version the file holds, holding it as the
  // profile writer does; false when the file is held.
  bool TryWriteThird() {
    const HANDLE h = OpenAs(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    if (h == INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
      return false;
    }
    std::string bytes;
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(h, chunk, sizeof chunk, &n, nullptr) && n != 0) bytes.append(chunk, n);
    const std::string next = IniWithValue(bytes, "system", "third", "3");
    SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    EXPECT_TRUE(WriteFile(h, next.data(), static_cast<DWORD>(next.size()), &n, nullptr));
    EXPECT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    return true;
  }
  void WriteThird() { thirdWaits = !TryWriteThird(); }
  void LetGo() {
    for (HANDLE h : handles) CloseHandle(h);
    handles.clear();
  }
};

struct ReplaceRow {
  const char* name;
  DWORD holdShare;  // the rival holds the file from the start with this share mode; ~0: not
  void (*atMove)(TRival& rival);
  const char* rivalValue;  // the value of [system] stamp the rival leaves, if it writes
  bool replaced;           // the file is another file afterwards
  bool thirdWriter;        // a third writer comes right after the move
};

constexpr DWORD kNoHold = ~DWORD{0};

// Takes the temporary file as a scanner would: for reading if it can, else for its
// attributes; it keeps it until after the write.
void TakeTemporary(TRival& rival) {
  for (const std::string& name : Names(*rival.folder)) {
    if (name.rfind("~ini", 0) != 0 || name.size() < 4 || name.substr(name.size() - 4) != ".tmp")
      continue;
    const std::string path = rival.folder->PathOf(name);
    HANDLE h = OpenAs(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (h == INVALID_HANDLE_VALUE) h = OpenAs(path, FILE_READ_ATTRIBUTES, 0);
    if (h != INVALID_HANDLE_VALUE) rival.handles.push_back(h);
  }
  if (rival.handles.empty()) ADD_FAILURE() << "no temporary file to take";
}

// Writes its own version of the file in place, sharing nothing meanwhile, as another
// writer that gets the file between the write letting go of it and the move.
void WriteJustBeforeTheMove(TRival& rival) {
  const HANDLE h = OpenAs(rival.file, GENERIC_READ | GENERIC_WRITE, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  const std::string bytes =
      "[system]\r\nServerType=99\r\nstamp=rival\r\n\r\n[NuvReader]\r\nnuvreader=旧\r\n";
  DWORD n = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
  SetEndOfFile(h);
  CloseHandle(h);
}

const ReplaceRow kReplaceRows[] = {
    {"NoRival", kNoHold, nullptr, nullptr, true, false},
    {"RivalHoldsTheFileWithoutDeleteSharing", FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, nullptr,
     false, false},
    {"RivalHoldsTheFileSharingEverything", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
     nullptr, nullptr, false, false},
    {"RivalTakesTheTemporaryFile", kNoHold, TakeTemporary, nullptr, true, false},
    {"RivalWritesTheFileJustBeforeTheMove", kNoHold, WriteJustBeforeTheMove, "rival", true, false},
    {"RivalWritesJustBeforeTheMoveAndAThirdWriterRightAfter", kNoHold, WriteJustBeforeTheMove,
     "rival", true, true},
};

TEST(ProfileReplace, ForcedReplacementKeepsEveryVersionOwnerAndRightsAndLeavesNothing) {
  for (const ReplaceRow& row : kReplaceRows) {
    SCOPED_TRACE(row.name);
    TTempFolder folder;
    TRival rival;
    rival.folder = &folder;
    rival.file = folder.PathOf("UserConfig.ini");
    rival.atMove = row.atMove;
    rival.thirdWriter = row.thirdWriter;
    WriteBytes(rival.file, kOldBytes);
    const auto indexBefore = FileIndex(rival.file);
    const std::string securityBefore = OwnerAndRights(rival.file);
    if (row.holdShare != kNoHold) {
      const HANDLE h = OpenAs(rival.file, GENERIC_READ, row.holdShare);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      rival.handles.push_back(h);
    }
    SetProfileReplaceForced(true);
    SetProfileMoveHook(TRival::AtMove, &rival);
    SetProfileMovedHook(TRival::AfterMove, &rival);
    long error = 0;
    try {
      IniWriteString(rival.file, kSection, kKey, "读卡器 2");
    } catch (const IniWriteError& e) {
      error = e.OsError();
    }
    SetProfileMovedHook(nullptr, nullptr);
    SetProfileMoveHook(nullptr, nullptr);
    SetProfileReplaceForced(false);
    rival.LetGo();
    if (rival.thirdWaits) {
      EXPECT_TRUE(rival.TryWriteThird()) << "the file is still held";
    }
    EXPECT_EQ(error, 0);
    EXPECT_EQ(rival.acted, row.atMove != nullptr) << "the write never came to the move";
    EXPECT_EQ(rival.thirdCame, row.thirdWriter) << "the write never moved its file in";
    EXPECT_EQ(IniReadString(rival.file, "system", "third", "<none>"),
              row.thirdWriter ? "3" : "<none>");
    EXPECT_EQ(IniReadString(rival.file, kSection, kKey, ""), "读卡器 2");
    EXPECT_EQ(IniReadString(rival.file, "system", "stamp", "<none>"),
              row.rivalValue != nullptr ? row.rivalValue : "<none>");
    EXPECT_EQ(IniReadString(rival.file, "system", "ServerType", ""), "99");
    EXPECT_EQ(FileIndex(rival.file) != indexBefore, row.replaced);
    EXPECT_EQ(OwnerAndRights(rival.file), securityBefore);
    EXPECT_EQ(Names(folder), std::set<std::string>{"UserConfig.ini"});
  }
}

// A file whose deletion another program has asked for stays until that program lets go
// of it; Windows refuses to open it meanwhile with ERROR_ACCESS_DENIED. The rival here
// lets go at the third attempt to open the file (the shim counts them), cancelling the
// deletion or not: the write waits for it and then writes the file, or creates it. A
// read-only file answers ERROR_ACCESS_DENIED as well and is refused without waiting.
struct TDeletingRival {
  std::string file;
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool cancels = false;
  int attempts = 0;
  bool deadlineReached = false;

  // Windows' answer while the deletion is pending, whatever Wine answered.
  static long Answer(long error, void* context) {
    auto* rival = static_cast<TDeletingRival*>(context);
    if (rival->handle == INVALID_HANDLE_VALUE) return error;
    if (++rival->attempts == 3) {
      FILE_DISPOSITION_INFO keep{!rival->cancels};
      if (rival->cancels)
        SetFileInformationByHandle(rival->handle, FileDispositionInfo, &keep, sizeof keep);
      CloseHandle(rival->handle);
      rival->handle = INVALID_HANDLE_VALUE;
    }
    return ERROR_ACCESS_DENIED;
  }
  static void Deadline(void* context) {
    static_cast<TDeletingRival*>(context)->deadlineReached = true;
  }
};

TEST(ProfileReplace, AFileWhoseDeletionIsPendingIsWaitedForAReadOnlyOneRefusedAtOnce) {
  struct Row {
    const char* name;
    bool readOnly;  // the file has the read-only attribute and no rival
    bool cancels;   // the rival cancels the deletion before it lets go
    bool written;
    const char* serverType;  // what the file reads afterwards
  };
  const Row rows[] = {
      {"DeletionCancelled", false, true, true, "99"},
      {"DeletionCompleted", false, false, true, ""},
      {"ReadOnlyFile", true, false, false, "99"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TTempFolder folder;
    TDeletingRival rival;
    rival.file = folder.PathOf("UserConfig.ini");
    rival.cancels = row.cancels;
    WriteBytes(rival.file, kOldBytes);
    if (row.readOnly) {
      SetFileAttributesW(Wide(rival.file).c_str(), FILE_ATTRIBUTE_READONLY);
    } else {
      rival.handle = OpenAs(rival.file, GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE);
      ASSERT_NE(rival.handle, INVALID_HANDLE_VALUE);
      FILE_DISPOSITION_INFO gone{TRUE};
      ASSERT_TRUE(
          SetFileInformationByHandle(rival.handle, FileDispositionInfo, &gone, sizeof gone));
    }
    SetProfileOpenShim(TDeletingRival::Answer, &rival);
    SetProfileDeadlineHook(TDeletingRival::Deadline, &rival);
    long error = 0;
    try {
      IniWriteString(rival.file, kSection, kKey, "读卡器 2");
    } catch (const IniWriteError& e) {
      error = e.OsError();
    }
    SetProfileOpenShim(nullptr, nullptr);
    SetProfileDeadlineHook(nullptr, nullptr);
    if (rival.handle != INVALID_HANDLE_VALUE) CloseHandle(rival.handle);
    SetFileAttributesW(Wide(rival.file).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(error == 0, row.written) << "error " << error;
    if (!row.written) {
      EXPECT_EQ(error, ERROR_ACCESS_DENIED);
      EXPECT_FALSE(rival.deadlineReached) << "a read-only file was waited for";
    }
    EXPECT_EQ(IniReadString(rival.file, kSection, kKey, ""), row.written ? "读卡器 2" : "旧");
    EXPECT_EQ(IniReadString(rival.file, "system", "ServerType", ""), row.serverType);
    EXPECT_EQ(Names(folder), std::set<std::string>{"UserConfig.ini"});
  }
}

#else

// A creation cut short leaves its temporary name (".ini-" and six characters) as a
// second link to the file; a name of that form that is another file, and a link of
// another name, stay.
TEST(ProfileReplace, ALinkLeftByACreationCutShortGoesAndTheFileIsReplacedWholeAgain) {
  struct Row {
    const char* name;
    std::vector<std::string> leftLinks;  // temporary names linked to the file
    const char* ownLink;                 // another name linked to the file, or nullptr
    const char* lookalike;               // a file of its own with a temporary name, or nullptr
    bool replaced;
  };
  const Row rows[] = {
      {"OneLeftLink", {".ini-a1B2c3"}, nullptr, nullptr, true},
      {"TwoLeftLinks", {".ini-a1B2c3", ".ini-Zz9yY8"}, nullptr, nullptr, true},
      {"LeftLinkAndALinkOfItsOwn", {".ini-a1B2c3"}, "other.ini", nullptr, false},
      {"AFileNamedLikeATemporaryOne", {}, nullptr, ".ini-q7W8e9", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TTempFolder folder;
    const std::string file = folder.PathOf("UserConfig.ini");
    WriteBytes(file, kOldBytes);
    for (const std::string& link : row.leftLinks) fs::create_hard_link(file, folder.PathOf(link));
    if (row.ownLink != nullptr) fs::create_hard_link(file, folder.PathOf(row.ownLink));
    if (row.lookalike != nullptr) WriteBytes(folder.PathOf(row.lookalike), "not ours");
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    IniWriteString(file, kSection, kKey, "读卡器 2");

    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(IniReadString(file, kSection, kKey, ""), "读卡器 2");
    EXPECT_EQ(after.st_ino != before.st_ino, row.replaced);
    std::set<std::string> want{"UserConfig.ini"};
    if (row.ownLink != nullptr) {
      want.insert(row.ownLink);
      EXPECT_EQ(ReadBytes(folder.PathOf(row.ownLink)), ReadBytes(file));
    }
    if (row.lookalike != nullptr) {
      want.insert(row.lookalike);
      EXPECT_EQ(ReadBytes(folder.PathOf(row.lookalike)), "not ours");
    }
    EXPECT_EQ(Names(folder), want);
  }
}

#endif

}  // namespace
