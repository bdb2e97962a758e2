#include "ColourScheme_win.h"

#include <cstring>

namespace {

// Every system colour of the three schemes, element by element: Windows' High Contrast
// Black and High Contrast White (black or white faces and windows, white or black text, a
// cyan or purple selection), and a dark grey scheme of the kind an operator picks by hand.
struct TSchemeRow {
  int Index;
  COLORREF Black, White, Dark;
};
const TSchemeRow kSchemeRows[] = {
    {COLOR_SCROLLBAR, RGB(0, 0, 0), RGB(255, 255, 255), RGB(60, 60, 60)},
    {COLOR_BACKGROUND, RGB(0, 0, 0), RGB(255, 255, 255), RGB(0, 0, 0)},
    {COLOR_ACTIVECAPTION, RGB(0, 0, 0), RGB(255, 255, 255), RGB(40, 40, 40)},
    {COLOR_INACTIVECAPTION, RGB(0, 0, 0), RGB(255, 255, 255), RGB(50, 50, 50)},
    {COLOR_MENU, RGB(0, 0, 0), RGB(255, 255, 255), RGB(45, 45, 45)},
    {COLOR_WINDOW, RGB(0, 0, 0), RGB(255, 255, 255), RGB(32, 32, 32)},
    {COLOR_WINDOWFRAME, RGB(255, 255, 255), RGB(0, 0, 0), RGB(100, 100, 100)},
    {COLOR_MENUTEXT, RGB(255, 255, 255), RGB(0, 0, 0), RGB(230, 230, 230)},
    {COLOR_WINDOWTEXT, RGB(255, 255, 255), RGB(0, 0, 0), RGB(240, 240, 240)},
    {COLOR_CAPTIONTEXT, RGB(255, 255, 255), RGB(0, 0, 0), RGB(240, 240, 240)},
    {COLOR_ACTIVEBORDER, RGB(0, 0, 0), RGB(255, 255, 255), RGB(45, 45, 45)},
    {COLOR_INACTIVEBORDER, RGB(0, 0, 0), RGB(255, 255, 255), RGB(45, 45, 45)},
    {COLOR_APPWORKSPACE, RGB(0, 0, 0), RGB(255, 255, 255), RGB(45, 45, 45)},
    {COLOR_HIGHLIGHT, RGB(26, 235, 255), RGB(55, 0, 110), RGB(0, 84, 153)},
    {COLOR_HIGHLIGHTTEXT, RGB(0, 0, 0), RGB(255, 255, 255), RGB(255, 255, 255)},
    {COLOR_BTNFACE, RGB(0, 0, 0), RGB(255, 255, 255), RGB(45, 45, 45)},
    {COLOR_BTNSHADOW, RGB(128, 128, 128), RGB(128, 128, 128), RGB(20, 20, 20)},
    {COLOR_GRAYTEXT, RGB(63, 242, 63), RGB(96, 0, 0), RGB(128, 128, 128)},
    {COLOR_BTNTEXT, RGB(255, 255, 255), RGB(0, 0, 0), RGB(220, 220, 220)},
    {COLOR_INACTIVECAPTIONTEXT, RGB(255, 255, 255), RGB(0, 0, 0), RGB(160, 160, 160)},
    {COLOR_BTNHIGHLIGHT, RGB(255, 255, 255), RGB(0, 0, 0), RGB(90, 90, 90)},
    {COLOR_3DDKSHADOW, RGB(255, 255, 255), RGB(0, 0, 0), RGB(10, 10, 10)},
    {COLOR_3DLIGHT, RGB(192, 192, 192), RGB(64, 64, 64), RGB(70, 70, 70)},
    {COLOR_INFOTEXT, RGB(255, 255, 255), RGB(0, 0, 0), RGB(230, 230, 230)},
    {COLOR_INFOBK, RGB(0, 0, 0), RGB(255, 255, 255), RGB(50, 50, 50)},
    {COLOR_HOTLIGHT, RGB(255, 255, 0), RGB(0, 0, 159), RGB(100, 180, 255)},
    {COLOR_GRADIENTACTIVECAPTION, RGB(0, 0, 0), RGB(255, 255, 255), RGB(40, 40, 40)},
    {COLOR_GRADIENTINACTIVECAPTION, RGB(0, 0, 0), RGB(255, 255, 255), RGB(50, 50, 50)},
    {COLOR_MENUHILIGHT, RGB(26, 235, 255), RGB(55, 0, 110), RGB(0, 84, 153)},
    {COLOR_MENUBAR, RGB(0, 0, 0), RGB(255, 255, 255), RGB(45, 45, 45)},
};

TColourScheme Column(const char* name, COLORREF TSchemeRow::*value) {
  TColourScheme scheme{name, {}};
  for (const TSchemeRow& row : kSchemeRows) scheme.Colours.push_back({row.Index, row.*value});
  return scheme;
}

// The system colours a scheme may change: COLOR_SCROLLBAR (0) to COLOR_MENUBAR (30).
constexpr int kColourCount = COLOR_MENUBAR + 1;

const wchar_t* const kSavedKey = L"Software\\ReaderSettingsTests";
const wchar_t* const kSavedValue = L"SystemColoursBeforeScheme";

void SetColours(const std::vector<COLORREF>& colours) {
  std::vector<INT> indexes;
  for (int i = 0; i < static_cast<int>(colours.size()); ++i) indexes.push_back(i);
  SetSysColors(static_cast<int>(colours.size()), indexes.data(), colours.data());
}

std::vector<COLORREF> ReadSaved() {
  std::vector<COLORREF> saved(kColourCount);
  DWORD size = static_cast<DWORD>(saved.size() * sizeof(COLORREF));
  DWORD type = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kSavedKey, kSavedValue, RRF_RT_REG_BINARY, &type,
                   saved.data(), &size) != ERROR_SUCCESS ||
      size != saved.size() * sizeof(COLORREF)) {
    return {};
  }
  return saved;
}

