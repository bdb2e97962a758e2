// Reader tools against the stand-in host (catalogue, transcript, parameter list) and the
// simulated reader library. The library's trace and the host's transcript go to one
// file, so the order of library and host calls shows in it.
#include "reader/tools_lurm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../host/HostWorld.h"
#include "HostProfile.h"
#include "ReaderWorld.h"
#include "util/ParamList.h"

namespace {

using Lines = std::vector<std::string>;

const char kCatalogue[] =
    "70000901=状态 9000\n70000902=状态 61XX\n70000910=状态 63CX\n70000923=认证被锁定\n"
    "70000966=共享冲突\n70000967=没有卡\n70000968=未知卡\n70000984=没有服务\n"
    "70000985=服务已停止\n70000986=没有读卡器\n70000987=不支持的卡\n70000988=卡无响应\n"
    "70000989=卡未上电\n70000990=卡已复位\n70000991=卡已移除\n70000992=代码 123\n"
    "70001008=读卡器操作失败，错误代码：%s，错误说明：%s\n";

// A sub-application folder with the simulated library installed as "lurmScard_old.dll",
// and a host whose sub-application directory it is.
class ReaderTools : public ::testing::Test {
 protected:
  void OpenHost(const std::string& catalogue = kCatalogue,
                const std::string& library = "lurmScard.dll",
                const std::string& simConfig = "errortext=设备超时\n") {
    FHost = std::make_unique<HostWorld>(
        std::initializer_list<HostWorld::File>{
            {"Host.ini", "[SubApp]\nPath=" + FReader.Path().string() + "\n"},
            {"Messages.txt", catalogue}},
        false);
    FReader.Install(library, "lurmScard_old.dll");
    // One file for both: the library's trace and the host's transcript.
    FReader.Configure("lurmScard_old.dll",
                      simConfig + "\ntrace=" + FHost->Path("transcript.txt") + "\n");
    ASSERT_EQ(HostSim_Open(FHost->Dir().c_str()), 1) << HostSim_LastError();
    FInvoker = std::make_unique<TLURMScardInvoker>(FReader.HostPathOf("lurmScard_old.dll"));
  }
  Lines Calls() const { return ReadRecordedLines(FHost->Path("transcript.txt")); }

  TReaderWorld FReader;
  std::unique_ptr<HostWorld> FHost;
  std::unique_ptr<TLURMScardInvoker> FInvoker;
};

TEST_F(ReaderTools, ServerTypeChoosesFromSysConfig) {
  struct Case {
    const char* name;
    const char* sysConfig;  // null: no file
    bool want;
  };
  const Case cases[] = {
      {"exactly 99", "[system]\r\nServerType=99\r\n", true},
      {"blanks around", "[system]\r\n  ServerType =\t 99  \r\n", true},
      {"names in other letter case", "[SYSTEM]\r\nservertype=99\r\n", true},
      {"quoted", "[system]\r\nServerType=\"99\"\r\n", true},
      {"leading zero", "[system]\r\nServerType=099\r\n", false},
      {"trailing character", "[system]\r\nServerType=99a\r\n", false},
      {"inner blank", "[system]\r\nServerType=9 9\r\n", false},
      {"other value", "[system]\r\nServerType=98\r\n", false},
      {"empty", "[system]\r\nServerType=\r\n", false},
      {"key in another section", "[other]\r\nServerType=99\r\n[system]\r\nx=1\r\n", false},
      {"no section", "ServerType=99\r\n", false},
      {"no file", nullptr, false},
  };
  OpenHost();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = FReader.Path() / "SysConfig.ini";
    fs::remove(file);
    if (c.sysConfig != nullptr) WriteBytes(file, c.sysConfig);
    EXPECT_EQ(IsServerType99(), c.want);
  }
}

TEST_F(ReaderTools, CurrentReaderComesFromTheParameterList) {
  OpenHost();
  EXPECT_EQ(GetCurReader().View(), "");
  HostSim_AddParam("GLOBAL_NUVREADER", 1, "读卡器 1", nullptr);
  EXPECT_EQ(GetCurReader().View(), "读卡器 1");
}

