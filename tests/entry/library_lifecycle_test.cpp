// The libraries the reader settings dialog loads at every opening and frees when it
// closes, each loaded, used and freed a thousand times in one host process: the
// simulated reader library, the reader library over PC/SC, and the stand-in host
// libraries. This program imports none of them, so every load is a real load and every
// free a real unload. Under Wine, WinSCard has no service behind it: the PC/SC library's
// calls fail at once, its connect on the worker thread that bounds it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "ProcessCounts.h"
#include "ReaderLibrary.h"

namespace {

constexpr int kCycles = 1000;

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path);
  return dir.substr(0, dir.find_last_of('\\') + 1);
}

// A temporary folder holding the simulated reader library as "lurmScard.dll" with two
// readers, as a sub-application folder holds it.
class TSimReaderFolder {
 public:
  TSimReaderFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    FDir = std::string(temp) + "rs-libcycles-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(FDir.c_str(), nullptr);
    CopyFileA((ProgramFolder() + "lurmScard.dll").c_str(), LibraryPath().c_str(), FALSE);
    HANDLE file = CreateFileA(ConfigPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    const char kConfig[] = "reader=ACS 0\nreader=ACS 1\n";
    DWORD written = 0;
    WriteFile(file, kConfig, sizeof kConfig - 1, &written, nullptr);
    CloseHandle(file);
  }
  ~TSimReaderFolder() {
    DeleteFileA(LibraryPath().c_str());
    DeleteFileA(ConfigPath().c_str());
    RemoveDirectoryA(FDir.c_str());
  }
  TSimReaderFolder(const TSimReaderFolder&) = delete;
  TSimReaderFolder& operator=(const TSimReaderFolder&) = delete;

  std::string LibraryPath() const { return FDir + "\\lurmScard.dll"; }

 private:
  std::string ConfigPath() const { return LibraryPath() + ".sim.ini"; }
  std::string FDir;
};

// One opening of the dialog as far as the reader library sees it: the list, a connect,
// a command, an error text, the disconnect.
void UseSimReader(ReaderLibrary& lib) {
  char list[kReaderListSize] = {};
  ASSERT_EQ(lib.ListReaders(list), 0);
  ASSERT_EQ(std::string(list, 12), std::string("ACS 0\0ACS 1\0", 12));
  char area[kConnectAreaSize] = {};
  ASSERT_EQ(lib.ConnectReader("ACS 0", area), 0);
  const uint8_t command[] = {0x00, 0xA4, 0x04, 0x00};
  uint8_t response[8] = {};
  int32_t length = 0;
  ASSERT_EQ(lib.SendCmd(command, sizeof command, response, sizeof response, &length), 0);
  ASSERT_EQ(length, 4);
  ASSERT_NE(lib.GetErrorText(kNoSmartcard), nullptr);
  ASSERT_EQ(lib.DisConnectReader(), 0);
}

// The same over PC/SC with no service: every call gets through to WinSCard and back.
void UsePcscReader(ReaderLibrary& lib) {
  char list[kReaderListSize] = {};
  const int32_t listCode = lib.ListReaders(list);
  ASSERT_NE(listCode, 0);
  char area[kConnectAreaSize] = {};
  ASSERT_NE(lib.ConnectReader("Virtual PCD 00 00", area), 0);
  const uint8_t command[] = {0x00, 0xA4, 0x04, 0x00};
  uint8_t response[8] = {};
  int32_t length = -1;
  ASSERT_EQ(lib.SendCmd(command, sizeof command, response, sizeof response, &length),
            kInvalidHandle);
  const char* text = lib.GetErrorText(listCode);
  ASSERT_NE(text, nullptr);
  ASSERT_GT(std::strlen(text), 0u);
  ASSERT_EQ(lib.DisConnectReader(), 0);
}

// The host's own libraries; ModuleLib.dll brings logQuery.dll in as its import. The host
// world that ModuleLib builds at its first host call stays until the process ends, as the
// host never frees its own ModuleLib, so the calls here build none: one into each library.
using HostLogSetFileFn = void (*)(const char*);
using HostSimLastErrorFn = const char* (*)();

template <class TFn>
TFn ExportOf(const char* library, const char* name) {
  return reinterpret_cast<TFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(library), name)));
}

void UseHostLibraries() {
  auto setLogFile = ExportOf<HostLogSetFileFn>("logQuery.dll", "HostLog_SetFile");
  auto lastError = ExportOf<HostSimLastErrorFn>("ModuleLib.dll", "HostSim_LastError");
  ASSERT_NE(setLogFile, nullptr);
  ASSERT_NE(lastError, nullptr);
  setLogFile("");
  ASSERT_NE(lastError(), nullptr);
}

bool IsLoaded(const std::string& path) { return GetModuleHandleA(path.c_str()) != nullptr; }

// Runs cycle() kCycles times after one settling cycle (what the system keeps once for any
// library: loader caches), and checks what the process holds afterwards.
void ExpectFlatOverCycles(const std::function<void()>& cycle) {
  cycle();
  if (testing::Test::HasFatalFailure()) return;
  CountProcessResources();  // what counting makes once stays out of the figures
  const TProcessCounts base = CountProcessResources();
  for (int i = 1; i <= kCycles; ++i) {
    cycle();
    if (testing::Test::HasFatalFailure()) {
      ADD_FAILURE() << "in cycle " << i;
      return;
    }
    if (i == 10) ReportCounts("after 10 cycles", base, CountProcessResources());
  }
  const TProcessCounts after = CountProcessResources();
  ReportCounts("after 1000 cycles", base, after);
  EXPECT_LT(after.KernelHandles - base.KernelHandles, 50);
  EXPECT_LT(HeapGrowth(base, after), 256 * 1024);
  // A TLS index a library takes at load and keeps: the host runs out after about a
  // thousand openings of the dialog.
  EXPECT_EQ(after.FreeTlsIndexes, base.FreeTlsIndexes);
}

TEST(LibraryCycles, SimulatedReaderLibraryKeepsNothingPerLoad) {
  TSimReaderFolder folder;
  const std::string path = folder.LibraryPath();
  ExpectFlatOverCycles([&] {
    {
      ReaderLibrary lib(path);
      UseSimReader(lib);
    }
    ASSERT_FALSE(IsLoaded(path)) << "still loaded after its free";
  });
}

TEST(LibraryCycles, PcscReaderLibraryKeepsNothingPerLoad) {
  const std::string path = ProgramFolder() + ReaderLibrary::InstalledPath();
  ExpectFlatOverCycles([&] {
    {
      ReaderLibrary lib(path);
      UsePcscReader(lib);
    }
    // A connect left running keeps the library loaded; none may be left here.
    ASSERT_FALSE(IsLoaded(path)) << "still loaded after its free";
  });
}

TEST(LibraryCycles, HostLibrariesKeepNothingPerLoad) {
  const std::string moduleLib = ProgramFolder() + "ModuleLib.dll";
  const std::string logQuery = ProgramFolder() + "logQuery.dll";
  ExpectFlatOverCycles([&] {
    HMODULE module = LoadLibraryA(moduleLib.c_str());
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    UseHostLibraries();
    FreeLibrary(module);
    ASSERT_FALSE(IsLoaded(moduleLib)) << "still loaded after its free";
    ASSERT_FALSE(IsLoaded(logQuery)) << "still loaded after ModuleLib.dll's free";
  });
}

}  // namespace
