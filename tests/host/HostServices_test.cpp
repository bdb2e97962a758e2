// The host services as the module calls them (HostApi.h and the rs_host helpers), answered
// by the stand-in host from a host profile folder.
#include "host/HostServices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#if defined(_WIN32)
#include <windows.h>
#endif

#include "HostWorld.h"
#include "host/HostApi.h"
#include "host/HostMemory.h"

namespace {

constexpr int32_t kMsgReaderStored = 70000527;
constexpr int32_t kMsgErrorFormat = 70001008;

const char* const kCatalogue =
    "; test catalogue\r\n"
    "70000527=读卡器 %s 已设置为当前读卡器。\r\n"
    "70000530=读卡器连接测试成功。\r\n"
    "70001008=读卡器操作失败，错误代码：%s，错误说明：%s\r\n";

const char* const kHostIni =
    "[Host]\n"
    "AppHandle=0x1234\n"
    "MainFrameHandle=0\n"
    "[SubApp]\n"
    "Path=subapp\n"
    "Code=YB01\n"
    "FuncCode=YB0105\n"
    "[Skin]\n"
    "ModuleBackColor=0x00112233\n"
    "TopBarColor=$00445566\n"
    "SysFontColor=255\n"
    "SysFontSize=12\n"
    "SysFontCharSet=134\n";

const char* const kUserConfig = "[RunParameter]\nSysIME=中文 (简体) - 搜狗拼音输入法\n";

class HostServicesTest : public ::testing::Test {
 protected:
  HostWorld FWorld{
      {{"Host.ini", kHostIni}, {"Messages.txt", kCatalogue}, {"UserConfig.ini", kUserConfig}}};
  void SetUp() override { ASSERT_TRUE(FWorld.Opened()) << HostSim_LastError(); }
  std::string Transcript() const { return FWorld.Read("transcript.txt"); }
};

// The host log line: "YYYY-MM-DD hh:mm:ss [category] text".
void ExpectLogLine(const std::string& line, const std::string& categoryAndText) {
  ASSERT_GT(line.size(), 20u) << line;
  const std::string digits = "0123456789";
  for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) {
    EXPECT_NE(digits.find(line[i]), std::string::npos) << "position " << i << " of " << line;
  }
  EXPECT_EQ(line.substr(4, 1) + line.substr(7, 1) + line.substr(10, 1) + line.substr(13, 1) +
                line.substr(16, 1) + line.substr(19, 1),
            "-- :: ");
  EXPECT_EQ(line.substr(20), categoryAndText);
}

TEST_F(HostServicesTest, ErrorAppendsDatedLinesToTheHostLog) {
  // Error is stdcall and imported by its plain name; a wrong convention or name would not
  // link or would unbalance the stack here.
  Error("1", "获取读卡器列表发生错误，错误编号：2148532270");
  Error("1", "second\nline");
  std::string log = FWorld.Read("host.log");
  size_t firstEnd = log.find('\n');
  ASSERT_NE(firstEnd, std::string::npos) << log;
  ExpectLogLine(log.substr(0, firstEnd), "[1] 获取读卡器列表发生错误，错误编号：2148532270");
  ExpectLogLine(log.substr(firstEnd + 1, log.size() - firstEnd - 2), "[1] second\\nline");
  EXPECT_EQ(log.back(), '\n');
}

TEST_F(HostServicesTest, InforMsgIsRecordedWithItsParameterText) {
  ShowHostMsg(kMsgReaderStored, "ACS ACR38U 0");
  ShowHostMsg(70000530);
  EXPECT_EQ(Transcript(),
            "InforMsg 70000527 param=ACS ACR38U 0 text=读卡器 ACS ACR38U 0 已设置为当前读卡器。\n"
            "InforMsg 70000530 param= text=读卡器连接测试成功。\n");
}

TEST_F(HostServicesTest, ParameterTextIsCutTo255Bytes) {
  std::string longName(300, 'R');
  ShowHostMsg(kMsgReaderStored, longName);
  std::string cut(255, 'R');
  EXPECT_EQ(Transcript(),
            "InforMsg 70000527 param=" + cut + " text=读卡器 " + cut + " 已设置为当前读卡器。\n");
  EXPECT_EQ(MakeShortText(longName).Length, 255);
  EXPECT_EQ(MakeShortText("读卡器").Length, 6);
}