TEST_F(ReaderTools, TableCodesShowTheirMessageAndAskNothingElse) {
  struct Case {
    const char* name;
    int32_t code;
    int32_t msgId;
  };
  const Case cases[] = {
      {"90 00", 0x9000, 70000901},
      {"61 00", 0x6100, 70000902},
      {"61 80", 0x6180, 70000902},
      {"61 FF", 0x61FF, 70000902},
      {"63 C0", 0x63C0, 70000910},
      {"63 CF", 0x63CF, 70000910},
      {"69 83", 0x6983, 70000923},
      {"UNKNOWN_READER", static_cast<int32_t>(0x80100009), 70000923},
      {"SHARING_VIOLATION", static_cast<int32_t>(0x8010000B), 70000966},
      {"NO_SMARTCARD", static_cast<int32_t>(0x8010000C), 70000967},
      {"UNKNOWN_CARD", static_cast<int32_t>(0x8010000D), 70000968},
      {"NO_SERVICE", static_cast<int32_t>(0x8010001D), 70000984},
      {"SERVICE_STOPPED", static_cast<int32_t>(0x8010001E), 70000985},
      {"NO_READERS_AVAILABLE", -2146435026, 70000986},
      {"UNSUPPORTED_CARD", static_cast<int32_t>(0x80100065), 70000987},
      {"UNRESPONSIVE_CARD", static_cast<int32_t>(0x80100066), 70000988},
      {"UNPOWERED_CARD", static_cast<int32_t>(0x80100067), 70000989},
      {"RESET_CARD", static_cast<int32_t>(0x80100068), 70000990},
      {"REMOVED_CARD", static_cast<int32_t>(0x80100069), 70000991},
      {"123", 123, 70000992},
  };
  OpenHost();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(FHost->Path("transcript.txt"));
    ShowReaderError(c.code, *FInvoker);
    const Lines calls = Calls();
    ASSERT_EQ(calls.size(), 1u) << testing::PrintToString(calls);
    EXPECT_EQ(calls[0].substr(0, calls[0].find(" text=")),
              "InforMsg " + std::to_string(c.msgId) + " param=");
  }
}

TEST_F(ReaderTools, OtherCodesAskTheLibraryThenTheCatalogueFormat) {
  struct Case {
    const char* name;
    int32_t code;
    const char* hex;
  };
  const Case cases[] = {
      {"1", 1, "00000001"},
      {"TIMEOUT", static_cast<int32_t>(0x8010000A), "8010000A"},
      {"SECURITY_VIOLATION", static_cast<int32_t>(0x8010006A), "8010006A"},
      {"-1", -1, "FFFFFFFF"},
      {"below 61 00", 0x60FF, "000060FF"},
      {"above 61 FF", 0x6200, "00006200"},
      {"below 63 C0", 0x63BF, "000063BF"},
      {"above 63 CF", 0x63D0, "000063D0"},
      {"beside 69 83", 0x6984, "00006984"},
      {"beside 90 00", 0x9001, "00009001"},
      {"122", 122, "0000007A"},
      {"124", 124, "0000007C"},
      {"between PC/SC codes", static_cast<int32_t>(0x80100064), "80100064"},
      {"unsigned reading of 0x9000", static_cast<int32_t>(0xFFFF9000), "FFFF9000"},
      {"lowest", INT32_MIN, "80000000"},
  };
  OpenHost();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(FHost->Path("transcript.txt"));
    ShowReaderError(c.code, *FInvoker);
    EXPECT_EQ(Calls(),
              (Lines{"SCGetErrorText code=" + std::to_string(c.code), "GetMsg 70001008 param=",
                     std::string("InfoMsgBox kind=0 text=读卡器操作失败，错误代码：") + c.hex +
                         "，错误说明：设备超时"}));
  }
}

