#pragma once
// A host world for tests: a temporary host profile folder with the files a test writes,
// opened in the stand-in host, closed and removed at the end.
//
//   HostWorld world({{"Messages.txt", "70000527=读卡器 %s 已设置\n"}});
//   ASSERT_TRUE(world.Opened()) << HostSim_LastError();
//   std::string transcript = world.Read("transcript.txt");
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <utility>

#include "HostSim.h"

class HostWorld {
 public:
  struct File {
    std::string Name;
    std::string Bytes;
  };

  explicit HostWorld(std::initializer_list<File> files = {}, bool open = true) {
    std::random_device seed;
    FDir = std::filesystem::temp_directory_path() /
           ("rs-host-" + std::to_string(seed()) + "-" + std::to_string(seed()));
    std::filesystem::create_directories(FDir);
    for (const File& f : files) Write(f.Name, f.Bytes);
    if (open) FOpened = HostSim_Open(Dir().c_str()) == 1;
  }
  ~HostWorld() {
    HostSim_Close();
    std::error_code ignored;
    std::filesystem::remove_all(FDir, ignored);
  }
  HostWorld(const HostWorld&) = delete;
  HostWorld& operator=(const HostWorld&) = delete;

  bool Opened() const { return FOpened; }
  // The folder in the system code page, without a final separator.
  std::string Dir() const { return FDir.string(); }
  std::string Path(const std::string& name) const { return (FDir / name).string(); }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(FDir / name, std::ios::binary);
    out << bytes;
  }
  // The whole file, "" when missing.
  std::string Read(const std::string& name) const {
    std::ifstream in(FDir / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path FDir;
  bool FOpened = false;
};
