#pragma once
// Helpers of the Windows backend: text conversion with the ANSI code page, the module's
// instance, the installed keyboard layouts with their names.
#include <windows.h>

#include <string>
#include <vector>

// Code-page-936 bytes (the ANSI code page) to UTF-16 and back.
std::wstring ToWide(const std::string& text);
std::string FromWide(const std::wstring& text);

// The instance of the module holding the toolkit (a DLL when the toolkit is in one).
HINSTANCE ModuleInstance();

struct TKeyboardLayout {
  HKL Layout;
  std::string Name;  // the IME's description, else the layout's display text (ANSI bytes)
};
std::vector<TKeyboardLayout> InstalledKeyboardLayouts();
