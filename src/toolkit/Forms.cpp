#include "toolkit/Forms.h"

#include <algorithm>
#include <new>

#include "platform/ErrorTexts.h"
#include "toolkit/Backend.h"

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

namespace {

// The toolkit's own application and screen objects, made at start-up and freed at exit:
// the ones made here, whatever the variables hold by then. At process exit they are left
// alone when LeaveAtExit is set.
struct TToolkitRuntime {
  TApplication* OwnApplication;
  TScreen* OwnScreen;
  bool LeaveAtExit = false;
  TToolkitRuntime() {
    OwnApplication = new TApplication(nullptr);
    OwnScreen = new TScreen(nullptr);
    Application = OwnApplication;
    Screen = OwnScreen;
  }
  ~TToolkitRuntime() {
    if (LeaveAtExit) return;
    if (Application == OwnApplication) Application = nullptr;
    if (Screen == OwnScreen) Screen = nullptr;
    OwnApplication->Free();
    OwnScreen->Free();
  }
};
TToolkitRuntime gRuntime;

}  // namespace

void LeaveToolkitObjectsAtExit() { gRuntime.LeaveAtExit = true; }

TColor ColorToRGB(TColor color) {
  if (IsSystemColor(color)) return tkbackend::SysColor(int(color & 0xFF));
  return color;
}

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner) {
  FVisible = false;
  FParentColor = false;
  FParentFont = false;
  if (Screen != nullptr) Screen->AddForm(this);
}

TCustomForm::~TCustomForm() {
  // Controls go first, then the form's own window with whatever was queued for it.
  DestroyComponents();
  if (HandleAllocated()) tkbackend::DestroyHandle(*this);
  if (Screen != nullptr) Screen->RemoveForm(this);
}

void TCustomForm::BeforeDestruction() {
  if (FCreated) FormDestroy(this);
}

void TCustomForm::AfterConstruction() {
  FCreated = true;
  FormCreate(this);
}

uintptr_t TCustomForm::WindowHandle() {
  if (!HandleAllocated()) CreateHandleTree();
  return Handle();
}

void TCustomForm::CreateHandleTree() {
  if (!HandleAllocated()) {
    tkbackend::CreateHandle(*this);
    for (int i = 0; i < ControlCount(); ++i) Controls(i)->CreateHandleTree();
  }
}

void TCustomForm::Show() {
  WindowHandle();
  if (!FVisible) {
    FVisible = true;
    FormShow(this);
  }
  tkbackend::ShowForm(*this);
  FocusActiveControl();
}

void TCustomForm::Hide() {
  FVisible = false;
  if (HandleAllocated()) tkbackend::HideForm(*this);
}

int TCustomForm::ShowModal() {
  if (FVisible || FModal) throw EInvalidOperation("Cannot make a visible window modal");
  FModalResult = mrNone;
  FModal = true;
  tkbackend::EnableOtherWindows(*this, false);
  auto endLoop = [this] {
    // The owner is enabled before the form disappears, so that the activation goes back
    // to it at once and not to whatever window comes next.
    FModal = false;
    tkbackend::EnableOtherWindows(*this, true);
    Hide();
  };
  try {
    Show();
    if (Application->ModalDriver) tkbackend::PostToForm(*this, kCmModalDriver);
    do {
      if (!tkbackend::HandleOneMessage(true)) {
        throw EInvalidOperation(std::string("The modal loop of ") + ClassName() +
                                " has nothing left to handle");
      }
      if (FModalResult != mrNone) CloseModal();
    } while (FModalResult == mrNone);
  } catch (...) {
    endLoop();
    throw;
  }
  endLoop();
  return FModalResult;
}

void TCustomForm::ControlLeaving(TControl& control) {
  if (FActiveControl == &control) FActiveControl = nullptr;
}

namespace {

// The form's tab stops that can take the focus now, in tab order, depth first.
void CollectTabStops(const TWinControl& parent, std::vector<TWinControl*>& stops) {
  for (TControl* c : parent.TabOrderedControls()) {
    auto* wc = dynamic_cast<TWinControl*>(c);
    if (wc == nullptr || !wc->CanFocus()) continue;
    if (wc->TabStop()) stops.push_back(wc);
    CollectTabStops(*wc, stops);
  }
}

}  // namespace

TWinControl* TCustomForm::FindNextControl(TWinControl* current, bool forward) const {
  std::vector<TWinControl*> stops;
  CollectTabStops(*this, stops);
  if (stops.empty()) return nullptr;
  const auto n = static_cast<int>(stops.size());
  const int at = static_cast<int>(std::find(stops.begin(), stops.end(), current) - stops.begin());
  if (at == n) return forward ? stops.front() : stops.back();
  return stops[static_cast<size_t>((at + (forward ? 1 : n - 1)) % n)];
}

void TCustomForm::SelectNext(bool forward) {
  if (TWinControl* next = FindNextControl(FActiveControl, forward)) next->SetFocus();
}

void TCustomForm::FocusActiveControl() {
  TWinControl* target = FActiveControl;
  if (target == nullptr || !target->CanFocus()) target = FindNextControl(nullptr, true);
  if (target != nullptr) {
    target->SetFocus();
  } else {
    tkbackend::SetFocus(*this);
  }
}

