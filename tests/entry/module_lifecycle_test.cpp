// ReaderSettings.dll in a host process over many uses: loaded and freed a thousand times,
// its dialog opened and closed two hundred times, and the process ending with the
// dialog open.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "HostSim.h"
#include "ModuleHost.h"

namespace {

using ShowFrmOptionFn = void(__stdcall*)(uintptr_t, uint32_t, uint32_t);

const std::string kModulePath = ProgramDir() + "ReaderSettings.dll";

// Loads and frees the module; false when it does not load.
bool LoadAndFree() {
  HMODULE module = LoadLibraryA(kModulePath.c_str());
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}

// The host's libraries (ModuleLib.dll, logQuery.dll) stay loaded as this program's
// imports; only the module comes and goes. The first cycle settles what the system keeps
// once for any library (loader caches), so it is the base.
TEST(ModuleLoad, AThousandLoadsAndUnloadsKeepHandlesHeapAndTlsIndexes) {
  ASSERT_TRUE(LoadAndFree()) << kModulePath << ": error " << GetLastError();
  CountProcessResources();  // what counting makes once stays out of the figures
  const TProcessCounts base = CountProcessResources();
  TProcessCounts after10{};
  for (int cycle = 1; cycle <= 1000; ++cycle) {
    ASSERT_TRUE(LoadAndFree()) << "load " << cycle << ": error " << GetLastError();
    if (cycle == 10) {
      after10 = CountProcessResources();
      ReportCounts("after 10 loads", base, after10);
    }
  }
  const TProcessCounts after1000 = CountProcessResources();
  ReportCounts("after 1000 loads", base, after1000);

  EXPECT_LT(after1000.KernelHandles - base.KernelHandles, 50);
  EXPECT_LT(HeapGrowth(base, after1000), 256 * 1024);
  // Every TLS index taken at load is given back at unload: a host runs out of them
  // after about a thousand loads otherwise.
  EXPECT_EQ(after1000.FreeTlsIndexes, base.FreeTlsIndexes);
}

// Closes the dialog with the close box's message once it is up; runs inside the modal
// loop as a timer of the calling thread.
void CALLBACK CloseDialogWhenShown(HWND, UINT, UINT_PTR, DWORD) {
  if (HWND dialog = FindReaderDialog()) PostMessageW(dialog, WM_CLOSE, 0, 0);
}

class ShowFrmOptionCycles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(HostSim_Open(FWorld.ProfileDir().c_str()), 1) << HostSim_LastError();
    FHostWindow = MakeHostWindow();
    HostSim_SetHandles(reinterpret_cast<THostHandle>(FHostWindow), 0);
    FModule = LoadLibraryA(kModulePath.c_str());
    ASSERT_NE(FModule, nullptr) << kModulePath << ": error " << GetLastError();
    FShow = reinterpret_cast<ShowFrmOptionFn>(
        reinterpret_cast<void*>(GetProcAddress(FModule, "ShowFrmOption")));
    ASSERT_NE(FShow, nullptr);
  }
  void TearDown() override {
    if (FModule != nullptr) FreeLibrary(FModule);
    if (FHostWindow != nullptr) DestroyWindow(FHostWindow);
    HostSim_Close();
  }

  // One use of the dialog as an operator makes it: opened, the readers listed, closed
  // by the close box.
  void ShowAndClose() {
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, CloseDialogWhenShown);
    FShow(reinterpret_cast<uintptr_t>(FHostWindow), 0, 0);
    KillTimer(nullptr, timer);
  }

  TModuleWorld FWorld;
  HWND FHostWindow = nullptr;
  HMODULE FModule = nullptr;
  ShowFrmOptionFn FShow = nullptr;
};

