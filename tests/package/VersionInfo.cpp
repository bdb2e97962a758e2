// Prints the version resource of a file the way Windows Explorer's Details tab reads it:
// GetFileVersionInfo, the fixed version numbers, the first language/code page pair of
// \VarFileInfo\Translation, and the strings of that block. Output is UTF-8, one
// "Name=value" line each; a string the block lacks is printed as "Name" alone.
//
//   VersionInfo.exe ReaderSettings.dll
//   FixedFileVersion=1.0.0.0
//   FixedProductVersion=1.0.0.0
//   Translation=080404B0
//   FileDescription=...
//
// Exit status 1 when the file has no version resource or no translation.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const char* ansi) {
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi, -1, out.data(), n);
  out.resize(out.size() - 1);
  return out;
}

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

std::string FourParts(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
         std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: VersionInfo FILE\n");
    return 2;
  }
  const std::wstring file = Wide(argv[1]);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) {
    std::fprintf(stderr, "VersionInfo: %s has no version resource (error %lu)\n", argv[1],
                 GetLastError());
    return 1;
  }
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data())) {
    std::fprintf(stderr, "VersionInfo: GetFileVersionInfo failed (error %lu)\n", GetLastError());
    return 1;
  }

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
      fixed != nullptr && length >= sizeof(VS_FIXEDFILEINFO)) {
    PrintLine("FixedFileVersion=" + FourParts(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    PrintLine("FixedProductVersion=" +
              FourParts(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
  }

  struct TTranslation {
    WORD Language;
    WORD CodePage;
  };
  TTranslation* translation = nullptr;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &length) ||
      translation == nullptr || length < sizeof(TTranslation)) {
    std::fprintf(stderr, "VersionInfo: no \\VarFileInfo\\Translation\n");
    return 1;
  }
  wchar_t blockName[16];
  swprintf(blockName, 16, L"%04X%04X", translation->Language, translation->CodePage);
  PrintLine("Translation=" + Utf8(blockName, static_cast<int>(wcslen(blockName))));

  for (const wchar_t* name : {L"FileDescription", L"FileVersion", L"InternalName",
                              L"OriginalFilename", L"ProductName", L"ProductVersion"}) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\") + blockName + L"\\" + name;
    wchar_t* value = nullptr;
    UINT chars = 0;
    std::string line = Utf8(name, static_cast<int>(wcslen(name)));
    if (VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars) &&
        value != nullptr) {
      // The count may include the terminating NUL.
      int n = static_cast<int>(chars);
      while (n > 0 && value[n - 1] == L'\0') --n;
      line += "=" + Utf8(value, n);
    }
    PrintLine(line);
  }
  return 0;
}
