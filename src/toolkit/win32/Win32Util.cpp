#include "toolkit/win32/Win32Util.h"

#include <imm.h>

#include "platform/ErrorTexts.h"
#include "platform/WinHandles.h"

std::wstring ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), w.data(), n);
  return w;
}

std::string FromWide(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

HINSTANCE ModuleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ModuleInstance), &module);
  return module;
}

namespace {

// "Layout Text" of the keyboard layout id, from the system's layout registry.
std::string LayoutText(const char* klid) {
  std::string key = std::string("SYSTEM\\CurrentControlSet\\Control\\Keyboard Layouts\\") + klid;
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
    return {};
  const UniqueRegKey h(opened);
  char buf[256] = {};
  DWORD size = sizeof(buf) - 1;
  DWORD type = 0;
  std::string text;
  if (RegQueryValueExA(h.Get(), "Layout Text", nullptr, &type, reinterpret_cast<BYTE*>(buf),
                       &size) == ERROR_SUCCESS &&
      type == REG_SZ) {
    text = buf;
  }
  return text;
}

}  // namespace

std::vector<TKeyboardLayout> InstalledKeyboardLayouts() {
  std::vector<TKeyboardLayout> layouts;
  int n = GetKeyboardLayoutList(0, nullptr);
  if (n <= 0) return layouts;
  std::vector<HKL> list(static_cast<size_t>(n));
  n = GetKeyboardLayoutList(n, list.data());
  for (int i = 0; i < n; ++i) {
    HKL hkl = list[static_cast<size_t>(i)];
    std::string name;
    if (ImmIsIME(hkl)) {
      char buf[256] = {};
      if (ImmGetDescriptionA(hkl, buf, sizeof(buf) - 1) > 0) name = buf;
    }
    if (name.empty()) {
      name = LayoutText(errortext::HexCode(reinterpret_cast<uintptr_t>(hkl) & 0xFFFF).c_str());
    }
    if (!name.empty()) layouts.push_back({hkl, name});
  }
  return layouts;
}
