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

}  // namespace
