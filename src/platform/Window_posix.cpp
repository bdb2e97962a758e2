// Top-level windows as an in-process registry: handles count up from 0x10000 and are
// never reused, so a stale handle finds nothing.
#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "platform/Window.h"

struct TMessageWindow::TState {
  std::string ClassName;
  THandler Handler;
};

namespace {

struct TPosted {
  TWindowHandle Window;
  uint32_t Msg;
  uintptr_t WParam;
  intptr_t LParam;
};

struct TRegistry {
  TWindowHandle Next = 0x10000;
  std::map<TWindowHandle, TMessageWindow::TState*> Windows;  // in creation order
  std::deque<TPosted> Queue;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

}  // namespace

TWindowHandle FindTopLevelWindow(const char* className) {
  for (const auto& [handle, state] : Registry().Windows) {
    if (state->ClassName == className) return handle;
  }
  return 0;
}

intptr_t SendWindowMessage(TWindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  auto it = Registry().Windows.find(window);
  if (it == Registry().Windows.end()) return 0;
  // A copy: the handler may destroy its own window.
  TMessageWindow::THandler handler = it->second->Handler;
  return handler(msg, wParam, lParam);
}

bool PostWindowMessage(TWindowHandle window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (!IsWindowAlive(window)) return false;
  Registry().Queue.push_back({window, msg, wParam, lParam});
  return true;
}

bool PumpOneWindowMessage() {
  auto& queue = Registry().Queue;
  while (!queue.empty()) {
    TPosted posted = queue.front();
    queue.pop_front();
    // A message whose window has gone dies with it.
    if (!IsWindowAlive(posted.Window)) continue;
    SendWindowMessage(posted.Window, posted.Msg, posted.WParam, posted.LParam);
    return true;
  }
  return false;
}

bool IsWindowAlive(TWindowHandle window) { return Registry().Windows.count(window) != 0; }

TMessageWindow::TMessageWindow(const char* className, THandler handler)
    : FState(new TState{className, std::move(handler)}) {
  FHandle = Registry().Next++;
  Registry().Windows[FHandle] = FState;
}

TMessageWindow::~TMessageWindow() {
  Registry().Windows.erase(FHandle);
  delete FState;
}

// No real windows here, so no image of one.
bool SaveWindowImage(TWindowHandle, const std::string&) { return false; }
