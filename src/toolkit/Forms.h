#pragma once
// Forms, the application object and the screen object.
//
// A form class derives from TForm, applies its layout table in its constructor and binds
// its controls; NewForm then runs the creation event once the whole object exists:
//
//   class Tfrm_about : public Tfrm_CustomDlgEx {
//    public:
//     explicit Tfrm_about(TComponent* owner) : Tfrm_CustomDlgEx(owner) {
//       ApplyLayout(kFrmAboutLayout);          // only what this form changes or adds
//       Bind(lbText, "lbText");
//       sBtnClose->OnClick = TNotifyEvent::Method<&Tfrm_about::sBtnCloseClick>(this);
//     }
//     const char* ClassName() const override { return "Tfrm_about"; }
//     void FormShow(TObject* Sender) override { Tfrm_CustomDlgEx::FormShow(Sender); ... }
//   };
//   Tfrm_about* dlg = NewForm<Tfrm_about>(Application);
//   dlg->ShowModal();  dlg->Free();
//
// The form's events are virtual members (FormCreate, FormShow, FormDestroy, FormKeyDown,
// FormClose); an override replaces the base handler and calls it first. Window messages
// reach WndProc (virtual); what it does not handle goes to the inherited WndProc.
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "toolkit/Controls.h"
#include "toolkit/Layout.h"

// What happens to a form when it closes.
enum TCloseAction : uint8_t { caNone = 0, caHide = 1, caFree = 2, caMinimize = 3 };

// Modal results.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

class TCustomForm : public TWinControl {
 public:
  explicit TCustomForm(TComponent* owner);
  const char* ClassName() const override { return "TCustomForm"; }