TEST_F(HostServicesTest, ParameterTextIsCutAtACharacterBoundary) {
  // "读" is B6 C1 and "淺" 9C 5C in code page 936: lead bytes are 0x81 to 0xFE.
  auto repeat = [](std::string_view unit, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += unit;
    return out;
  };
  struct Case {
    const char* name;
    std::string text;
    size_t wantLength;
  };
  const Case cases[] = {
      {"single bytes are cut at 255", std::string(300, 'R'), 255},
      {"128 double-byte characters lose the lead byte at 255", repeat("读", 128), 254},
      {"a trail byte at 255 keeps the character", "R" + repeat("读", 128), 255},
      {"trail bytes 0x5C count as trail bytes", repeat("淺", 130), 254},
      {"a lead byte at 255 before a blank is cut as well", std::string(254, 'R') + "\xB6 ", 254},
      {"255 bytes are kept whole", std::string(253, 'R') + "读", 255},
      {"a shorter name ending in a lead byte is kept whole", "R\xB6", 2},
      {"empty", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TShortText shortText = MakeShortText(c.text);
    ASSERT_EQ(shortText.Length, c.wantLength);
    EXPECT_EQ(std::string(shortText.Chars, shortText.Length), c.text.substr(0, c.wantLength));
  }
}

TEST_F(HostServicesTest, TranscriptKeepsDoubleByteCharactersWhole) {
  // "淺" is 9C 5C: its trail byte is a backslash, which the transcript must not double.
  ShowHostMsg(kMsgReaderStored, "淺名\\");
  EXPECT_EQ(Transcript(),
            "InforMsg 70000527 param=淺名\\\\ text=读卡器 淺名\\\\ 已设置为当前读卡器。\n");
}

TEST_F(HostServicesTest, GetMsgReturnsTheFormatUnfilled) {
  HostString format = HostMsgText(kMsgErrorFormat);
  EXPECT_EQ(format.View(), "读卡器操作失败，错误代码：%s，错误说明：%s");
  EXPECT_EQ(Transcript(), "GetMsg 70001008 param=\n");
}

TEST_F(HostServicesTest, UnknownMessageIdIsShownAsSuch) {
  ShowHostMsg(70009999);
  EXPECT_EQ(Transcript(), "InforMsg 70009999 param= text=消息 70009999 不在消息目录中\n");
}

TEST_F(HostServicesTest, InfoMsgBoxRecordsTheBuiltTextOnOneLine) {
  ShowHostText(HostString("代码：8010000A\r\n超时\\"));
  EXPECT_EQ(Transcript(), "InfoMsgBox kind=0 text=代码：8010000A\\r\\n超时\\\\\n");
}

TEST_F(HostServicesTest, TextsComeFromTheProfile) {
  const char sep = FWorld.Dir().find('\\') != std::string::npos ? '\\' : '/';
  EXPECT_EQ(CurSubAppPath().View(), FWorld.Dir() + sep + "subapp" + sep);
  EXPECT_EQ(AppPath().View(), FWorld.Dir() + sep);
  EXPECT_EQ(CurSubAppCode().View(), "YB01");
  EXPECT_EQ(CurFuncCode().View(), "YB0105");
}

TEST_F(HostServicesTest, SkinAndHandlesComeFromTheProfile) {
  EXPECT_EQ(gclModuleBackColor(), 0x00112233u);
  EXPECT_EQ(gclTopBarColor(), 0x00445566u);
  EXPECT_EQ(gclSysFontColor(), 255u);
  EXPECT_EQ(giSysFontSize(), 12);
  EXPECT_EQ(giSysFontCharSet(), 134);
  EXPECT_EQ(GetAppHandle(), 0x1234u);
  EXPECT_EQ(GetMainFrameHandle(), 0u);
  HostSim_SetHandles(0x88, 0x99);
  EXPECT_EQ(GetAppHandle(), 0x88u);
  EXPECT_EQ(GetMainFrameHandle(), 0x99u);
}

TEST_F(HostServicesTest, HostObjectsAreStableReferences) {
  void* user = GetUserInfoVO();
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(GetUserInfoVO(), user);
  EXPECT_NE(GetCompanyInfoVO(), nullptr);
  EXPECT_NE(GetCompanyInfoVO(), user);
  EXPECT_NE(GetCurSubAppInfo(), nullptr);
  EXPECT_NE(GetCurSubAppVo(), nullptr);
}

TEST_F(HostServicesTest, UserConfigOrDefault) {
  struct Case {
    const char* name;
    const char* section;
    const char* key;
    const char* want;
  };
  const Case cases[] = {
      {"configured value", "RunParameter", "SysIME", "中文 (简体) - 搜狗拼音输入法"},
      {"names ignore letter case", "runparameter", "SYSIME", "中文 (简体) - 搜狗拼音输入法"},
      {"missing key gives the default", "RunParameter", "Other", "default"},
      {"missing section gives the default", "Nothing", "SysIME", "default"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UserConfigParam(c.section, c.key, "default").View(), c.want);
  }
}

TEST_F(HostServicesTest, StringsCrossTheBoundaryBothWays) {
  // The module's string in *result is released by the host, which writes its own; the
  // module then releases the host's. Both come from the shared allocator.
  HostStr slot = HostStrNew("module text", 11);
  GetCurSubAppCode(&slot);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(std::string(slot, HostStrLength(slot)), "YB01");
  HostStrRelease(slot);

  // The default handed back shares the caller's block with one more reference.
  HostString fallback("fallback");
  HostString got = UserConfigParam("Nothing", "Nothing", fallback);
  EXPECT_EQ(got.Get(), fallback.Get());
  EXPECT_EQ(HostStrHeaderOf(fallback.Get())->RefCount, 2);
}

#if defined(_WIN32)
// Run on its own by the test below, in a process of its own whose heap warnings are off:
// frees a block the shared heap does not own, then copies the host log to the file that
// RS_REFUSED_FREE_LOG names.
TEST_F(HostServicesTest, DISABLED_FreesABlockTheHeapDoesNotOwn) {
  const char* copy = std::getenv("RS_REFUSED_FREE_LOG");
  ASSERT_NE(copy, nullptr);
  alignas(16) static char notFromTheHeap[64];
  HostFree(notFromTheHeap + 16);
  std::ofstream(copy, std::ios::binary) << FWorld.Read("host.log");
}

TEST_F(HostServicesTest, ABlockTheSharedHeapRefusesToFreeIsWrittenToTheHostLog) {
  // In a process of its own, with Wine's heap warnings off there: the refusal is meant.
  const std::string copy = FWorld.Path("refused-free.log");
  const std::string exe = [] {
    char path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n);
  }();
  std::string command = "\"" + exe +
                        "\" --gtest_also_run_disabled_tests "
                        "--gtest_filter=HostServicesTest.DISABLED_FreesABlockTheHeapDoesNotOwn";
  SetEnvironmentVariableA("RS_REFUSED_FREE_LOG", copy.c_str());
  SetEnvironmentVariableA("WINEDEBUG", "-all");
  // The child's GoogleTest must not remove this program's premature-exit file as it ends.
  char exitFile[MAX_PATH * 4] = "";
  const DWORD exitFileLength =
      GetEnvironmentVariableA("TEST_PREMATURE_EXIT_FILE", exitFile, sizeof exitFile);
  SetEnvironmentVariableA("TEST_PREMATURE_EXIT_FILE", nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  const BOOL started = CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                                      nullptr, nullptr, &startup, &child);
  SetEnvironmentVariableA("RS_REFUSED_FREE_LOG", nullptr);
  SetEnvironmentVariableA("WINEDEBUG", nullptr);
  if (exitFileLength > 0 && exitFileLength < sizeof exitFile)
    SetEnvironmentVariableA("TEST_PREMATURE_EXIT_FILE", exitFile);
  ASSERT_TRUE(started);
  ASSERT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeProcess(child.hProcess, &exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_EQ(exitCode, 0u);
  std::ifstream in(copy, std::ios::binary);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // "... [1] 释放共享内存块失败（不是共享堆的块，或已释放）：HeapFree <address>，系统错误 <n>"
  EXPECT_NE(log.find("[1] 释放共享内存块失败（不是共享堆的块，或已释放）：HeapFree "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("，系统错误 "), std::string::npos) << log;
}
#endif

}  // namespace
