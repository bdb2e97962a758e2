#pragma once
// What a screen reader learns of the module's windows. Windows builds its standard
// accessible objects from the system's class names, so a window of one of our own classes
// would be an unnamed client area: each answers WM_GETOBJECT for its client area
// (OBJID_CLIENT) with an object of its own (IAccessible through LresultFromObject).
//
//   form          dialog, named by its caption; its children are the controls there are to
//                 read (a decoration is skipped and its own children taken up in its place)
//   speed button  push button, named by its caption; default action "按下", a click
//   list          list, named by the label that names it (TLabel::FocusControl); one list
//                 item per line, selected and focused as the line is
//   label         static text, named by its caption: a simple element (child id) of the
//                 object that reads it, since a label has no window of its own
//   decoration    panels and group boxes: invisible to a screen reader and never
//                 focusable (the windows stay, so painting, layout and other programs'
//                 window messages stay as they are); bevels, shapes and decorative labels
//                 are not read at all
//
//   AccessibleObjectFromWindow(button, OBJID_CLIENT, IID_IAccessible, &acc);
//   acc->accDoDefaultAction(self);   // "选择" is clicked once the message arrives
//
// The objects are served on the windows' thread. It joins a single-threaded COM apartment
// at the first request and leaves it again when the last window that handed out an object
// is destroyed, which is before the dialog's call returns: the host's thread is in the COM
// state the module found it in after every call. A thread the host put in the
// multithreaded apartment keeps the system's standard objects.
#include <windows.h>

class TWindowPeer;

// WM_GETOBJECT for one of the module's windows: the reference to the window's object for
// OBJID_CLIENT; 0 for any other object, or when there is none (the system answers then).
LRESULT AnswerGetObject(TWindowPeer& peer, WPARAM wp, LPARAM lp);
// The window is going (WM_NCDESTROY): its object is cut off from its clients and released.
void ForgetAccessible(HWND hwnd);
// One of the module's windows took the focus (WM_SETFOCUS) from previous. Wine raises the
// focus event only when the focus comes from another window, so when it comes from none
// (the dialog opening, a message box closing) the window raises its own.
void NotifyFocusTaken(HWND hwnd, HWND previous);
// A list's selected line changed to index (-1: none): the standard selection event, and
// the focus event of the line when the list has the focus.
void NotifyListSelection(HWND list, int index);
// A list took the focus: the focus event of its focused line, when it has one.
void NotifyListFocus(HWND list);
// A form's window was shown as a dialog, or hidden again.
void NotifyDialogShown(HWND form, bool shown);
