// The host simulator on Windows: the host's own windows, the module loaded by path, and
// the script played from a second thread against the dialog's real windows.
#include <windows.h>

#include <algorithm>
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

// Takes every fiber-local storage slot the process has left and keeps them for its life, as
// the plug-ins of a real host built on the static Microsoft runtime do (one or more each;
// Windows before 10 version 1903 gives a process 128, Wine 4080). Returns how many it took.
int UseUpFiberLocalStorage() {
  int taken = 0;
  while (FlsAlloc(nullptr) != FLS_OUT_OF_INDEXES) ++taken;
  return taken;
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

std::string AbsolutePath(const std::string& path) {
  char full[MAX_PATH * 2];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) return path;
  return std::string(full, n);
}

std::string CodePageWarning() {
  const UINT acp = GetACP();
  if (acp == 936) return {};
  return "the ANSI code page is " + std::to_string(acp) +
         ", not 936: the module's Chinese texts will show as \"?\". On Windows set the "
         "system locale (language for non-Unicode programs) to Chinese (Simplified, PRC); "
         "under Wine run with LC_ALL=zh_CN.UTF-8 (a zh_CN.UTF-8 locale must be installed)";
}

bool RunModule(const TModHostOptions& options, const std::vector<TScriptLine>* script,
               const TTranscriptSource& transcriptIn, std::vector<std::string>& failures,
               TScriptOutcome& outcome) {
  // The host's application window (hidden, as the host's is) and its main frame.
  HWND app = MakeWindow(L"TApplication", L"modhost");
  HWND mainFrame = options.MainFrame ? MakeWindow(L"Tfrm_MainFrame", L"modhost") : nullptr;
  HostSim_SetHandles(reinterpret_cast<THostHandle>(app), reinterpret_cast<THostHandle>(mainFrame));
  TTranscriptSource transcript = transcriptIn;
  transcript.HelpRequests = [] { return gHelpRequests.load(); };

  if (options.UseUpFls) {
    const int taken = UseUpFiberLocalStorage();
    std::fprintf(stderr, "modhost: took the %d fiber-local storage slots left; none is free\n",
                 taken);
    std::fflush(stderr);
  }
  SetWaiting("the module " + options.Module + " to load");
  const UniqueModule module(LoadDynamicLibrary(options.Module.c_str()));
  SetWaiting("");
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

  // While the host records, the toolkit's error box is recorded and dismissed from here,
  // as a host developer's test bench would: the module shows it as it always does.
  std::atomic<bool> returned{false};
  std::thread boxWatcher;
  if (HostSim_Recording() != 0) {
    const DWORD uiThread = GetCurrentThreadId();
    boxWatcher = std::thread([&returned, uiThread] {
      std::vector<HWND> handled;
      while (!returned) {
        for (const TErrorBox& box : FindErrorBoxes(uiThread)) {
          if (std::find(handled.begin(), handled.end(), box.Window) != handled.end()) continue;
          handled.push_back(box.Window);
          RecordErrorBox(box.Text);
          std::fprintf(stderr, "modhost: error box: %s\n", box.Text.c_str());
          std::fflush(stderr);
          DismissErrorBox(box.Window);
        }
        // A window handle may come back for a later box once this one has gone.
        handled.erase(
            std::remove_if(handled.begin(), handled.end(), [](HWND w) { return !IsWindow(w); }),
            handled.end());
        Sleep(30);
      }
    });
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
        std::fprintf(stderr, "modhost: the run did not end within %d s (--timeout)\n",
                     options.TimeoutSeconds);
        std::fflush(stderr);
        ExitProcess(3);
      }
    });
    driverThread = std::thread([&] {
      SetWaiting("the dialog (window class Tfrm_option) to appear");
      HWND dialog = WaitForDialog(L"Tfrm_option", timeoutMs, returned);
      if (dialog == nullptr) {
        SetWaiting("");
        appeared = false;
        failures.push_back(returned ? "ShowFrmOption returned without showing the dialog"
                                    : "the dialog did not appear");
        return;
      }
      auto driver = MakeWin32Driver(dialog);
      if (!options.Screenshot.empty() && !driver->Screenshot(options.Screenshot))
        failures.push_back("could not save screenshot " + options.Screenshot);
      outcome = RunScript(*script, *driver, transcript, failures, WaitForScriptLine);
      // Closing ends the modal loop; the window goes when ShowFrmOption destroys the dialog.
      // A script that ran to its end has closed the dialog; one that stopped early has not.
      SetWaiting("the dialog to close");
      for (int i = 0; outcome.Finished && i < 100 && !driver->Closed(); ++i) Sleep(50);
      if (!driver->Closed()) {
        if (outcome.Finished)
          failures.push_back("the dialog is still open at the end of the script");
        driver->CloseBox();
      }
      SetWaiting("ShowFrmOption to return");
    });
  } else {
    std::fprintf(stderr, "modhost: the dialog is open; close it to end\n");
    std::fflush(stderr);
  }

  show(reinterpret_cast<uintptr_t>(app), 0, 0);
  returned = true;

  if (driverThread.joinable()) driverThread.join();
  SetWaiting("");
  done = true;
  if (watchdog.joinable()) watchdog.join();
  if (boxWatcher.joinable()) boxWatcher.join();
  if (mainFrame != nullptr) DestroyWindow(mainFrame);
  DestroyWindow(app);
  if (!appeared) {
    // Boxes shown while the dialog was being made (a failure that ended the call).
    for (const TTranscriptEvent& e : transcript.Events())
      if (e.Kind == TTranscriptEvent::kErrorBox)
        failures.push_back("an error box was shown: \"" + e.Text + "\"");
  }
  return appeared;
}