TEST_F(ReaderTools, NullLibraryTextIsEmpty) {
  OpenHost(kCatalogue, "lurmScard.dll", "nullerrortext=1\n");
  ShowReaderError(1, *FInvoker);
  EXPECT_EQ(Calls().back(),
            "InfoMsgBox kind=0 text=读卡器操作失败，错误代码：00000001，错误说明：");
}

TEST_F(ReaderTools, ALongLibraryTextIsCutAtACharacterBoundary) {
  // The operator's box shows at most 1024 bytes of the library's text, never half a
  // double-byte character at the end.
  const std::string han = "汉";  // one double-byte character
  ASSERT_EQ(han.size(), 2u);
  auto repeat = [](const std::string& unit, size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) text += unit;
    return text;
  };
  struct Case {
    const char* name;
    std::string library;
    std::string shown;
  };
  const Case cases[] = {
      {"a character across the bound", repeat("a", 1023) + han + "b", repeat("a", 1023)},
      {"a character ending at the bound", repeat("a", 1022) + han + "b", repeat("a", 1022) + han},
      {"double-byte characters only", repeat(han, 600), repeat(han, 512)},
      {"odd start, double-byte after", "a" + repeat(han, 600), "a" + repeat(han, 511)},
      {"exactly the bound", repeat("a", 1024), repeat("a", 1024)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenHost(kCatalogue, "lurmScard.dll", "errortext=" + c.library + "\n");
    ShowReaderError(1, *FInvoker);
    EXPECT_EQ(Calls().back(),
              "InfoMsgBox kind=0 text=读卡器操作失败，错误代码：00000001，错误说明：" + c.shown);
    FInvoker.reset();
    FHost.reset();
  }
}

TEST_F(ReaderTools, FormatNotTakingTwoTextsShowsAPlainText) {
  struct Case {
    const char* name;
    const char* format;
  };
  const Case cases[] = {
      {"%n", "错误 %n%s%s"},      {"three texts", "%s%s%s"}, {"one text", "错误 %s"},
      {"no text", "错误"},        {"number", "%d %s"},       {"lone percent at the end", "%s %s %"},
      {"width", "%999999999s%s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenHost(std::string("70001008=") + c.format + "\n");
    ShowReaderError(static_cast<int32_t>(0x8010000A), *FInvoker);
    EXPECT_EQ(Calls().back(), "InfoMsgBox kind=0 text=8010000A 设备超时");
    FInvoker.reset();
    FHost.reset();
  }
}

TEST_F(ReaderTools, MissingErrorTextExportFailsOnlyTheFallback) {
  OpenHost(kCatalogue, "lurmScard_noerrortext.dll");
  EXPECT_THROW(ShowReaderError(1, *FInvoker), EmptyEntryPointError);
  EXPECT_EQ(Calls(), Lines{});  // neither the catalogue format nor a message
  ShowReaderError(123, *FInvoker);
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(Calls()[0].substr(0, 18), "InforMsg 70000992 ");
}

TEST(CatalogueFormat, FillsOnlyTextPlaceholders) {
  struct Case {
    const char* name;
    const char* format;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"two texts", "A%sB%sC", "A<1>B<2>C"},
      {"percent signs", "%%%s%%%s%%", "%<1>%<2>%"},
      {"texts side by side", "%s%s", "<1><2>"},
      {"double-byte text around", "错误：%s，%s。", "错误：<1>，<2>。"},
      {"%n", "%n%s%s", std::nullopt},
      {"%d", "%s%d", std::nullopt},
      {"upper-case S", "%S%s", std::nullopt},
      {"flags and width", "%-5s%s", std::nullopt},
      {"huge width", "%2147483647s%s", std::nullopt},
      {"positional", "%1$s%2$s", std::nullopt},
      {"lone percent", "%s%s%", std::nullopt},
      {"three texts", "%s%s%s", std::nullopt},
      {"one text", "%s", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FillCatalogueFormat(c.format, {"<1>", "<2>"}), c.want);
  }
  // Arguments are inserted as they are, never read as formats.
  EXPECT_EQ(FillCatalogueFormat("%s|%s", {"%s%n", "%%"}), "%s%n|%%");
}

}  // namespace
