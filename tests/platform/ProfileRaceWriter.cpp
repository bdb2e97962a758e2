// One of the writers of ProfileRace's creation race, a program of its own so that the
// writers are separate processes, as two instances of the host are. For each round it
// waits until the round's folder appears, sets its own key in UserConfig.ini there (a
// file that does not exist until one of the writers creates it), and leaves what became
// of the write in <key>.result beside it: "ok", or "error <system error> <text>".
//
//   profile_race_writer FOLDER KEY ROUNDS
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>  // steady_clock too: <chrono> does not compile with code-page-936 literals

#include "platform/Profile.h"

namespace fs = std::filesystem;

namespace {

// A round's folder is waited for this long at most: the test may have failed meanwhile.
constexpr auto kRoundWait = std::chrono::seconds(60);

void PutResult(const fs::path& folder, const std::string& key, const std::string& text) {
  // Moved in whole, so the test never reads half a result.
  const fs::path part = folder / (key + ".part");
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << text;
  }
  fs::rename(part, folder / (key + ".result"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: profile_race_writer FOLDER KEY ROUNDS\n");
    return 2;
  }
  const fs::path folder = argv[1];
  const std::string key = argv[2];
  const int rounds = std::stoi(argv[3]);
  for (int round = 0; round < rounds; ++round) {
    const fs::path roundFolder = folder / ("round-" + std::to_string(round));
    // Both writers spin here, so that they start their writes at the same moment.
    const auto giveUp = std::chrono::steady_clock::now() + kRoundWait;
    std::error_code ignored;
    while (!fs::is_directory(roundFolder, ignored)) {
      if (std::chrono::steady_clock::now() > giveUp) {
        std::fprintf(stderr, "profile_race_writer: no %s\n", roundFolder.string().c_str());
        return 1;
      }
      std::this_thread::yield();
    }
    std::string result = "ok";
    try {
      IniWriteString((roundFolder / "UserConfig.ini").string(), "NuvReader", key,
                     key + " " + std::to_string(round));
    } catch (const IniWriteError& e) {
      result = "error " + std::to_string(e.OsError()) + " " + e.what();
    } catch (const IniFormatError& e) {
      result = std::string("error 0 ") + e.what();
    }
    PutResult(roundFolder, key, result);
  }
  return 0;
}
