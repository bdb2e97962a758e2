// modhost: the host simulator. Loads the reader settings module as the host does, sets up
// the stand-in host from a host profile folder and calls ShowFrmOption, interactively or
// driven by a script; afterwards prints the parameter "Global_nuvreader" and the stored
// key of "UserConfig.ini".
//
//   modhost --profile demo/host --module ReaderSettings.dll [--script select.txt]
//           [--screenshot dialog.bmp] [--timeout 60] [--no-main-frame]
//   modhost --version                 // "modhost 1.0.0": the release this host belongs to
//
// Exit status: 0 when every expectation held, 1 when one failed, 2 on bad usage or a
// profile that cannot be read, 3 when the module could not be called or the dialog did
// not appear in time.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Host.h"
#include "HostProfile.h"
#include "HostSim.h"
#include "host/HostString.h"
#include "platform/Profile.h"

namespace {

int Usage(const char* why) {
  std::fprintf(stderr,
               "modhost: %s\n"
               "usage: modhost --profile DIR [--module FILE] [--script FILE] [--screenshot FILE]\n"
               "               [--timeout SECONDS] [--no-main-frame]\n"
               "       modhost --version\n",
               why);
  return 2;
}

// The events of the host world: messages from the transcript, host log lines, and the
// reader library's calls from the trace the simulated library writes beside itself.
std::vector<TTranscriptEvent> ReadEvents(const std::string& traceFile) {
  std::vector<TTranscriptEvent> events;
  for (const std::string& line : ReadRecordedLines(HostSim_TranscriptPath())) {
    if (auto m = ParseRecordedMessage(line)) {
      events.push_back({TTranscriptEvent::kMessage, m->Id, m->Param, m->Text});
    }
  }
  for (const std::string& line : ReadRecordedLines(HostSim_LogPath())) {
    events.push_back({TTranscriptEvent::kLog, 0, {}, line});
  }
  if (traceFile.empty()) return events;
  for (const std::string& line : ReadRecordedLines(traceFile)) {
    events.push_back({TTranscriptEvent::kReaderCall, 0, {}, line});
  }
  return events;
}

}  // namespace

int main(int argc, char** argv) {
  TModHostOptions options;
  std::string traceFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string seconds;
    if (arg == "--version") {
      std::printf("modhost %s\n", RS_VERSION);
      return 0;
    }
    if (arg == "--profile") {
      if (!value(options.Profile)) return Usage("--profile needs a folder");
    } else if (arg == "--module") {
      if (!value(options.Module)) return Usage("--module needs a file");
    } else if (arg == "--script") {
      if (!value(options.ScriptFile)) return Usage("--script needs a file");
    } else if (arg == "--screenshot") {
      if (!value(options.Screenshot)) return Usage("--screenshot needs a file");
    } else if (arg == "--trace") {
      if (!value(traceFile)) return Usage("--trace needs a file");
    } else if (arg == "--timeout") {
      if (!value(seconds)) return Usage("--timeout needs seconds");
      options.TimeoutSeconds = std::atoi(seconds.c_str());
      if (options.TimeoutSeconds <= 0) return Usage("--timeout needs a positive number");
    } else if (arg == "--no-main-frame") {
      options.MainFrame = false;
    } else {
      return Usage(("unknown argument " + arg).c_str());
    }
  }
  if (options.Profile.empty()) return Usage("--profile is required");

  if (!HostSim_Open(options.Profile.c_str())) {
    std::fprintf(stderr, "modhost: host profile %s: %s\n", options.Profile.c_str(),
                 HostSim_LastError());
    return 2;
  }

  std::vector<TScriptLine> script;
  if (!options.ScriptFile.empty()) {
    std::ifstream in(options.ScriptFile, std::ios::binary);
    if (!in) return Usage(("cannot read script " + options.ScriptFile).c_str());
    std::stringstream text;
    text << in.rdbuf();
    try {
      script = ParseScript(Utf8ToAnsi(text.str()));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "modhost: %s: %s\n", options.ScriptFile.c_str(), e.what());
      return 2;
    }
  }

  TTranscriptSource transcript;
  transcript.Events = [&] { return ReadEvents(traceFile); };
  std::vector<std::string> failures;
  const bool ran =
      RunModule(options, options.ScriptFile.empty() ? nullptr : &script, transcript, failures);

  // What the host sees after the call: its parameter and the sub-application's file.
  HostString param;
  const bool hasParam = HostSim_GetParamText("Global_nuvreader", param.Out()) != 0;
  HostString subAppPath;
  GetCurSubAppPath(subAppPath.Out());
  const std::string userConfig = std::string(subAppPath.View()) + "UserConfig.ini";
  const std::string stored = IniReadString(userConfig, "NuvReader", "nuvreader", "(none)");
  std::printf("Global_nuvreader=%s\n", hasParam ? std::string(param.View()).c_str() : "(none)");
  std::printf("UserConfig.ini [NuvReader] nuvreader=%s\n", stored.c_str());

  for (const std::string& f : failures) std::fprintf(stderr, "modhost: %s\n", f.c_str());
  HostSim_Close();
  if (!ran) return 3;
  return failures.empty() ? 0 : 1;
}
