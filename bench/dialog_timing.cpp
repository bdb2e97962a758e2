// The dialog benchmark's host: loads each module given on the command line the way the host
// does, calls its ShowFrmOption again and again and plays the operator's cycle against the
// dialog from a second thread, with the same window messages for every module. Modules take
// turns call by call, in an order rotated by one each round, so that the machine's drift
// falls on all of them alike.
//
//   dialog_timing PROFILE ROUNDS CALLS LOADS NAME=MODULE...
//
// One line per sample on stdout, tab-separated: module name, measure, value.
//   load-ms free-ms            LoadLibrary / FreeLibrary of the module (LOADS per round)
//   visible-ms                 ShowFrmOption entry -> the dialog shown and painted, calls 2..
//   cycle-ms                   entry -> return of a whole cycle (open, select line 0,
//                              "选择", "测试连接", "关闭", each followed by its repaint), calls 2..
//   first-visible-ms first-cycle-ms   the same for the first call after the load
//   select-ms store-ms test-ms close-ms   the cycle's steps after "visible", calls 2..
//   gdi user private-kb ws-kb  with the dialog visible, what the process holds more than
//                              just before the call (GDI objects, USER objects, private
//                              bytes, working set), calls 2..
//   gdi-left user-left         what stays once every module is freed, once per round
//                              (module name "all")
#include <windows.h>

#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Driver.h"
#include "HostSim.h"

namespace {

using ShowFrmOptionFn = void(__stdcall*)(uintptr_t, uint32_t, uint32_t);

double Now() {
  static const double perMs = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / perMs;
}

// GDI objects of the process. Wine answers GetGuiResources with 0; its GDI handle table
// takes a handle's index alone, so there the live objects are counted one by one.
long GdiObjects() {
  if (DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return static_cast<long>(n);
  long count = 0;
  for (uintptr_t i = 0x20; i < 0x10000; ++i)
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(i)) != 0) ++count;
  return count;
}

BOOL CALLBACK CountChild(HWND, LPARAM p) {
  ++*reinterpret_cast<long*>(p);
  return TRUE;
}

BOOL CALLBACK CountTop(HWND w, LPARAM p) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == GetCurrentProcessId()) {
    ++*reinterpret_cast<long*>(p);
    EnumChildWindows(w, CountChild, p);
  }
  return TRUE;
}

// USER objects of the process; where GetGuiResources has no answer, its windows.
long UserObjects() {
  if (DWORD n = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)) return static_cast<long>(n);
  long count = 0;
  EnumWindows(CountTop, reinterpret_cast<LPARAM>(&count));
  return count;
}

struct TCounts {
  long Gdi = 0, User = 0;
  double PrivateKb = 0, WorkingSetKb = 0;
};

TCounts Measure() {
  TCounts c;
  c.Gdi = GdiObjects();
  c.User = UserObjects();
  PROCESS_MEMORY_COUNTERS_EX m{};
  m.cb = sizeof m;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m),
                           sizeof m)) {
    c.PrivateKb = static_cast<double>(m.PrivateUsage) / 1024.0;
    c.WorkingSetKb = static_cast<double>(m.WorkingSetSize) / 1024.0;
  }
  if (c.PrivateKb == 0) {
    // Wine leaves the private bytes at 0: the committed private pages of the address space.
    MEMORY_BASIC_INFORMATION info;
    for (char* at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;
         at = static_cast<char*>(info.BaseAddress) + info.RegionSize) {
      if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
        c.PrivateKb += static_cast<double>(info.RegionSize) / 1024.0;
      if (static_cast<char*>(info.BaseAddress) + info.RegionSize < at) break;
    }
  }
  return c;
}

HWND gApp = nullptr, gMainFrame = nullptr;
std::atomic<HWND> gShown{nullptr};
HANDLE gShownEvent = nullptr;

