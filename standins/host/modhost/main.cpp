// modhost: the host simulator. Loads the reader settings module as the host does, sets up
// the stand-in host from a host profile folder and calls ShowFrmOption, interactively or
// driven by a script; afterwards prints the parameter "Global_nuvreader" and the stored
// key of "UserConfig.ini".
//
//   modhost --profile demo/host --module ReaderSettings.dll [--script select.txt]
//           [--trace calls.txt] [--screenshot dialog.bmp] [--timeout 60] [--no-main-frame]
//           [--use-up-fls]
//   modhost --version                 // "modhost 1.0.0": the release this host belongs to
//   modhost --help                    // the usage below
//
// Exit status: 0 when every expectation held, 1 when one failed, 2 on bad usage or a
// profile that cannot be read, 3 when the module could not be called or the dialog did
// not appear in time.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Host.h"
#include "HostProfile.h"
#include "HostSim.h"
#include "host/HostString.h"
#include "platform/Profile.h"

namespace {

const char kUsage[] =
    "usage: modhost --profile DIR [--module FILE] [--script FILE] [--trace FILE]\n"
    "               [--screenshot FILE] [--timeout SECONDS] [--no-main-frame]\n"
    "               [--use-up-fls]\n"
    "       modhost --version | --help\n";

const char kHelp[] =
    "Loads ReaderSettings.dll as the host does and calls ShowFrmOption once, with the\n"
    "stand-in ModuleLib.dll and logQuery.dll answering from a host profile folder.\n"
    "\n"
    "  --profile DIR      the host profile folder (Host.ini, Messages.txt, UserConfig.ini);\n"
    "                     a relative path is made absolute before the module runs\n"
    "  --module FILE      the module to load (default ReaderSettings.dll)\n"
    "  --script FILE      play the script (UTF-8) instead of leaving the dialog to the\n"
    "                     operator; the host records its messages (Mode=record)\n"
    "  --trace FILE       the simulated reader library's trace file (its trace= key),\n"
    "                     read by expect-call\n"
    "  --screenshot FILE  save an image of the dialog once it is up (scripted runs)\n"
    "  --timeout SECONDS  bound of a scripted run (default 60); past it the exit status is 3\n"
    "  --no-main-frame    no host main frame window (GetMainFrameHandle returns 0)\n"
    "  --use-up-fls       (Windows) take every fiber-local storage slot left before\n"
    "                     loading the module, as plug-ins built on the static Microsoft\n"
    "                     runtime use them up in a host (128 before Windows 10 1903)\n"
    "  --version          print the release of this host\n"
    "  --help             print this text\n"
    "\n"
    "Script commands: select, press, close-box, key, skin-refresh, screenshot, wait;\n"
    "expect-caption, expect-lines, expect-selected, expect-message, expect-text,\n"
    "expect-no-message, expect-log, expect-call, expect-error, expect-help (see the\n"
    "integration guide). In Mode=record the toolkit's error box is recorded in the\n"
    "transcript as \"ErrorBox text=...\" and dismissed; a script claims it with\n"
    "expect-error \"TEXT\".\n"
    "\n"
    "Exit status: 0 when every expectation held, 1 when one failed, 2 on bad usage or an\n"
    "unreadable profile, 3 when the module could not be called, the dialog did not appear\n"
    "or the run did not end within the time-out.\n";

int Usage(const char* why) {
  std::fprintf(stderr, "modhost: %s\n%s", why, kUsage);
  return 2;
}

// The files the events come from, and how many lines each held before this run: a host
// profile used again keeps the transcript, the log and the trace of earlier runs, and a
// script reads only what its own run recorded.
struct TEventFiles {
  std::string Transcript, Log, Trace;
  size_t TranscriptFrom = 0, LogFrom = 0, TraceFrom = 0;

  void MarkStart() {
    TranscriptFrom = ReadRecordedLines(Transcript).size();
    LogFrom = ReadRecordedLines(Log).size();
    TraceFrom = Trace.empty() ? 0 : ReadRecordedLines(Trace).size();
  }
};

std::vector<std::string> LinesFrom(const std::string& path, size_t from) {
  std::vector<std::string> lines = ReadRecordedLines(path);
  lines.erase(lines.begin(),
              lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())));
  return lines;
}

// The events of the host world: messages and error boxes from the transcript, host log
// lines, and the reader library's calls from the trace the simulated library writes
// beside itself. Each kind is in the order the host saw it.
std::vector<TTranscriptEvent> ReadEvents(const TEventFiles& files) {
  std::vector<TTranscriptEvent> events;
  static const char kErrorBox[] = "ErrorBox text=";
  for (const std::string& line : LinesFrom(files.Transcript, files.TranscriptFrom)) {
    if (auto m = ParseRecordedMessage(line)) {
      events.push_back({TTranscriptEvent::kMessage, m->Id, m->Param, m->Text});
    } else if (line.rfind(kErrorBox, 0) == 0) {
      events.push_back(
          {TTranscriptEvent::kErrorBox, 0, {}, UnescapeLine(line.substr(sizeof kErrorBox - 1))});
    }
  }
  for (const std::string& line : LinesFrom(files.Log, files.LogFrom)) {
    events.push_back({TTranscriptEvent::kLog, 0, {}, line});
  }
  if (files.Trace.empty()) return events;
  for (const std::string& line : LinesFrom(files.Trace, files.TraceFrom)) {
    events.push_back({TTranscriptEvent::kReaderCall, 0, {}, line});
  }
  return events;
}