bool TCustomForm::DialogKey(uint16_t key, TShiftState shift) {
  switch (key) {
    case kVkTab:
      SelectNext((shift & ssShift) == 0);
      return true;
    case kVkEscape:
      Perform(kWmClose, 0, 0);
      return true;
    case kVkReturn:
      if (auto* button = dynamic_cast<TModalSpeedButton*>(FActiveControl)) {
        PerformUserClick(*button);
        return true;
      }
      return false;
    default:
      return false;
  }
}

bool PerformUserClick(TControl& control) noexcept {
  if (!control.Showing() || !control.EnabledInParents()) return false;
  TCustomForm* form = control.ParentForm();
  if (form != nullptr && form->Busy()) return false;
  // The handler may show a message and wait for the operator; clicks meanwhile are not
  // handled inside it.
  if (form != nullptr) ++form->FBusy;
  try {
    control.Click();
  } catch (...) {
    try {
      Application->HandleException(nullptr);
    } catch (...) {
    }
  }
  if (form != nullptr) --form->FBusy;
  return true;
}

void TCustomForm::SetModalResult(int result) {
  FModalResult = result;
  // A result set while a sent message is handled (another program's click) must still
  // end the loop, which only looks at it after a posted message: post an empty one.
  if (FModal && result != mrNone && HandleAllocated()) tkbackend::PostToForm(*this, 0);
}

void TCustomForm::CloseModal() {
  TCloseAction action = caNone;
  if (CloseQuery()) {
    action = caHide;
    DoClose(action);
  }
  switch (action) {
    case caNone:
      FModalResult = mrNone;
      break;
    case caFree:
      Release();
      break;
    default:
      break;
  }
}

void TCustomForm::DoClose(TCloseAction& action) { FormClose(this, action); }

void TCustomForm::Close() {
  if (FModal) {
    SetModalResult(mrCancel);
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  DoClose(action);
  switch (action) {
    case caHide:
    case caMinimize:
      Hide();
      break;
    case caFree:
      Release();
      break;
    default:
      break;
  }
}

void TCustomForm::Release() { tkbackend::PostToForm(*this, kCmRelease); }

intptr_t TCustomForm::Perform(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  TMessage m{msg, wParam, lParam, 0};
  WndProc(m);
  return m.Result;
}

void TCustomForm::Dispatch(TMessage& message) noexcept {
  try {
    WndProc(message);
  } catch (...) {
    // the form may be gone by now; the report needs no sender
    Application->HandleException(nullptr);
  }
}

void TCustomForm::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case kWmClose:
      Close();
      return;
    case kWmKeyDown: {
      uint16_t key = static_cast<uint16_t>(Message.WParam);
      FormKeyDown(this, key, tkbackend::KeyShiftState());
      if (key != 0) tkbackend::DefaultHandler(*this, Message);
      return;
    }
    case kCmRelease:
      Free();
      return;
    case kCmModalDriver:
      if (Application->ModalDriver) {
        auto driver = Application->ModalDriver;
        driver(*this);
      }
      return;
    default:
      tkbackend::DefaultHandler(*this, Message);
  }
}

TApplication::TApplication(TComponent* owner) : TComponent(owner) {}

void TApplication::ProcessMessages() {
  while (tkbackend::HandleOneMessage(false)) {
  }
}

void TApplication::HandleException(TObject* Sender) {
  std::string message;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    message = errortext::kOutOfMemory;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = errortext::kUnknownFailure;
  }
  ReportError(Sender, message);
}

std::string TApplication::Title() const {
  return !FTitle.empty() ? FTitle : tkbackend::WindowCaption(FHandle);
}

void TApplication::ReportError(TObject* Sender, const std::string& message) {
  if (OnException) {
    OnException(Sender, message);
  } else {
    ShowException(message);
  }
}

void TApplication::ShowException(const std::string& message) {
  FShownErrors.push_back(message);
  tkbackend::ShowErrorBox(Title(), message);
}

TScreen::TScreen(TComponent* owner) : TComponent(owner) {}

std::vector<std::string> TScreen::Imes() const {
  std::vector<std::string> names = tkbackend::InstalledImes();
  names.insert(names.end(), FImes.begin(), FImes.end());
  return names;
}

bool TScreen::ActivateIme(const std::string& name, bool open) {
  std::vector<std::string> names = Imes();
  if (std::find(names.begin(), names.end(), name) == names.end()) return false;
  tkbackend::ActivateIme(name, open);
  FLastIme.Name = name;
  FLastIme.Open = open;
  ++FLastIme.Count;
  return true;
}

int TScreen::PixelsPerInch() const { return tkbackend::PixelsPerInch(); }

void TScreen::SetCursor(TCursor cursor) {
  if (cursor == TCursor::crHourGlass) ++FWaitCursorCount;
  FCursor = cursor;
  tkbackend::SetScreenCursor(cursor);
}

TWaitCursor::TWaitCursor() : FSaved(Screen->Cursor()) { Screen->SetCursor(TCursor::crHourGlass); }

TWaitCursor::~TWaitCursor() { Screen->SetCursor(FSaved); }

void UnregisterWindowClasses() { tkbackend::UnregisterClasses(); }

void TScreen::RemoveForm(TCustomForm* form) {
  auto it = std::find(FForms.begin(), FForms.end(), form);
  if (it != FForms.end()) FForms.erase(it);
}
