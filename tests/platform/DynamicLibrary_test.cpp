// The dynamic library seam: load by full path, look exports up by name, release.
#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include "../reader/ReaderWorld.h"

namespace {

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