// Prints what the host waits for once a wait has lasted 2 s, and every 10 s after.
class TWaitNotices {
 public:
  TWaitNotices() : FThread([this] { Watch(); }) {}
  ~TWaitNotices() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FStop = true;
    }
    FWake.notify_all();
    FThread.join();
  }

  void Set(const std::string& what) {
    std::lock_guard<std::mutex> lock(FMutex);
    FWhat = what;
    FSince = std::chrono::steady_clock::now();
    FNoticeAt = FSince + std::chrono::seconds(2);
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(FMutex);
    while (!FStop) {
      FWake.wait_for(lock, std::chrono::milliseconds(100));
      const auto now = std::chrono::steady_clock::now();
      if (FStop || FWhat.empty() || now < FNoticeAt) continue;
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - FSince).count();
      std::fprintf(stderr, "modhost: waiting %lld s for %s\n", static_cast<long long>(seconds),
                   FWhat.c_str());
      std::fflush(stderr);
      FNoticeAt = now + std::chrono::seconds(10);
    }
  }

  std::mutex FMutex;
  std::condition_variable FWake;
  bool FStop = false;
  std::string FWhat;
  std::chrono::steady_clock::time_point FSince, FNoticeAt;
  std::thread FThread;  // last: started once the fields above exist
};

TWaitNotices* gWaits = nullptr;

}  // namespace

void SetWaiting(const std::string& what) {
  if (gWaits != nullptr) gWaits->Set(what);
}

void WaitForScriptLine(const TScriptLine* line) {
  SetWaiting(line == nullptr ? std::string()
                             : "line " + std::to_string(line->Number) + " (" +
                                   ScriptLineText(*line) + ") to finish");
}

void RecordErrorBox(const std::string& text) {
  AppendToFile(HostSim_TranscriptPath(), "ErrorBox text=" + EscapeLine(text) + "\n");
}

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
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      std::printf("modhost %s, the host simulator of the reader settings module\n%s\n%s",
                  RS_VERSION, kUsage, kHelp);
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
    } else if (arg == "--use-up-fls") {
      options.UseUpFls = true;
    } else {
      return Usage(("unknown argument " + arg).c_str());
    }
  }
  if (options.Profile.empty()) return Usage("--profile is required");
  if (options.Module.empty()) options.Module = "ReaderSettings.dll";

  const std::string warning = CodePageWarning();
  if (!warning.empty()) std::fprintf(stderr, "modhost: warning: %s\n", warning.c_str());

  // The module makes the sub-application folder current and then names its files by the
  // host's path: a relative profile would no longer lead anywhere once the dialog is up.
  options.Profile = AbsolutePath(options.Profile);
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
    // A script reads what the host recorded: an interactive profile is played recorded.
    if (HostSim_Recording() == 0) {
      HostSim_SetRecording(1);
      std::fprintf(stderr,
                   "modhost: the profile says Mode=interactive; playing the script with "
                   "Mode=record (messages go to the transcript)\n");
    }
  }

  // Read while the module has its own current directory.
  if (!traceFile.empty()) traceFile = AbsolutePath(traceFile);
  TEventFiles files{HostSim_TranscriptPath(), HostSim_LogPath(), traceFile};
  files.MarkStart();
  TTranscriptSource transcript;
  transcript.Events = [&] { return ReadEvents(files); };
  std::vector<std::string> failures;
  TScriptOutcome outcome;
  bool ran = false;
  {
    TWaitNotices waits;
    gWaits = &waits;
    ran = RunModule(options, options.ScriptFile.empty() ? nullptr : &script, transcript, failures,
                    outcome);
    gWaits = nullptr;
  }

  // What the host sees after the call: its parameter and the sub-application's file.
  HostString param;
  const bool hasParam = HostSim_GetParamText("Global_nuvreader", param.Out()) != 0;
  HostString subAppPath;
  GetCurSubAppPath(subAppPath.Out());
  const std::string userConfig = std::string(subAppPath.View()) + "UserConfig.ini";
  const std::string stored = IniReadString(userConfig, "NuvReader", "nuvreader", "(none)");
  std::printf("Global_nuvreader=%s\n", hasParam ? std::string(param.View()).c_str() : "(none)");
  std::printf("UserConfig.ini [NuvReader] nuvreader=%s\n", stored.c_str());
  std::fflush(stdout);

  for (const std::string& f : failures) std::fprintf(stderr, "modhost: %s\n", f.c_str());
  if (!options.ScriptFile.empty() && ran) {
    if (failures.empty()) {
      std::printf("script passed: %d steps\n", outcome.Steps);
    } else {
      std::fprintf(stderr, "modhost: script failed: %zu failure%s in %d of %zu steps\n",
                   failures.size(), failures.size() == 1 ? "" : "s", outcome.Steps, script.size());
    }
  }
  HostSim_Close();
  if (!ran) return 3;
  return failures.empty() ? 0 : 1;
}
