// The stand-in host log: Error appends one dated line per entry to the host log file.
//
//   2024-05-06 14:03:07 [1] 获取读卡器列表发生错误，错误编号：2148532270
//
// The file is the one HostLog_SetFile named (the stand-in ModuleLib names it when it opens
// a host profile), else the Log file of the profile folder in RS_HOST_PROFILE, else stderr.
#include <cstdlib>
#include <ctime>
#include <string>

#include "HostProfile.h"
#include "HostSim.h"

namespace {

std::string gLogPath;
bool gLogPathSet = false;

const std::string& LogPath() {
  if (!gLogPathSet) {
    gLogPathSet = true;
    const char* dir = std::getenv("RS_HOST_PROFILE");
    if (dir != nullptr && *dir != '\0') {
      try {
        gLogPath = LoadHostProfile(dir).LogPath;
      } catch (const std::exception& e) {
        AppendToFile("", std::string("logQuery: ") + e.what() + "\n");
      }
    }
  }
  return gLogPath;
}

}  // namespace

extern "C" {

LOGQUERY_API void HostLog_SetFile(const char* path) {
  try {
    gLogPath = path == nullptr ? "" : path;
    gLogPathSet = true;
  } catch (...) {
  }
}

LOGQUERY_API void RS_STDCALL Error(const char* category, const char* text) {
  try {
    std::time_t now = std::time(nullptr);
    char stamp[32] = "";
    if (const std::tm* local = std::localtime(&now)) {
      std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", local);
    }
    std::string line = std::string(stamp) + " [" + EscapeLine(category ? category : "") + "] " +
                       EscapeLine(text ? text : "") + "\n";
    AppendToFile(LogPath(), line);
  } catch (...) {
    // The host log never fails its caller.
  }
}

}  // extern "C"
