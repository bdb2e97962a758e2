#pragma once
// What the portable toolkit asks of its backend: windows for forms and controls, the
// message loop, input methods, system colours. One implementation per backend:
// win32/ (real windows) and headless/ (in memory). Toolkit-internal.
#include <string>
#include <vector>

#include "toolkit/Forms.h"

namespace tkbackend {

// Creates the window of a form (top-level) or of a control (child of its parent's).
void CreateHandle(TControl& control);
// Destroys the control's window; queued messages for it die with it.
void DestroyHandle(TControl& control);
// Position, size, visibility, caption, colour or font changed.
void UpdateControl(TControl& control);
// Lines of a list box changed (and with them the selection).
void ListChanged(TXPTolvikListBox& list);
// Only the selected line of a list box changed.
void ListSelectionChanged(TXPTolvikListBox& list);
// The selected line as the window has it (stored: the toolkit's own value).
int ListItemIndex(const TXPTolvikListBox& list, int stored);
std::string EditText(const TXPTolvikEdit& edit, const std::string& stored);
void SetEditText(TXPTolvikEdit& edit);

void ShowForm(TCustomForm& form);
void HideForm(TCustomForm& form);
void SetFocus(TWinControl& control);
// Whether the control has the keyboard focus now.
bool Focused(const TWinControl& control);
// Disables (or enables again) the application window and the other forms for a modal loop.
void EnableOtherWindows(TCustomForm& modal, bool enable);
// Handles one message, as a modal loop does (keys first to the dialog manager of the form
// they are typed in). wait: waits for one on Windows; false when none was handled.
bool HandleOneMessage(bool wait);
// Posts a toolkit message to the form's own window.
void PostToForm(TCustomForm& form, uint32_t msg);
// The backend's handling of a message the form did not handle.
void DefaultHandler(TCustomForm& form, TMessage& message);
// The current state of Shift, Ctrl and Alt.
TShiftState KeyShiftState();

// Shows the pointer shape over the module's windows.
void SetScreenCursor(TCursor cursor);
// Unregisters the window classes registered so far.
void UnregisterClasses();

TColor SysColor(int index);
int PixelsPerInch();
// An error box with the caption given (the system's own caption for errors when empty).
void ShowErrorBox(const std::string& title, const std::string& text);
// The caption of a window (the host's application window); empty for none.
std::string WindowCaption(uintptr_t window);

std::vector<std::string> InstalledImes();
// Activates the input method of that name (one of InstalledImes) and opens or closes it.
void ActivateIme(const std::string& name, bool open);

}  // namespace tkbackend