void WriteSaved(const std::vector<COLORREF>& colours) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kSavedKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExW(key, kSavedValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(colours.data()),
                 static_cast<DWORD>(colours.size() * sizeof(COLORREF)));
  RegCloseKey(key);
}

void ForgetSaved() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kSavedKey, kSavedValue); }

// The answer THighContrastAnswer gives, and what it replaced (one scope at a time).
bool gHighContrastOn = false;
int gQuestions = 0;
using TSystemParametersInfoW = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT);
TSystemParametersInfoW gSystemParametersInfo = nullptr;

BOOL WINAPI AnswerSystemParametersInfo(UINT action, UINT param, PVOID data, UINT winIni) {
  if (action != SPI_GETHIGHCONTRAST) return gSystemParametersInfo(action, param, data, winIni);
  ++gQuestions;
  auto* hc = static_cast<HIGHCONTRASTW*>(data);
  if (hc == nullptr || hc->cbSize != sizeof(HIGHCONTRASTW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  hc->dwFlags = HCF_AVAILABLE | (gHighContrastOn ? HCF_HIGHCONTRASTON : 0);
  hc->lpszDefaultScheme = nullptr;
  return TRUE;
}

// The address slot of dll!name in the import table of module; null when it imports none.
void** FindImport(HMODULE module, const char* dll, const char* name) {
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       d->Name != 0; ++d) {
    // Without the name table the slots hold addresses already, and no name is left to match.
    if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0 ||
        d->OriginalFirstThunk == 0) {
      continue;
    }
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) == 0)
        return reinterpret_cast<void**>(&slots->u1.Function);
    }
  }
  return nullptr;
}

void WriteSlot(void** slot, void* value) {
  DWORD old = 0;
  VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old);
  *slot = value;
  VirtualProtect(slot, sizeof(void*), old, &old);
  FlushInstructionCache(GetCurrentProcess(), slot, sizeof(void*));
}

}  // namespace

const TColourScheme kHighContrastBlack = Column("High Contrast Black", &TSchemeRow::Black);
const TColourScheme kHighContrastWhite = Column("High Contrast White", &TSchemeRow::White);
const TColourScheme kDarkScheme = Column("dark", &TSchemeRow::Dark);

TColourSchemeScope::TColourSchemeScope() {
  // A run that ended inside a scope left its scheme in place: the colours it kept come back
  // first, so that they, not the scheme, are what this scope restores.
  const std::vector<COLORREF> left = ReadSaved();
  if (!left.empty()) SetColours(left);
  for (int i = 0; i < kColourCount; ++i) FSaved.push_back(GetSysColor(i));
  WriteSaved(FSaved);
}

TColourSchemeScope::~TColourSchemeScope() {
  Restore();
  ForgetSaved();
}

void TColourSchemeScope::Apply(const TColourScheme& scheme) {
  std::vector<INT> indexes;
  std::vector<COLORREF> values;
  for (const TSchemeColour& c : scheme.Colours) {
    indexes.push_back(c.Index);
    values.push_back(c.Value);
  }
  SetSysColors(static_cast<int>(values.size()), indexes.data(), values.data());
}

void TColourSchemeScope::Restore() { SetColours(FSaved); }

THighContrastAnswer::THighContrastAnswer(bool on) {
  gHighContrastOn = on;
  gQuestions = 0;
  FSlot = FindImport(GetModuleHandleW(nullptr), "user32.dll", "SystemParametersInfoW");
  if (FSlot == nullptr) return;
  FSystem = *FSlot;
  gSystemParametersInfo = reinterpret_cast<TSystemParametersInfoW>(FSystem);
  WriteSlot(FSlot, reinterpret_cast<void*>(&AnswerSystemParametersInfo));
}

THighContrastAnswer::~THighContrastAnswer() {
  if (FSlot != nullptr) WriteSlot(FSlot, FSystem);
  gHighContrastOn = false;
}

void THighContrastAnswer::Set(bool on) { gHighContrastOn = on; }

int THighContrastAnswer::Questions() const { return gQuestions; }
