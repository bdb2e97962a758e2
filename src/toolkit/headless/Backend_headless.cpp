// The in-memory backend: forms are windows of the process's window registry (so they
// can be found, sent to and posted to by handle); controls have no windows; nothing is
// drawn. Input methods are the names the screen was given; activation is only recorded.
#include <cstdio>
#include <map>
#include <memory>

#include "platform/Window.h"
#include "toolkit/Backend.h"

namespace tkbackend {

namespace {

std::map<const TControl*, std::unique_ptr<TMessageWindow>>& FormWindows() {
  static std::map<const TControl*, std::unique_ptr<TMessageWindow>> windows;
  return windows;
}

}  // namespace

TShiftState gHeadlessShiftState = 0;

void CreateHandle(TControl& control) {
  auto* form = dynamic_cast<TCustomForm*>(&control);
  if (form == nullptr) return;
  auto window = std::make_unique<TMessageWindow>(
      form->ClassName(), [form](uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        TMessage m{msg, wParam, lParam, 0};
        form->Dispatch(m);
        return m.Result;
      });
  form->SetHandleValue(window->Handle());
  FormWindows()[form] = std::move(window);
}

void DestroyHandle(TControl& control) {
  FormWindows().erase(&control);
  control.SetHandleValue(0);
}

void UpdateControl(TControl&) {}
void ListChanged(TXPTolvikListBox&) {}
void ListSelectionChanged(TXPTolvikListBox&) {}
int ListItemIndex(const TXPTolvikListBox&, int stored) { return stored; }
std::string EditText(const TXPTolvikEdit&, const std::string& stored) { return stored; }
void SetEditText(TXPTolvikEdit&) {}

void ShowForm(TCustomForm&) {}
void HideForm(TCustomForm&) {}

void SetFocus(TWinControl& control) { control.DoEnter(); }

bool Focused(const TWinControl& control) {
  const TCustomForm* form = control.ParentForm();
  return form != nullptr && form->ActiveControl() == &control;
}

void EnableOtherWindows(TCustomForm&, bool) {}

bool HandleOneMessage(bool) { return PumpOneWindowMessage(); }

void PostToForm(TCustomForm& form, uint32_t msg) {
  PostWindowMessage(form.WindowHandle(), msg, 0, 0);
}

void DefaultHandler(TCustomForm& form, TMessage& message) {
  constexpr uint32_t kWmSysCommand = 0x0112;
  constexpr uintptr_t kScClose = 0xF060;
  // As the system's default window procedure: the system menu's Close is a WM_CLOSE.
  if (message.Msg == kWmSysCommand && (message.WParam & 0xFFF0) == kScClose) {
    form.Perform(kWmClose, 0, 0);
  }
  message.Result = 0;
}

TShiftState KeyShiftState() { return gHeadlessShiftState; }

// The classic Windows scheme.
TColor SysColor(int index) { return ClassicColorToRGB(0x80000000u | static_cast<TColor>(index)); }

int PixelsPerInch() { return kDesignPixelsPerInch; }

void SetScreenCursor(TCursor) {}
void UnregisterClasses() {}

void ShowErrorBox(const std::string& title, const std::string& text) {
  if (title.empty()) {
    std::fprintf(stderr, "%s\n", text.c_str());
  } else {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }
}

// Windows of the in-memory registry have no captions.
std::string WindowCaption(uintptr_t) { return {}; }

std::vector<std::string> InstalledImes() { return {}; }
void ActivateIme(const std::string&, bool) {}

}  // namespace tkbackend
