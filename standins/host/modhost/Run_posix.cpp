// The host simulator natively: the module's code is linked in and its dialog lives in the
// in-memory toolkit, driven by the same scripts through the toolkit's user operations.
// Like the Windows driver, which finds the dialog by its window class and its controls by
// their windows, it knows the dialog only as a toolkit form: its class name and its
// controls by name and caption, never the dialog's own class.
#include <iconv.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "Host.h"
#include "HostSim.h"
#include "entry/LibraryEntry.h"
#include "platform/Window.h"
#include "toolkit/UserInput.h"

namespace {

// The toolkit's error reports so far that are in the transcript. Natively the error box is
// a line on stderr and returns at once; the host reads it back from the toolkit.
size_t gErrorsRecorded = 0;

void RecordNewErrors() {
  const auto& shown = Application->ShownErrors();
  for (; gErrorsRecorded < shown.size(); ++gErrorsRecorded) {
    if (HostSim_Recording() != 0) RecordErrorBox(shown[gErrorsRecorded]);
  }
}

// The reader settings dialog's window class, as the Windows driver waits for it.
constexpr const char* kDialogClass = "Tfrm_option";

class THeadlessDriver : public TDialogDriver {
 public:
  // list: the dialog's reader list (its control "ListBox"); the form owns it.
  THeadlessDriver(TCustomForm& dialog, TXPTolvikListBox& list) : FDialog(dialog), FList(list) {}

  std::string Caption() override { return FDialog.Caption(); }
  std::vector<std::string> Lines() override { return FList.Lines(); }
  int Selected() override { return FList.ItemIndex(); }
  bool Select(int index) override {
    if (index < 0 || index >= FList.Count()) return false;
    UserSelectLine(FList, index);
    RecordNewErrors();
    return FList.ItemIndex() == index;
  }
  // The shown button with that caption, as an operator finds it on the screen.
  bool Press(const std::string& caption) override {
    for (int i = 0; i < FDialog.ComponentCount(); ++i) {
      auto* b = dynamic_cast<TModalSpeedButton*>(FDialog.Components(i));
      if (b != nullptr && b->Caption() == caption && b->Showing()) {
        UserClick(*b);
        RecordNewErrors();
        return true;
      }
    }
    return false;
  }
  void CloseBox() override {
    UserCloseBox(FDialog);
    RecordNewErrors();
  }
  void Key(int virtualKey, bool shift, bool ctrl, bool alt) override {
    TShiftState state = (shift ? ssShift : 0) | (ctrl ? ssCtrl : 0) | (alt ? ssAlt : 0);
    UserTypeKey(FDialog, static_cast<uint16_t>(virtualKey), state);
    RecordNewErrors();
  }
  void SkinRefresh() override {
    UserSendMessage(FDialog, 0x517, 0, 0);
    RecordNewErrors();
  }
  bool Screenshot(const std::string&) override { return false; }
  // Headless the loop ends when the driver returns; a modal result means it will.
  bool Closed() override { return !FDialog.Modal() || FDialog.ModalResult() != mrNone; }

 private:
  TCustomForm& FDialog;
  TXPTolvikListBox& FList;
};

}  // namespace

std::string Utf8ToAnsi(const std::string& utf8) {
  iconv_t cd = iconv_open("CP936", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* o = out.data();
  size_t outLeft = out.size();
  const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return utf8;
  out.resize(out.size() - outLeft);
  return out;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

// The module's texts are converted to code page 936 here whatever the locale.
std::string CodePageWarning() { return {}; }

bool RunModule(const TModHostOptions& options, const std::vector<TScriptLine>* script,
               const TTranscriptSource& transcript, std::vector<std::string>& failures,
               TScriptOutcome& outcome) {
  if (options.UseUpFls) {
    failures.push_back("--use-up-fls: there is no fiber-local storage here (Windows only)");
    return false;
  }
  // The host's main frame, in the in-process window registry, counting help requests.
  int helpRequests = 0;
  std::unique_ptr<TMessageWindow> mainFrame;
  if (options.MainFrame) {
    mainFrame =
        std::make_unique<TMessageWindow>("Tfrm_MainFrame", [&](uint32_t msg, uintptr_t, intptr_t) {
          if (msg == 0x510) ++helpRequests;
          return intptr_t{0};
        });
  }
  TTranscriptSource events = transcript;
  events.HelpRequests = [&] { return helpRequests; };
  bool appeared = script == nullptr;
  if (script != nullptr) {
    Application->ModalDriver = [&](TCustomForm& form) {
      if (std::strcmp(form.ClassName(), kDialogClass) != 0) return;
      auto* list = dynamic_cast<TXPTolvikListBox*>(form.FindComponent("ListBox"));
      if (list == nullptr) {
        failures.push_back(std::string("the dialog ") + kDialogClass + " has no reader list");
        return;
      }
      appeared = true;
      RecordNewErrors();
      THeadlessDriver driver(form, *list);
      if (!options.Screenshot.empty())
        std::fprintf(stderr, "modhost: no screenshot without windows; %s not written\n",
                     options.Screenshot.c_str());
      outcome = RunScript(*script, driver, events, failures, WaitForScriptLine);
      if (!driver.Closed()) {
        if (outcome.Finished)
          failures.push_back("the dialog is still open at the end of the script");
        driver.CloseBox();
      }
    };
  }
  gErrorsRecorded = Application->ShownErrors().size();
  ShowFrmOption(1, 0, 0);
  RecordNewErrors();
  Application->ModalDriver = nullptr;
  if (!appeared) failures.push_back("the dialog did not appear");
  return appeared;
}
