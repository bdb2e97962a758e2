#include "ReaderDialogWorld.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "../reader/TestFolders.h"
#include "HostProfile.h"
#include "HostSim.h"
#include "entry/LibraryEntry.h"
#include "platform/Profile.h"
#include "toolkit/Forms.h"
#include "toolkit/UserInput.h"

namespace fs = std::filesystem;

namespace {

// Test programs start in the build's bin folder, where the built libraries are; the
// dialog changes the current directory later, so it is taken once, at start-up.
const fs::path kBinDir = fs::current_path();

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << path;
}

bool IsReaderCall(const std::string& line) { return line.rfind("SC", 0) == 0; }

}  // namespace

TReaderDialogWorld::TReaderDialogWorld() {
  FRoot = testfolders::MakeTestFolder("dialog");
  FProfile = FRoot / "host";
  FSubApp = FProfile / FSubAppFolder;
  fs::create_directories(FSubApp);
  fs::copy_file(kBinDir / "host-profile" / "Messages.txt", FProfile / "Messages.txt");
}

TReaderDialogWorld::~TReaderDialogWorld() {
  HostSim_Close();
  std::error_code ignored;
  fs::permissions(FSubApp, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(FRoot, ignored);
  testfolders::ReleaseFolder(FRoot);
}

void TReaderDialogWorld::InstallReader(const std::string& fileName,
                                       const std::vector<std::string>& config,
                                       const std::string& variant) {
  fs::copy_file(kBinDir / variant, FSubApp / fileName, fs::copy_options::overwrite_existing);
  std::string text;
  for (const std::string& line : config) text += line + "\n";
  text += "trace=" + (FProfile / "transcript.txt").string() + "\n";
  WriteFile(FSubApp / (fileName + ".sim.ini"), text);
}

void TReaderDialogWorld::SetSubAppFolder(const std::string& folder) {
  FSubAppFolder = folder;
  FSubApp = FProfile / folder;
  fs::create_directories(FSubApp);
}

void TReaderDialogWorld::WriteSubAppFile(const std::string& fileName, const std::string& bytes) {
  WriteFile(FSubApp / fileName, bytes);
}

std::string TReaderDialogWorld::BuiltLibrary(const std::string& variant) {
  std::ifstream in(kBinDir / variant, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void TReaderDialogWorld::AddParam(const std::string& name, const std::string& value) {
  FParams.emplace_back(name, value);
}

void TReaderDialogWorld::Open(bool interactive) {
  std::string ini = std::string("[Host]\nMode=") + (interactive ? "interactive" : "record") +
                    "\nTranscript=transcript.txt\nLog=host.log\n"
                    "[SubApp]\nPath=" +
                    FSubAppFolder + "\nCode=YB01\nFuncCode=YB0105\n";
  WriteFile(FProfile / "Host.ini", ini);
  ASSERT_EQ(HostSim_Open(FProfile.string().c_str()), 1) << HostSim_LastError();
  for (const auto& [name, value] : FParams)
    HostSim_AddParam(name.c_str(), 0, value.c_str(), nullptr);
}

void TReaderDialogWorld::Run(const std::function<void(Tfrm_option&)>& driver, uintptr_t appWindow) {
  bool ran = false;
  Application->OnException = [this](TObject*, const std::string& message) {
    FErrors.push_back(message);
  };
  Application->ModalDriver = [&](TCustomForm& form) {
    auto* dialog = dynamic_cast<Tfrm_option*>(&form);
    if (dialog == nullptr) return;
    ran = true;
    driver(*dialog);
    // A driver that forgot to close must not leave the test waiting.
    if (dialog->ModalResult() == mrNone) UserCloseBox(*dialog);
  };
  HostSim_SetHandles(appWindow, 0);
  ShowFrmOption(appWindow, 0, 0);
  Application->ModalDriver = nullptr;
  Application->OnException = nullptr;
  EXPECT_TRUE(ran) << "the dialog never entered its modal loop";
}

std::vector<std::string> TReaderDialogWorld::TranscriptLines() const {
  return ReadRecordedLines((FProfile / "transcript.txt").string());
}

std::vector<TShownMessage> TReaderDialogWorld::Messages() const {
  std::vector<TShownMessage> shown;
  for (const std::string& line : TranscriptLines()) {
    // A message box shows the text the module built; its "parameter" here is that text.
    if (auto m = ParseRecordedMessage(line))
      shown.push_back({m->Id, m->Id == 0 ? m->Text : m->Param});
  }
  return shown;
}

std::vector<std::string> TReaderDialogWorld::Calls() const {
  std::vector<std::string> calls;
  for (const std::string& line : TranscriptLines())
    if (IsReaderCall(line)) calls.push_back(line);
  return calls;
}

std::vector<std::string> TReaderDialogWorld::Events() const {
  std::vector<std::string> events;
  for (const std::string& line : TranscriptLines()) {
    if (IsReaderCall(line)) {
      events.push_back(line);
    } else if (auto m = ParseRecordedMessage(line)) {
      events.push_back(m->Id == 0 ? "msgbox" : "msg " + std::to_string(m->Id));
    }
  }
  return events;
}

std::vector<std::string> TReaderDialogWorld::LogLines() const {
  return ReadRecordedLines((FProfile / "host.log").string());
}

std::string TReaderDialogWorld::Param() const {
  HostStr text = nullptr;
  if (!HostSim_GetParamText("Global_nuvreader", &text)) return "(none)";
  std::string value(text == nullptr ? "" : text, HostStrLength(text));
  HostStrRelease(text);
  return value;
}

int TReaderDialogWorld::ParamCount() const { return HostSim_ParamCount(); }

std::string TReaderDialogWorld::StoredReader() const {
  return IniReadString((FSubApp / "UserConfig.ini").string(), "NuvReader", "nuvreader", "(none)");
}