// Sees, on the calling thread, the first top-level window the module shows.
LRESULT CALLBACK ShowHook(int code, WPARAM wp, LPARAM lp) {
  if (code == HC_ACTION) {
    const auto* m = reinterpret_cast<const CWPRETSTRUCT*>(lp);
    const bool shown = (m->message == WM_SHOWWINDOW && m->wParam) ||
                       (m->message == WM_WINDOWPOSCHANGED &&
                        (reinterpret_cast<const WINDOWPOS*>(m->lParam)->flags & SWP_SHOWWINDOW));
    if (shown && m->hwnd != gApp && m->hwnd != gMainFrame &&
        (GetWindowLongW(m->hwnd, GWL_STYLE) & WS_CHILD) == 0 && gShown.load() == nullptr) {
      gShown = m->hwnd;
      SetEvent(gShownEvent);
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

HWND MakeWindow(const wchar_t* className) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  RegisterClassW(&wc);
  return CreateWindowExW(0, className, L"modhost", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                         wc.hInstance, nullptr);
}

BOOL CALLBACK FindUnpainted(HWND w, LPARAM found) {
  if (IsWindowVisible(w) && GetUpdateRect(w, nullptr, FALSE)) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
  }
  return TRUE;
}

// Whether a shown window of the dialog still has something to paint.
bool Unpainted(HWND dialog) {
  bool found = GetUpdateRect(dialog, nullptr, FALSE) != FALSE;
  if (!found) EnumChildWindows(dialog, FindUnpainted, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Waits until every window of the dialog has painted what it has to paint. A window of
// another thread paints in that thread's message loop (a paint request from here is only
// queued there), after the messages sent to it: so the dialog's thread is asked (a sent
// message, answered once it is back in its loop) until no window of the dialog has
// anything left to paint.
void Repaint(HWND dialog) {
  for (int i = 0; i < 10000; ++i) {
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored)) return;
    if (!Unpainted(dialog)) return;
    Sleep(0);
  }
}

struct TModule {
  std::string Name;
  std::wstring Path;
};

void Put(const std::string& module, const char* measure, double value) {
  std::printf("%s\t%s\t%.4f\n", module.c_str(), measure, value);
}

// One call of ShowFrmOption with the operator's cycle. False when the dialog did not appear.
bool Cycle(const std::string& name, ShowFrmOptionFn show, bool first) {
  // The pointer starts away from every dialog, so that each click moves it as far.
  SetCursorPos(0, 0);
  const TCounts before = Measure();
  gShown = nullptr;
  ResetEvent(gShownEvent);
  double visibleAt = 0;
  double step[3] = {};
  TCounts open;
  bool ok = true;
  std::thread driver([&] {
    if (WaitForSingleObject(gShownEvent, 20000) != WAIT_OBJECT_0) {
      ok = false;
      return;
    }
    HWND dialog = gShown;
    Repaint(dialog);
    visibleAt = Now();
    open = Measure();
    auto d = MakeWin32Driver(dialog);
    // Each step with its repaint.
    bool steps = d->Select(0);
    Repaint(dialog);
    step[0] = Now();
    steps = steps && d->Press("选择");
    Repaint(dialog);
    step[1] = Now();
    steps = steps && d->Press("测试连接");
    Repaint(dialog);
    step[2] = Now();
    if (!steps) ok = false;
    if (!d->Press("关闭")) d->CloseBox();
  });
  const double start = Now();
  show(reinterpret_cast<uintptr_t>(gApp), 0, 0);
  const double end = Now();
  driver.join();
  if (!ok) return false;
  Put(name, first ? "first-visible-ms" : "visible-ms", visibleAt - start);
  Put(name, first ? "first-cycle-ms" : "cycle-ms", end - start);
  if (!first) {
    Put(name, "select-ms", step[0] - visibleAt);
    Put(name, "store-ms", step[1] - step[0]);
    Put(name, "test-ms", step[2] - step[1]);
    Put(name, "close-ms", end - step[2]);
    Put(name, "gdi", static_cast<double>(open.Gdi - before.Gdi));
    Put(name, "user", static_cast<double>(open.User - before.User));
    Put(name, "private-kb", open.PrivateKb - before.PrivateKb);
    Put(name, "ws-kb", open.WorkingSetKb - before.WorkingSetKb);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: dialog_timing PROFILE ROUNDS CALLS LOADS NAME=MODULE...\n");
    return 2;
  }
  if (!HostSim_Open(argv[1])) {
    std::fprintf(stderr, "dialog_timing: host profile %s: %s\n", argv[1], HostSim_LastError());
    return 2;
  }
  const int rounds = std::atoi(argv[2]), calls = std::atoi(argv[3]), loads = std::atoi(argv[4]);
  std::vector<TModule> modules;
  for (int i = 5; i < argc; ++i) {
    const std::string a = argv[i];
    const size_t eq = a.find('=');
    const std::string path = a.substr(eq + 1);
    modules.push_back({a.substr(0, eq), std::wstring(path.begin(), path.end())});
  }
  gApp = MakeWindow(L"TApplication");
  gMainFrame = MakeWindow(L"Tfrm_MainFrame");
  HostSim_SetHandles(reinterpret_cast<THostHandle>(gApp),
                     reinterpret_cast<THostHandle>(gMainFrame));
  gShownEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROCRET, ShowHook, nullptr, GetCurrentThreadId());

  for (int round = 0; round < rounds; ++round) {
    // This round's order: rotated by one each round.
    std::vector<const TModule*> order;
    for (size_t k = 0; k < modules.size(); ++k)
      order.push_back(&modules[(k + static_cast<size_t>(round)) % modules.size()]);
    for (int i = 0; i < loads; ++i) {
      for (const TModule* m : order) {
        const double t0 = Now();
        HMODULE h = LoadLibraryW(m->Path.c_str());
        const double t1 = Now();
        if (h == nullptr) {
          std::fprintf(stderr, "dialog_timing: cannot load %s (error %lu)\n", m->Name.c_str(),
                       GetLastError());
          return 1;
        }
        FreeLibrary(h);
        const double t2 = Now();
        Put(m->Name, "load-ms", t1 - t0);
        Put(m->Name, "free-ms", t2 - t1);
      }
    }
    // Every module loaded at once, and the calls taking turns call by call.
    const TCounts unloaded = Measure();
    std::vector<HMODULE> handles;
    std::vector<ShowFrmOptionFn> shows;
    for (const TModule* m : order) {
      handles.push_back(LoadLibraryW(m->Path.c_str()));
      shows.push_back(reinterpret_cast<ShowFrmOptionFn>(
          reinterpret_cast<void*>(GetProcAddress(handles.back(), "ShowFrmOption"))));
      if (shows.back() == nullptr) {
        std::fprintf(stderr, "dialog_timing: %s has no ShowFrmOption\n", m->Name.c_str());
        return 1;
      }
    }
    for (int c = 0; c < calls; ++c) {
      for (size_t k = 0; k < order.size(); ++k) {
        if (!Cycle(order[k]->Name, shows[k], c == 0)) {
          std::fprintf(stderr, "dialog_timing: %s: the dialog did not appear\n",
                       order[k]->Name.c_str());
          return 1;
        }
      }
    }
    for (HMODULE h : handles) FreeLibrary(h);
    const TCounts after = Measure();
    Put("all", "gdi-left", static_cast<double>(after.Gdi - unloaded.Gdi));
    Put("all", "user-left", static_cast<double>(after.User - unloaded.User));
    std::fflush(stdout);
  }
  UnhookWindowsHookEx(hook);
  DestroyWindow(gMainFrame);
  DestroyWindow(gApp);
  HostSim_Close();
  return 0;
}