// What the first calls make once is the base: the module's window classes at the first
// call, and two region objects that Wine's window system makes at the second and keeps
// (they are no objects of the module's). From then on every call gives back every GDI
// object and window it made, and every handle, TLS index and block of heap that it and
// the reader library it loads and frees made: a host that kept a TLS index per opening
// would run out of them after about a thousand openings.
TEST_F(ShowFrmOptionCycles, TwoHundredCallsKeepHandlesHeapTlsGdiObjectsAndWindowsFlat) {
  CountProcessResources();  // what counting makes once stays out of the figures
  const TProcessCounts before = CountProcessResources();
  ShowAndClose();
  ReportCounts("after 1 call", before, CountProcessResources());
  ShowAndClose();
  const TProcessCounts after2 = CountProcessResources();
  ReportCounts("after 2 calls", before, after2);
  for (int call = 3; call <= 202; ++call) ShowAndClose();
  const TProcessCounts after202 = CountProcessResources();
  ReportCounts("after 200 more calls", before, after202);
  ReportCounts("200 calls from the second on", after2, after202);
  EXPECT_EQ(after202.GdiObjects, after2.GdiObjects);
  EXPECT_EQ(after202.Windows, after2.Windows);
  EXPECT_LT(after202.KernelHandles - after2.KernelHandles, 50);
  EXPECT_LT(HeapGrowth(after2, after202), 256 * 1024);
  EXPECT_EQ(after202.FreeTlsIndexes, after2.FreeTlsIndexes);
  EXPECT_EQ(FindReaderDialog(), nullptr);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A reader library that faulted stays loaded and refused when the host frees the module and
// loads it again: the module loaded anew makes no call into it either.
TEST(ModuleReload, AReaderLibraryThatFaultedIsRefusedByTheModuleLoadedAgain) {
  TModuleWorld world;
  const std::string subApp = world.ProfileDir() + "\\subapp\\";
  const std::string library = subApp + "lurmScard_old.dll";
  const std::string trace = subApp + "calls.txt";
  ASSERT_TRUE(CopyFileA((ProgramDir() + "lurmScard_faulty.dll").c_str(), library.c_str(), FALSE));
  {
    std::ofstream config(library + ".sim.ini", std::ios::binary | std::ios::trunc);
    config << "reader=ACS 0\nfault=SCListReaders\ntrace=" << trace << "\n";
  }
  ASSERT_EQ(HostSim_Open(world.ProfileDir().c_str()), 1) << HostSim_LastError();
  HWND hostWindow = MakeHostWindow();
  HostSim_SetHandles(reinterpret_cast<THostHandle>(hostWindow), 0);
  for (int load = 1; load <= 2; ++load) {
    SCOPED_TRACE("load " + std::to_string(load));
    HMODULE module = LoadLibraryA(kModulePath.c_str());
    ASSERT_NE(module, nullptr) << kModulePath << ": error " << GetLastError();
    auto show = reinterpret_cast<ShowFrmOptionFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "ShowFrmOption")));
    ASSERT_NE(show, nullptr);
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, CloseDialogWhenShown);
    show(reinterpret_cast<uintptr_t>(hostWindow), 0, 0);
    KillTimer(nullptr, timer);
    FreeLibrary(module);
    EXPECT_NE(GetModuleHandleA(library.c_str()), nullptr) << "the faulted library was unloaded";
  }
  DestroyWindow(hostWindow);
  HostSim_Close();
  // One call, the one that faulted; both openings showed the listing's failure.
  EXPECT_EQ(ReadWholeFile(trace), "SCListReaders zeroed=1\nSCListReaders fault\n");
  EXPECT_EQ(CountOf(ReadWholeFile(world.ProfileDir() + "\\transcript.txt"), "70000995"), 2u);
  DeleteFileA(trace.c_str());
}

