// The reader library binding against the simulated reader library and its variants.
#include "reader/scard_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ReaderWorld.h"

namespace {

using Lines = std::vector<std::string>;

// Calls the entry point and returns the export name of the EmptyEntryPointError it
// raises, or "" when it made the call.
template <typename Call>
std::string EmptyEntryPointRaised(Call call) {
  try {
    call();
  } catch (const EmptyEntryPointError& e) {
    EXPECT_NE(std::string(e.what()).find(e.ExportName()), std::string::npos) << e.what();
    return e.ExportName();
  }
  return "";
}

// Each entry point called once with harmless arguments; the names of those that
// raised instead of calling.
Lines EmptyEntryPoints(TLURMScardInvoker& invoker) {
  Lines empty;
  char list[kSCListBufferSize] = {};
  char out[kSCConnectBufferSize];
  uint8_t response[4];
  int32_t responseLength = 0;
  for (const std::string& name : {
           EmptyEntryPointRaised([&] { invoker.SCListReaders(list); }),
           EmptyEntryPointRaised([&] { invoker.SCConnectReader("R", out); }),
           EmptyEntryPointRaised([&] { invoker.SCDisConnectReader(); }),
           EmptyEntryPointRaised(
               [&] { invoker.SCSendCmd(response, 0, response, sizeof response, &responseLength); }),
           EmptyEntryPointRaised([&] { invoker.SCGetErrorText(1); }),
       })
    if (!name.empty()) empty.push_back(name);
  return empty;
}

TEST(ReaderBinding, LoadedLibraryIsCalledWithTheArgumentsAndResults) {
  TReaderWorld world;
  world.Install("lurmScard.dll", "lurmScard.dll",
                "reader=Reader A\nreader=读卡器 2\nconnect=0x8010000C 读卡器 2\n"
                "connectdefault=7\nerrortext=卡片错误\n");
  TLURMScardInvoker invoker(world.HostPathOf("lurmScard.dll"));
  ASSERT_TRUE(invoker.Loaded());
  EXPECT_NE(invoker.DllHandle(), 0u);
  EXPECT_EQ(invoker.DllPath().View(), world.PathOf("lurmScard.dll"));

  char list[kSCListBufferSize] = {};
  EXPECT_EQ(invoker.SCListReaders(list), 0);
  const char want[] = "Reader A\0读卡器 2\0";
  EXPECT_EQ(std::string(list, sizeof want), std::string(want, sizeof want));

  char out[kSCConnectBufferSize];
  EXPECT_EQ(invoker.SCConnectReader("读卡器 2", out), static_cast<int32_t>(0x8010000C));
  EXPECT_EQ(invoker.SCConnectReader("Reader A", out), 7);
  invoker.SCDisConnectReader();
  EXPECT_STREQ(invoker.SCGetErrorText(-2146435062), "卡片错误");

  EXPECT_EQ(world.TraceLines(), (Lines{"SCListReaders zeroed=1", "SCConnectReader name=读卡器 2",
                                       "SCConnectReader name=Reader A", "SCDisConnectReader",
                                       "SCGetErrorText code=-2146435062"}));
  EXPECT_EQ(EmptyEntryPoints(invoker), Lines{});
}

TEST(ReaderBinding, UnusableLibraryGivesALoadFailedBindingWhoseCallsRaise) {
  struct Case {
    const char* name;
    std::function<std::string()> fileContent;  // null: no file
    // On Windows: what the report says is wrong ("" when the system's description says
    // it), and the error numbers either system gives (Windows refuses an empty file with
    // 1006, Wine with 193).
    std::string problem;
    std::vector<std::string> windowsErrors;
  };
  const Case cases[] = {
    {"missing file", nullptr, "", {"126"}},
    {"text file with a library's name",
     [] { return std::string("this is not a library\r\n"); },
     "文件不是 Windows 库（没有 MZ/PE 文件头）",
     {"193"}},
    {"empty file",
     [] { return std::string(); },
     "文件为空（0 字节），不是可加载的库",
     {"1006", "193"}},
#if defined(_WIN32)
    {"library built for the other architecture",
     [] { return OtherArchitectureCopy(ReadBytes(ProgramFolder() / "lurmScard.dll")); },
     sizeof(void*) == 8 ? "库是为 32 位 x86 程序编译的，本程序为 64 位 x64，两者须一致"
                        : "库是为 64 位 x64 程序编译的，本程序为 32 位 x86，两者须一致",
     {"193", "216"}},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderWorld world;
    if (c.fileContent) WriteBytes(world.Path() / "lurmScard.dll", c.fileContent());
    TLURMScardInvoker invoker(world.HostPathOf("lurmScard.dll"));
    EXPECT_FALSE(invoker.Loaded());
    EXPECT_EQ(invoker.DllHandle(), 0u);
    EXPECT_EQ(EmptyEntryPoints(invoker),
              (Lines{"SCListReaders", "SCConnectReader", "SCDisConnectReader", "SCSendCmd",
                     "SCGetErrorText"}));
    // The report names the function, the file and the reason for the failed load.
    try {
      invoker.SCDisConnectReader();
      ADD_FAILURE() << "called";
    } catch (const EmptyEntryPointError& e) {
      EXPECT_FALSE(e.LibraryLoaded());
      const std::string text = e.what();
      const std::string head = "读卡器库未能加载，无法调用函数 SCDisConnectReader：" +
                               world.PathOf("lurmScard.dll") + "，";
      EXPECT_EQ(text.substr(0, head.size()), head);
      EXPECT_GT(text.size(), head.size()) << text;
      // The binding keeps the same file and reason for the host log.
      EXPECT_EQ(invoker.LoadFailure(),
                world.PathOf("lurmScard.dll") + "，" + text.substr(head.size()));
#ifdef _WIN32
      // A system text's insert is filled, never shown as it stands.
      EXPECT_EQ(text.find("%1"), std::string::npos) << text;
      std::string reason = text.substr(head.size());
      if (!c.problem.empty()) {
        EXPECT_EQ(reason.substr(0, c.problem.size() + std::string("，").size()), c.problem + "，")
            << text;
        reason =
            reason.substr(std::min(reason.size(), c.problem.size() + std::string("，").size()));
      }
      const auto said =
          std::find_if(c.windowsErrors.begin(), c.windowsErrors.end(),
                       [&](const std::string& n) { return reason.rfind("系统错误 " + n, 0) == 0; });
      EXPECT_NE(said, c.windowsErrors.end()) << text;
#endif
    }
  }
}

TEST(ReaderBinding, MissingExportsStayEmptyAndRaiseWithoutACall) {
  struct Case {
    const char* name;
    const char* library;
    Lines empty;
  };
  const Case cases[] = {
      {"no SCGetErrorText", "lurmScard_noerrortext.dll", {"SCGetErrorText"}},
      {"only SCListReaders",
       "lurmScard_listonly.dll",
       {"SCConnectReader", "SCDisConnectReader", "SCSendCmd", "SCGetErrorText"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderWorld world;
    world.Install(c.library, "lurmScard_old.dll", "reader=R\n");
    TLURMScardInvoker invoker(world.HostPathOf("lurmScard_old.dll"));
    EXPECT_TRUE(invoker.Loaded());
    EXPECT_EQ(EmptyEntryPoints(invoker), c.empty);
    try {
      invoker.SCGetErrorText(1);
      ADD_FAILURE() << "called";
    } catch (const EmptyEntryPointError& e) {
      EXPECT_TRUE(e.LibraryLoaded());
      EXPECT_STREQ(e.what(), "读卡器库缺少函数 SCGetErrorText");
    }
    // Only the exports the library has were called.
    Lines calls;
    for (const std::string& line : world.TraceLines())
      calls.push_back(line.substr(0, line.find(' ')));
    Lines want{"SCListReaders", "SCConnectReader", "SCDisConnectReader", "SCSendCmd"};
    std::erase_if(want, [&](const std::string& n) {
      return std::find(c.empty.begin(), c.empty.end(), n) != c.empty.end();
    });
    EXPECT_EQ(calls, want);
  }
}

TEST(ReaderBinding, EachBindingReleasesItsOwnLoadExactlyOnce) {
  TReaderWorld world;
  world.Install("lurmScard.dll", "lurmScard.dll");
  const std::string path = world.PathOf("lurmScard.dll");
  ASSERT_FALSE(IsLibraryLoaded(path));
  {
    TLURMScardInvoker first{HostString(path)};
    {
      TLURMScardInvoker second{HostString(path)};
      second.LoadDll();  // already loaded: must not take a second load
      TLURMScardInvoker failed(world.HostPathOf("absent.dll"));
      ASSERT_FALSE(failed.Loaded());
    }
    // The inner bindings released only their own loads.
    EXPECT_TRUE(IsLibraryLoaded(path));
    char list[kSCListBufferSize] = {};
    EXPECT_EQ(first.SCListReaders(list), 0);
  }
  EXPECT_FALSE(IsLibraryLoaded(path));
}

TEST(ReaderBinding, SimulatedListIsCutAtTheBufferAndRawBytesPassUntouched) {
  TReaderWorld world;
  // 1030 bytes configured, no NUL: the library must stop at the 1024-byte buffer.
  std::string hex;
  for (int i = 0; i < 1030; ++i) hex += "A1";
  world.Install("lurmScard.dll", "lurmScard.dll", "listhex=" + hex + "\nlistresult=-1\n");
  TLURMScardInvoker invoker(world.HostPathOf("lurmScard.dll"));
  char guarded[kSCListBufferSize + 16] = {};
  EXPECT_EQ(invoker.SCListReaders(guarded), -1);
  EXPECT_EQ(std::string(guarded, kSCListBufferSize), std::string(kSCListBufferSize, '\xA1'));
  EXPECT_EQ(std::string(guarded + kSCListBufferSize, 16), std::string(16, '\0'));
}

}  // namespace
