#pragma once
// The form's window (Form_win.cpp).
#include "toolkit/win32/Peer_win.h"

// The form window's handling of a message the form's WndProc did not handle.
void FormDefaultHandler(TCustomForm& form, TMessage& message);
