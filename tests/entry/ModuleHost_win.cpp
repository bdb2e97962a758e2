#include <fstream>

#include "ModuleHost.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool CopyBinFile(const std::string& name, const std::string& to) {
  return CopyFileA((ProgramDir() + name).c_str(), to.c_str(), FALSE) != 0;
}

BOOL CALLBACK FindDialogOf(HWND window, LPARAM found) {
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (IsWindowVisible(window) && std::wstring(className) == L"Tfrm_option") {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

std::string ProgramDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path);
  return dir.substr(0, dir.find_last_of('\\') + 1);
}

TModuleWorld::TModuleWorld() {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  FRoot = std::string(temp) + "rs-module-" + std::to_string(GetCurrentProcessId()) + "-" +
          std::to_string(GetTickCount());
  FProfile = FRoot + "\\host";
  const std::string subApp = FProfile + "\\subapp";
  CreateDirectoryA(FRoot.c_str(), nullptr);
  CreateDirectoryA(FProfile.c_str(), nullptr);
  CreateDirectoryA(subApp.c_str(), nullptr);
  CopyBinFile("host-profile\\Messages.txt", FProfile + "\\Messages.txt");
  WriteFile(FProfile + "\\Host.ini",
            "[Host]\r\nMode=record\r\nTranscript=transcript.txt\r\nLog=host.log\r\n"
            "[SubApp]\r\nPath=subapp\r\nCode=YB01\r\nFuncCode=YB0105\r\n");
  CopyBinFile("lurmScard.dll", subApp + "\\lurmScard_old.dll");
  WriteFile(subApp + "\\lurmScard_old.dll.sim.ini", "reader=ACS 0\nreader=ACS 1\n");
}

TModuleWorld::~TModuleWorld() {
  // Files first, then the folders, deepest first; a leftover file only keeps its folder.
  const std::string subApp = FProfile + "\\subapp";
  for (const char* name :
       {"\\lurmScard_old.dll", "\\lurmScard_old.dll.sim.ini", "\\UserConfig.ini"})
    DeleteFileA((subApp + name).c_str());
  for (const char* name : {"\\Messages.txt", "\\Host.ini", "\\transcript.txt", "\\host.log"})
    DeleteFileA((FProfile + name).c_str());
  RemoveDirectoryA(subApp.c_str());
  RemoveDirectoryA(FProfile.c_str());
  RemoveDirectoryA(FRoot.c_str());
}

HWND MakeHostWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = HostWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TApplication";
  RegisterClassW(&wc);
  return CreateWindowExW(0, wc.lpszClassName, L"module host", WS_POPUP, 0, 0, 0, 0, nullptr,
                         nullptr, wc.hInstance, nullptr);
}

HWND FindReaderDialog() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialogOf, reinterpret_cast<LPARAM>(&found));
  return found;
}
