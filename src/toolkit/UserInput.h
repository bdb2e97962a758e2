#pragma once
// What a user's clicks and keys do, as operations a test or a script can call. Headless
// they reach the same toolkit paths the windows would; on Windows they are real window
// messages to the real windows (BM_CLICK, LB_SETCURSEL with LBN_SELCHANGE, WM_KEYDOWN,
// WM_CLOSE, SetFocus; typed keys are posted to the focused window and go through the
// modal loop's dialog manager), so one test runs in both builds. An exception raised by a handler
// goes to the application's error report, as it would from a real click.
//
//   Application->ModalDriver = [&](TCustomForm& form) {
//     UserSelectLine(*dlg->ListBox, 1);
//     UserClick(*dlg->btn_reader);
//     UserCloseBox(form);
//   };
//   dlg->ShowModal();
#include <cstdint>
#include <string>

#include "toolkit/Forms.h"

// A mouse click on a button (or any clickable control).
void UserClick(TControl& control);
// The user selects a line of a list box (-1: clears the selection).
void UserSelectLine(TXPTolvikListBox& list, int index);
// A key pressed while the form's own window has the focus.
void UserKeyDown(TCustomForm& form, uint16_t key, TShiftState shift);
// A key typed on the keyboard while the form is the active window: it goes where the
// keyboard sends it, to the control that has the focus, through the dialog manager.
// Tab and Shift+Tab move the focus in tab order; Enter and Space press the focused
// button; Esc and Alt+F4 close through the close box's path; Up, Down, Home, End, Page Up
// and Page Down move a focused list's selection; F1 reaches the form's key handling.
// Returns once the key has been handled.
//   UserTypeKey(dlg, kVkTab, ssShift);   // the focus goes back one tab stop
void UserTypeKey(TCustomForm& form, uint16_t key, TShiftState shift = 0);
// The window's close box (WM_CLOSE to the form's window).
void UserCloseBox(TCustomForm& form);
// The system menu's Close command (SC_CLOSE to the form's window).
void UserSystemMenuClose(TCustomForm& form);
// The control takes the focus (a click into an edit, a tab).
void UserFocus(TWinControl& control);
// Sends a window message to the form's window, as another program would.
intptr_t UserSendMessage(TCustomForm& form, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// Writes the form's window, as it shows on the screen, to a 24-bit BMP file. Windows
// only; false headless or when the capture fails.
bool CaptureFormImage(TCustomForm& form, const std::string& bmpPath);
