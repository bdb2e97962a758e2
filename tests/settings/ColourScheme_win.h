#pragma once
// The operator's colour settings in a test: a colour scheme put in place with SetSysColors,
// as Windows does when the operator picks one (for the whole session), and taken back at the
// end; and the answer to "is High Contrast on?", which Wine cannot give (its
// SPI_GETHIGHCONTRAST always says off).
//
//   TColourSchemeScope scheme;                 // the colours as they were come back at the end
//   scheme.Apply(kHighContrastBlack);
//   THighContrastAnswer answer(true);          // SPI_GETHIGHCONTRAST says on in this program
#include <windows.h>

#include <vector>

struct TSchemeColour {
  int Index;  // COLOR_*
  COLORREF Value;
};

struct TColourScheme {
  const char* Name;
  std::vector<TSchemeColour> Colours;
};

// Windows' High Contrast Black and High Contrast White, and a dark scheme an operator may
// pick without High Contrast.
extern const TColourScheme kHighContrastBlack;
extern const TColourScheme kHighContrastWhite;
extern const TColourScheme kDarkScheme;

// The system colours of the session, changed within the scope and put back as they were at
// its start. Meanwhile they are kept in the registry (HKCU\Software\ReaderSettingsTests), so
// that a run that died with a scheme in place is mended by the next one before it starts.
class TColourSchemeScope {
 public:
  TColourSchemeScope();
  ~TColourSchemeScope();
  TColourSchemeScope(const TColourSchemeScope&) = delete;
  TColourSchemeScope& operator=(const TColourSchemeScope&) = delete;

  // Puts the scheme in place; the system tells every top-level window (WM_SYSCOLORCHANGE).
  void Apply(const TColourScheme& scheme);
  // Puts the colours of the start back.
  void Restore();

 private:
  std::vector<COLORREF> FSaved;  // every system colour at the start, by index
};

// SystemParametersInfoW as this program calls it answers SPI_GETHIGHCONTRAST with the flag
// given; every other request goes to the system. The module's code is linked into the test
// program and calls through the program's import of user32, which this replaces for the
// scope.
class THighContrastAnswer {
 public:
  explicit THighContrastAnswer(bool on);
  ~THighContrastAnswer();
  THighContrastAnswer(const THighContrastAnswer&) = delete;
  THighContrastAnswer& operator=(const THighContrastAnswer&) = delete;

  void Set(bool on);
  // False when the program does not import SystemParametersInfoW: nothing in it asks.
  bool Installed() const { return FSlot != nullptr; }
  // SPI_GETHIGHCONTRAST requests answered since the scope began.
  int Questions() const;

 private:
  void** FSlot = nullptr;  // the import's address slot
  void* FSystem = nullptr;
};
