// The host simulator on Windows: the host's own windows, the module loaded by path, and
// the script played from a second thread against the dialog's real windows.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "Driver.h"
#include "Host.h"
#include "HostSim.h"
#include "platform/DynamicLibrary.h"

namespace {

constexpr UINT kWmHelpRequest = 0x510;
std::atomic<int> gHelpRequests{0};

using ShowFrmOptionFn = void(__stdcall*)(uintptr_t, uint32_t, uint32_t);

LRESULT CALLBACK HostWndProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWmHelpRequest) {
    ++gHelpRequests;
    return 0;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

HWND MakeWindow(const wchar_t* className, const wchar_t* title) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = HostWndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  RegisterClassW(&wc);
  return CreateWindowExW(0, className, title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance,
                         nullptr);
}

}  // namespace

std::string Utf8ToAnsi(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  int m = WideCharToMultiByte(CP_ACP, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string ansi(m, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), n, ansi.data(), m, nullptr, nullptr);
  return ansi;
}

bool RunModule(const TModHostOptions& options, const std::vector<TScriptLine>* script,
               const TTranscriptSource& transcriptIn, std::vector<std::string>& failures) {
  // The host's application window (hidden, as the host's is) and its main frame.
  HWND app = MakeWindow(L"TApplication", L"modhost");
  HWND mainFrame = options.MainFrame ? MakeWindow(L"Tfrm_MainFrame", L"modhost") : nullptr;
  HostSim_SetHandles(reinterpret_cast<THostHandle>(app), reinterpret_cast<THostHandle>(mainFrame));
  TTranscriptSource transcript = transcriptIn;
  transcript.HelpRequests = [] { return gHelpRequests.load(); };

  const UniqueModule module(LoadDynamicLibrary(options.Module.c_str()));
  if (!module) {
    failures.push_back("cannot load " + options.Module + " (error " +
                       std::to_string(GetLastError()) + ")");
    return false;
  }
  auto show = reinterpret_cast<ShowFrmOptionFn>(FindLibraryExport(module.Get(), "ShowFrmOption"));
  if (show == nullptr) {
    failures.push_back(options.Module + " has no export ShowFrmOption");
    return false;
  }

  // Nothing may hang a scripted run: past the bound the process ends.
  const int timeoutMs = options.TimeoutSeconds * 1000;
  std::thread watchdog;
  std::atomic<bool> done{false};
  std::atomic<bool> appeared{true};
  std::thread driverThread;
  if (script != nullptr) {
    watchdog = std::thread([&] {
      const DWORD start = GetTickCount();
      while (!done && GetTickCount() - start < static_cast<DWORD>(timeoutMs)) Sleep(100);
      if (!done) {
        std::fprintf(stderr, "modhost: the run did not end within %d s\n", options.TimeoutSeconds);
        std::fflush(stderr);
        ExitProcess(3);
      }
    });
    driverThread = std::thread([&] {
      HWND dialog = WaitForDialog(L"Tfrm_option", timeoutMs);
      if (dialog == nullptr) {
        appeared = false;
        failures.push_back("the dialog did not appear");
        return;
      }
      auto driver = MakeWin32Driver(dialog);
      if (!options.Screenshot.empty() && !driver->Screenshot(options.Screenshot))
        failures.push_back("could not save screenshot " + options.Screenshot);
      RunScript(*script, *driver, transcript, failures);
      // Closing ends the modal loop; the window goes when ShowFrmOption destroys the dialog.
      for (int i = 0; i < 100 && !driver->Closed(); ++i) Sleep(50);
      if (!driver->Closed()) {
        failures.push_back("the dialog is still open at the end of the script");
        driver->CloseBox();
      }
    });
  }

  show(reinterpret_cast<uintptr_t>(app), 0, 0);

  if (driverThread.joinable()) driverThread.join();
  done = true;
  if (watchdog.joinable()) watchdog.join();
  if (mainFrame != nullptr) DestroyWindow(mainFrame);
  DestroyWindow(app);
  return appeared;
}