  // Client area at 96 dpi; SetBounds/Width/Height of a form are its client area too.
  int ClientWidth() const { return Width(); }
  int ClientHeight() const { return Height(); }
  void SetClientSize(int width, int height) { SetBounds(Left(), Top(), width, height); }

  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle style) { FBorderStyle = style; }
  uint8_t BorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(uint8_t icons) { FBorderIcons = icons; }
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition position) { FPosition = position; }
  bool KeyPreview() const { return FKeyPreview; }
  void SetKeyPreview(bool on) { FKeyPreview = on; }
  // The form's own input-method name (controls have theirs).
  const std::string& ImeName() const { return FImeName; }
  void SetImeName(const std::string& name) { FImeName = name; }

  // Applies a layout table: creates the controls it adds and changes the ones it names.
  void ApplyLayout(std::span<const TLayoutItem> items);
  // field := the owned component of that name, which must exist and be a T.
  template <class T>
  void Bind(T*& field, const std::string& name) {
    field = dynamic_cast<T*>(FindComponent(name));
    if (field == nullptr) throw EInvalidOperation("Form " + Name() + " has no " + name);
  }

  // Runs the creation event; NewForm calls it once the object is complete.
  void AfterConstruction();

  // The form's window, created when first needed.
  uintptr_t WindowHandle();

  void Show();
  void Hide();
  // Shows the form modally and returns its modal result once the loop has ended. The
  // application window and the other forms are disabled meanwhile. Raises
  // EInvalidOperation for a form that is visible or already modal.
  int ShowModal();
  bool Modal() const { return FModal; }
  int ModalResult() const { return FModalResult; }
  // A result other than 0 ends the modal loop.
  void SetModalResult(int result);

  // The close path: a modal form ends its loop with mrCancel (its close event runs at the
  // end of the loop); another form runs its close event and hides, minimises or releases
  // itself as the event decides.
  void Close();
  // Asks for the form to be freed by a later turn of the message loop (a message to its
  // own window); freeing the form before that turn cancels the request.
  void Release();

  // The control that has the focus, or had it last while the form was active (the one
  // that gets it back when the form is activated again); null when none had it.
  TWinControl* ActiveControl() const { return FActiveControl; }
  // The tab stop after (forward) or before current in the form's tab order, wrapping
  // around; current null starts at the beginning (or the end). Only controls that can take
  // the focus count. Null when there is none.
  //   form->FindNextControl(list, true);   // the button after the list
  TWinControl* FindNextControl(TWinControl* current, bool forward) const;
  // Moves the focus to the next (or previous) tab stop, as Tab and Shift+Tab do.
  void SelectNext(bool forward);
  // Gives the focus to ActiveControl when it can still take it, else to the first tab stop.
  void FocusActiveControl();
  // What a dialog does with a typed key before its controls see it: Tab and Shift+Tab move
  // the focus, Esc closes through the close path of the close box, Enter presses the
  // focused button. True when the key was used. The in-memory backend's keyboard; on
  // Windows the system's dialog manager does the same.
  bool DialogKey(uint16_t key, TShiftState shift);

  // True while a handler run by a user's click on one of the form's controls is running.
  bool Busy() const { return FBusy > 0; }

  // Sends a message to WndProc now, as the window would receive it.
  intptr_t Perform(uint32_t msg, uintptr_t wParam, intptr_t lParam);
  // Backend use: delivers a window message; an exception goes to the application's error
  // report instead of the caller.
  void Dispatch(TMessage& message) noexcept;

  // Events, connected by name: override and call the base first.
  virtual void FormCreate(TObject* /*Sender*/) {}
  virtual void FormShow(TObject* /*Sender*/) {}
  virtual void FormDestroy(TObject* /*Sender*/) {}
  virtual void FormKeyDown(TObject* /*Sender*/, uint16_t& /*Key*/, TShiftState /*Shift*/) {}
  virtual void FormClose(TObject* /*Sender*/, TCloseAction& /*Action*/) {}
  // Whether the form may close now.
  virtual bool CloseQuery() { return true; }

  void CreateHandleTree() override;

  // Toolkit use: a control of the form took the focus, or is leaving the form.
  void FocusEntered(TWinControl* control) { FActiveControl = control; }
  void ControlLeaving(TControl& control);

 protected:
  ~TCustomForm() override;
  void BeforeDestruction() override;
  // The window procedure: close, key-down, release and modal-driver messages; the rest
  // goes to the backend's default handling.
  virtual void WndProc(TMessage& Message);

 private:
  void DoClose(TCloseAction& action);
  void CloseModal();

  TFormBorderStyle FBorderStyle = TFormBorderStyle::bsSizeable;
  uint8_t FBorderIcons = biSystemMenu | biMinimize | biMaximize;
  TPosition FPosition = TPosition::poDesigned;
  bool FKeyPreview = false;
  std::string FImeName;
  bool FModal = false;
  int FModalResult = mrNone;
  bool FCreated = false;
  TWinControl* FActiveControl = nullptr;
  int FBusy = 0;
  friend bool PerformUserClick(TControl& control) noexcept;
};

// A click from the user (mouse, Enter or Space, another program's BM_CLICK): runs the
// control's Click unless it cannot be clicked now (hidden or disabled, itself or a
// parent) or its form is still running the handler of an earlier click: a click that
// arrives while a handler shows a message is dropped, not run nested inside it. A failure
// goes to the application's error report. True when the click ran.
//   if (!PerformUserClick(*button)) ...   // dropped
bool PerformUserClick(TControl& control) noexcept;

class TForm : public TCustomForm {
 public:
  explicit TForm(TComponent* owner) : TCustomForm(owner) {}
  const char* ClassName() const override { return "TForm"; }
};

// Creates a form of class T: constructs it (layouts applied, controls bound), then runs
// its creation event. A failure frees the partly built form and is raised again.
template <class T, class... A>
T* NewForm(TComponent* owner, A&&... args) {
  T* form = new T(owner, std::forward<A>(args)...);
  try {
    form->AfterConstruction();
  } catch (...) {
    form->Free();
    throw;
  }
  return form;
}

