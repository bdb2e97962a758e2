#pragma once
// Test world for the reader layer: a temporary sub-application folder into which the
// simulated reader library is installed under the names the module loads, with its
// configuration file and trace beside it.
//
//   TReaderWorld world;
//   world.Install("lurmScard.dll", "lurmScard_old.dll", "reader=Reader A\n");
//   TLURMScardInvoker invoker(world.PathOf("lurmScard_old.dll"));
//   EXPECT_EQ(world.TraceLines(), (std::vector<std::string>{"SCListReaders zeroed=1"}));
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "LibraryFiles.h"
#include "TestFolders.h"
#include "host/HostString.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

// The running test program's file.
inline fs::path ProgramPath() {
#if defined(_WIN32)
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return fs::path(std::string(path, n));
#else
  return fs::read_symlink("/proc/self/exe");
#endif
}

// The folder of the running test program, where the build puts the stand-in libraries.
inline fs::path ProgramFolder() { return ProgramPath().parent_path(); }

inline void WriteBytes(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// True while the library file at path is loaded into this process.
inline bool IsLibraryLoaded(const std::string& path) {
#if defined(_WIN32)
  return GetModuleHandleA(path.c_str()) != nullptr;
#else
  void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h != nullptr) dlclose(h);
  return h != nullptr;
#endif
}

// A unique empty folder under the system's temporary folder, removed with the object
// (TestFolders.h: what stays behind is removed once its process has ended).
class TTempFolder {
 public:
  TTempFolder() : FPath(testfolders::MakeTestFolder("test")) {}
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  ~TTempFolder() {
    std::error_code ec;
    fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(FPath, ec);
    testfolders::ReleaseFolder(FPath);
  }
  const fs::path& Path() const { return FPath; }
  // The full path of name inside the folder, as an 8-bit text.
  std::string PathOf(const std::string& name) const { return (FPath / name).string(); }
  HostString HostPathOf(const std::string& name) const { return HostString(PathOf(name)); }
  // The folder as GetCurSubAppPath gives it: ending in a path separator.
  std::string WithSeparator() const { return (FPath / "").string(); }

 private:
  fs::path FPath;
};

// A sub-application folder with simulated reader libraries installed in it.
class TReaderWorld : public TTempFolder {
 public:
  // Copies the built library builtName in as installedName, configured by config;
  // the trace file goes to "<installedName>.trace" unless config names one.
  void Install(const std::string& builtName, const std::string& installedName,
               std::string config = {}) {
    fs::copy_file(ProgramFolder() / builtName, Path() / installedName,
                  fs::copy_options::overwrite_existing);
    FTrace = PathOf(installedName + ".trace");
    Configure(installedName, config + "\ntrace=" + FTrace + "\n");
  }
  void Configure(const std::string& installedName, const std::string& config) {
    WriteBytes(Path() / (installedName + ".sim.ini"), config);
  }
  // The calls recorded by the library installed last, one line each.
  std::vector<std::string> TraceLines() const {
    std::vector<std::string> lines;
    std::string text = ReadBytes(FTrace);
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(pos, end - pos));
      pos = end + 1;
    }
    return lines;
  }

 private:
  std::string FTrace;
};