// Runs a probe program with the host profile folder as its argument and returns its exit
// code; ~0 when it did not start or did not end within 60 s. program: a file of this
// folder, or a full path.
DWORD RunProbe(const std::string& program, const std::string& profileDir) {
  const std::string path =
      program.find('\\') == std::string::npos ? ProgramDir() + program : program;
  std::string command = "\"" + path + "\" \"" + profileDir + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << command << ": error " << GetLastError();
    return ~0u;
  }
  const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (waited != WAIT_OBJECT_0) {
    ADD_FAILURE() << path << " did not end within 60 s";
    return ~0u;
  }
  return exitCode;
}

// The process ends with the dialog open: the probe program opens it, then gives the
// module the process-exit notification (DLL_PROCESS_DETACH with a non-null reserved
// argument) from inside the modal loop and reports what is still there.
TEST(ModuleExit, ProcessExitLeavesTheDialogAndTheReaderLibraryAlone) {
  TModuleWorld world;
  const DWORD exitCode = RunProbe("module_exit_probe.exe", world.ProfileDir());
  // The probe's exit code: 0 all left alone; bit 1 the dialog was destroyed, bit 2 the
  // reader library was released; 8 and up: it could not get that far (see its output).
  EXPECT_EQ(exitCode & 1u, 0u) << "the dialog was destroyed at process exit";
  EXPECT_EQ(exitCode & 2u, 0u) << "the reader library was released at process exit";
  EXPECT_LT(exitCode, 8u) << "the probe failed before the exit notification";
}

// An accessibility client on the dialog's thread that keeps the dialog's objects past the
// dialog and past FreeLibrary calls them and releases them without a crash; one that
// released them in time lets the module unload (the probe's output names each finding).
TEST(ModuleAccessibility, AClientKeepingTheDialogsObjectsPastFreeLibraryCanCallAndReleaseThem) {
  TModuleWorld world;
  EXPECT_EQ(RunProbe("accessible_client_probe.exe", world.ProfileDir()), 0u);
}

// True under Wine, whose loader prefers its own copy of a system library to one found in
// the program's folder; Windows has no such preference.
bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A host whose folder holds a planted "oleacc.dll": the module, asked for its accessible
// objects, loads the accessibility and COM libraries from the system folder only, and the
// planted copy never runs. Under Wine the probe runs with "oleacc=n,b", so that the
// program's folder is searched before Wine's own copy, as Windows searches it.
TEST(ModuleSystemLibraries, APlantedOleaccInTheHostsFolderIsNeverLoaded) {
  TModuleWorld world;
  const std::string host = world.ProfileDir() + "\\..\\planted-host\\";
  ASSERT_TRUE(CreateDirectoryA(host.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  for (const char* file :
       {"system_library_probe.exe", "ReaderSettings.dll", "ModuleLib.dll", "logQuery.dll"})
    ASSERT_TRUE(CopyFileA((ProgramDir() + file).c_str(), (host + file).c_str(), FALSE)) << file;
  ASSERT_TRUE(CopyFileA((ProgramDir() + "planted\\oleacc.dll").c_str(),
                        (host + "oleacc.dll").c_str(), FALSE));
  // The probe inherits the overrides; Wine reads them when a process starts.
  char overrides[512] = {};
  const DWORD had = GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
  const bool wine = UnderWine();
  if (wine)
    SetEnvironmentVariableA("WINEDLLOVERRIDES",
                            (std::string(overrides, had < sizeof overrides ? had : 0) +
                             (had != 0 ? ";" : "") + "oleacc=n,b")
                                .c_str());
  const DWORD exitCode = RunProbe(host + "system_library_probe.exe", world.ProfileDir());
  if (wine) SetEnvironmentVariableA("WINEDLLOVERRIDES", had != 0 ? overrides : nullptr);
  EXPECT_EQ(exitCode, 0u) << "see the probe's lines above";
  for (const char* file : {"system_library_probe.exe", "ReaderSettings.dll", "ModuleLib.dll",
                           "logQuery.dll", "oleacc.dll"})
    DeleteFileA((host + file).c_str());
  RemoveDirectoryA(host.c_str());
}

}  // namespace