// The application object: window handle, message loop, modal driver, error report.
class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* owner);
  const char* ClassName() const override { return "TApplication"; }

  // The application window: owner of every form, disabled during a modal loop. 0 = none.
  uintptr_t Handle() const { return FHandle; }
  void SetHandle(uintptr_t handle) { FHandle = handle; }
  // The application's title, which captions the error box: the one set, else the caption
  // of the application window (the host's), as in the host's toolkit.
  std::string Title() const;
  void SetTitle(const std::string& title) { FTitle = title; }

  // Handles every message waiting in the queue.
  void ProcessMessages();

  // The general error report: call inside a catch block; shows the caught exception's
  // message to the operator (or hands it to OnException) and returns, so the loop goes on.
  void HandleException(TObject* Sender);
  // The same report for a failure the caller names itself, with no exception in flight.
  void ReportError(TObject* Sender, const std::string& message);
  // Shows a message in an error box (or records it headless).
  void ShowException(const std::string& message);
  // When set, receives reported errors instead of the operator.
  std::function<void(TObject* Sender, const std::string& message)> OnException;
  // Messages shown by ShowException, oldest first.
  const std::vector<std::string>& ShownErrors() const { return FShownErrors; }

  // Runs once at the start of every modal loop, inside the loop (headless: before the
  // loop waits; Windows: posted to the form), with the form. Tests and scripts drive
  // the dialog from here through toolkit/UserInput.h.
  std::function<void(TCustomForm& form)> ModalDriver;

 protected:
  ~TApplication() override = default;

 private:
  uintptr_t FHandle = 0;
  std::string FTitle;
  std::vector<std::string> FShownErrors;
};

// Mouse pointer shapes.
enum class TCursor : uint8_t { crDefault, crHourGlass };

// The screen object: the forms that exist and the installed input methods.
class TScreen : public TComponent {
 public:
  explicit TScreen(TComponent* owner);
  const char* ClassName() const override { return "TScreen"; }

  int FormCount() const { return static_cast<int>(FForms.size()); }
  TCustomForm* Forms(int index) const { return FForms.at(index); }

  // Names of the installed input methods (Windows: keyboard layouts with their IME
  // descriptions; headless: what SetImes gave, initially none).
  std::vector<std::string> Imes() const;
  void SetImes(std::vector<std::string> names) { FImes = std::move(names); }
  // Activates the installed input method of that name and opens or closes it; false and
  // nothing done when no input method has that name.
  bool ActivateIme(const std::string& name, bool open);

  // The last activation made (for tests and diagnostics).
  struct TImeActivation {
    std::string Name;
    bool Open = false;
    int Count = 0;  // activations made so far
  };
  const TImeActivation& LastImeActivation() const { return FLastIme; }

  // Pixels per inch of the screen (96 headless).
  int PixelsPerInch() const;

  // The pointer shape shown over every form of the module; crDefault lets each window
  // show its own. See TWaitCursor.
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor cursor);
  // How many times the hourglass has been put up so far (for tests and diagnostics).
  int WaitCursorCount() const { return FWaitCursorCount; }

  // Toolkit use.
  void AddForm(TCustomForm* form) { FForms.push_back(form); }
  void RemoveForm(TCustomForm* form);

 protected:
  ~TScreen() override = default;

 private:
  std::vector<TCustomForm*> FForms;
  std::vector<std::string> FImes;
  TImeActivation FLastIme;
  TCursor FCursor = TCursor::crDefault;
  int FWaitCursorCount = 0;
};

// Shows the hourglass for its lifetime and then puts back the cursor it found, on every
// path out of the scope, an exception included. Nests.
//   { TWaitCursor wait; code = FScardInvoker->SCListReaders(buffer); }
class TWaitCursor {
 public:
  TWaitCursor();
  ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;

 private:
  TCursor FSaved;
};

// Unregisters every window class the toolkit registered in this module, for a library
// that is being unloaded (classes with windows still open stay). Nothing headless.
void UnregisterWindowClasses();

// The process-wide objects. The toolkit creates one of each at start-up and frees those
// same ones at exit; a library may point these variables elsewhere and put them back.
extern TApplication* Application;
extern TScreen* Screen;

// For a library whose process is ending: from now on the toolkit's own application and
// screen objects, with every form and control they own, are left for the system to
// reclaim instead of being freed at exit, so that no window is destroyed and no library
// is released while the process ends.
//
//   LeaveToolkitObjectsAtExit();   // at process detach, before the library's finalisation
void LeaveToolkitObjectsAtExit();
