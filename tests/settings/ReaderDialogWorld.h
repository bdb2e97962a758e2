#pragma once
// A whole small world for the reader settings dialog, in a temporary folder: a host
// profile (record mode, the host's message catalogue), a sub-application folder inside
// it, and simulated reader libraries installed there. Host messages and reader library
// calls go to one transcript, in the order they happened.
//
//   TReaderDialogWorld world;
//   world.InstallReader("lurmScard_old.dll", {"reader=ACS 0", "reader=ACS 1"});
//   world.Open();
//   world.Run([](Tfrm_option& dlg) { UserClick(*dlg.btn_reader); UserCloseBox(dlg); });
//   world.Messages();   // {{70000528, ""}}
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "settings/f_option.h"

struct TShownMessage {
  int32_t Id;
  std::string Param;
  friend bool operator==(const TShownMessage&, const TShownMessage&) = default;
};

class TReaderDialogWorld {
 public:
  TReaderDialogWorld();
  ~TReaderDialogWorld();

  // Copies the built simulated library (variant: its file name in the build's bin folder)
  // into the sub-application folder as fileName, configured by the given lines.
  void InstallReader(const std::string& fileName, const std::vector<std::string>& config,
                     const std::string& variant = "lurmScard.dll");
  // Makes folder, relative to the host profile folder, the sub-application folder (the
  // host's [SubApp] Path), with its parents; call before installing.
  void SetSubAppFolder(const std::string& folder);
  void WriteSubAppFile(const std::string& fileName, const std::string& bytes);
  // The bytes of a built simulated library (variant: its file name in the build's bin folder).
  static std::string BuiltLibrary(const std::string& variant = "lurmScard.dll");
  // Adds a parameter to the host's list before the host world opens.
  void AddParam(const std::string& name, const std::string& value);
  // Reads the host profile; call after installing. interactive: the host shows its
  // messages in message boxes instead of recording them.
  void Open(bool interactive = false);

  // Calls ShowFrmOption as the host does, with appWindow as the host's application window;
  // driver runs inside the dialog's modal loop.
  void Run(const std::function<void(Tfrm_option&)>& driver, uintptr_t appWindow = 0);

  std::vector<TShownMessage> Messages() const;
  // Reader library calls, in order ("SCConnectReader name=...", "SCDisConnectReader").
  std::vector<std::string> Calls() const;
  // Host messages and reader library calls interleaved, as "msg <id>" and the call lines.
  std::vector<std::string> Events() const;
  std::vector<std::string> LogLines() const;
  // Errors that reached the toolkit's general error report.
  const std::vector<std::string>& Errors() const { return FErrors; }
  // The host's parameter "Global_nuvreader"; "(none)" when there is no such entry.
  std::string Param() const;
  int ParamCount() const;
  // UserConfig.ini's [NuvReader] nuvreader; "(none)" when missing.
  std::string StoredReader() const;

  const std::filesystem::path& SubAppDir() const { return FSubApp; }
  const std::filesystem::path& ProfileDir() const { return FProfile; }

 private:
  std::vector<std::string> TranscriptLines() const;

  std::filesystem::path FRoot, FProfile, FSubApp;
  std::string FSubAppFolder = "subapp";
  std::vector<std::pair<std::string, std::string>> FParams;
  std::vector<std::string> FErrors;
};
