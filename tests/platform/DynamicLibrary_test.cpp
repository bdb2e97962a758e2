// The dynamic library seam: load by full path, look exports up by name, release.
#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include "../reader/ReaderWorld.h"
#include "platform/LibraryFile.h"

namespace {

// A file's first bytes: an MZ header whose pointer at 0x3C names peOffset, then
// signature and machine there; the file is as long as what is written.
std::string PeHeader(uint32_t peOffset, std::string_view signature, uint16_t machine) {
  std::string bytes(peOffset + signature.size() + 2, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>(peOffset >> (8 * i));
  bytes.replace(peOffset, signature.size(), signature);
  bytes[peOffset + signature.size()] = static_cast<char>(machine & 0xFF);
  bytes[peOffset + signature.size() + 1] = static_cast<char>(machine >> 8);
  return bytes;
}

TEST(LibraryFile, TheHeaderSaysWhatIsWrongWithALibraryFile) {
  const std::string_view pe("PE\0\0", 4);
  struct Case {
    const char* name;
    std::string header;
    uint64_t fileSize;  // 0: as long as the header
    uint16_t own;
    TLibraryFileCheck want;
  };
  const Case cases[] = {
      {"empty", "", 0, kMachineX86, {TLibraryFileProblem::Empty, 0}},
      {"text",
       "this is not a library\r\n",
       0,
       kMachineX86,
       {TLibraryFileProblem::NotWindowsLibrary, 0}},
      {"MZ and nothing more", "MZ", 0, kMachineX86, {TLibraryFileProblem::NotWindowsLibrary, 0}},
      {"no PE signature where MZ points",
       PeHeader(0x80, "NE\0\0", kMachineX86),
       0,
       kMachineX86,
       {TLibraryFileProblem::NotWindowsLibrary, 0}},
      {"MZ points past the end of the file",
       PeHeader(0x80, pe, kMachineX86).substr(0, 0x40),
       0,
       kMachineX86,
       {TLibraryFileProblem::NotWindowsLibrary, 0}},
      {"PE signature beyond what was read",
       PeHeader(0x80, pe, kMachineX86).substr(0, 0x40),
       0x200,
       kMachineX86,
       {TLibraryFileProblem::None, 0}},
      {"x86 library, x86 process",
       PeHeader(0x80, pe, kMachineX86),
       0,
       kMachineX86,
       {TLibraryFileProblem::None, kMachineX86}},
      {"x64 library, x64 process",
       PeHeader(0xF8, pe, kMachineX64),
       0,
       kMachineX64,
       {TLibraryFileProblem::None, kMachineX64}},
      {"x86 library, x64 process",
       PeHeader(0x80, pe, kMachineX86),
       0,
       kMachineX64,
       {TLibraryFileProblem::OtherArchitecture, kMachineX86}},
      {"x64 library, x86 process",
       PeHeader(0x80, pe, kMachineX64),
       0,
       kMachineX86,
       {TLibraryFileProblem::OtherArchitecture, kMachineX64}},
      {"ARM64 library, x64 process",
       PeHeader(0x80, pe, kMachineArm64),
       0,
       kMachineX64,
       {TLibraryFileProblem::OtherArchitecture, kMachineArm64}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t size = c.fileSize != 0 ? c.fileSize : c.header.size();
    const TLibraryFileCheck got = CheckLibraryHeader(c.header, size, c.own);
    EXPECT_EQ(got.Problem, c.want.Problem);
    EXPECT_EQ(got.Machine, c.want.Machine);
  }
  EXPECT_EQ(
      LibraryFileProblemText({TLibraryFileProblem::OtherArchitecture, kMachineX86}, kMachineX64),
      "库是为 32 位 x86 程序编译的，本程序为 64 位 x64，两者须一致");
  EXPECT_EQ(LibraryFileProblemText({TLibraryFileProblem::OtherArchitecture, 0x01F0}, kMachineX86),
            "库是为 机器类型 01F0 程序编译的，本程序为 32 位 x86，两者须一致");
  EXPECT_EQ(LibraryFileProblemText({TLibraryFileProblem::None, kMachineX86}, kMachineX86), "");
}

TEST(DynamicLibrary, LoadsFindsExportsAndReleases) {
  TTempFolder folder;
  const std::string path = folder.PathOf("lurmScard.dll");
  fs::copy_file(ProgramFolder() / "lurmScard.dll", path);
  ASSERT_FALSE(IsLibraryLoaded(path));
  TModuleHandle module = LoadDynamicLibrary(path.c_str());
  ASSERT_NE(module, 0u);
  EXPECT_TRUE(IsLibraryLoaded(path));
  EXPECT_NE(FindLibraryExport(module, "SCListReaders"), nullptr);
  // Plain names only: no decorated or differently spelled names.
  EXPECT_EQ(FindLibraryExport(module, "SCListReaders@4"), nullptr);
  EXPECT_EQ(FindLibraryExport(module, "sclistreaders"), nullptr);
  FreeDynamicLibrary(module);
  EXPECT_FALSE(IsLibraryLoaded(path));
}

TEST(DynamicLibrary, UnloadableFilesGiveNoHandle) {
  TTempFolder folder;
  WriteBytes(folder.Path() / "text.dll", "MZ but not really a library");
  EXPECT_EQ(LoadDynamicLibrary(folder.PathOf("text.dll").c_str()), 0u);
  EXPECT_EQ(LoadDynamicLibrary(folder.PathOf("absent.dll").c_str()), 0u);
  EXPECT_EQ(LoadDynamicLibrary(folder.PathOf("").c_str()), 0u);  // the folder itself
  FreeDynamicLibrary(0);                                         // ignored
}

#if defined(_WIN32)
// A reader library that imports a small library of its own lying beside it, loaded by
// its full path while the process's current directory is its folder or another one,
// and while the host has taken the current directory out of the library search by
// naming an empty folder in SetDllDirectoryW (as hardened workstations do).
enum class TCurrent { LibraryFolder, OtherFolder };
struct DependencyRow {
  const char* name;
  bool dependencyBeside;    // the small library is installed beside the reader library
  TCurrent current;         // the current directory while it is loaded
  bool currentOutOfSearch;  // SetDllDirectoryW names an empty folder
  bool loads;
};

const DependencyRow kDependencyRows[] = {
    {"DependencyMissing", false, TCurrent::LibraryFolder, false, false},
    {"CurrentDirectoryIsTheLibrarysFolder", true, TCurrent::LibraryFolder, false, true},
    {"CurrentDirectoryOutOfTheSearch", true, TCurrent::LibraryFolder, true, true},
    {"CurrentDirectoryElsewhere", true, TCurrent::OtherFolder, false, true},
    {"CurrentDirectoryElsewhereAndOutOfTheSearch", true, TCurrent::OtherFolder, true, true},
};

TEST(DynamicLibrary, DependencyBesideTheLibraryIsFoundInTheLibrarysFolder) {
  // Built into a folder of its own, beside no program.
  const fs::path dependency = ProgramFolder() / "beside" / "lurmScardDep.dll";
  ASSERT_TRUE(fs::exists(dependency));
  ASSERT_FALSE(fs::exists(ProgramFolder() / "lurmScardDep.dll"));
  for (const DependencyRow& row : kDependencyRows) {
    SCOPED_TRACE(row.name);
    TTempFolder library, other, empty;
    const std::string path = library.PathOf("lurmScard.dll");
    fs::copy_file(ProgramFolder() / "lurmScard_withdependency.dll", path);
    if (row.dependencyBeside) fs::copy_file(dependency, library.PathOf("lurmScardDep.dll"));
    const fs::path saved = fs::current_path();
    fs::current_path(row.current == TCurrent::LibraryFolder ? library.Path() : other.Path());
    if (row.currentOutOfSearch) {
      ASSERT_TRUE(SetDllDirectoryW(empty.Path().wstring().c_str()));
    }
    const TModuleHandle module = LoadDynamicLibrary(path.c_str());
    SetDllDirectoryW(nullptr);
    fs::current_path(saved);
    EXPECT_EQ(module != 0, row.loads);
    if (module != 0) {
      EXPECT_NE(FindLibraryExport(module, "SCListReaders"), nullptr);
      EXPECT_TRUE(IsLibraryLoaded(library.PathOf("lurmScardDep.dll")));
      FreeDynamicLibrary(module);
    }
    // Unloaded with the library, so that the next row finds it loaded nowhere.
    EXPECT_EQ(GetModuleHandleA("lurmScardDep.dll"), nullptr);
  }
}
#endif

}  // namespace
