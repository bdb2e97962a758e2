// What the operator reads in the toolkit's error box when the dialog meets a failure of
// its own making: Chinese first, then the function, the code or the system's error.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "ReaderDialogWorld.h"
#include "platform/ErrorTexts.h"
#include "settings/f_option.h"
#include "toolkit/UserInput.h"

namespace {

using Lines = std::vector<std::string>;

// True when text is head followed by a tail that tailOk accepts.
bool HasHeadAndTail(const std::string& text, const std::string& head,
                    const std::function<bool(const std::string&)>& tailOk) {
  return text.compare(0, head.size(), head) == 0 && tailOk(text.substr(head.size()));
}

bool HexDigits(const std::string& s) {
  return s.size() >= 8 &&
         s.find_first_not_of("0123456789ABCDEF") == std::string::npos;  // upper case only
}

// "<decimal>" or "<decimal>：<the system's description>"
bool SystemErrorTail(const std::string& s) {
  size_t digits = 0;
  while (digits < s.size() && std::isdigit(static_cast<unsigned char>(s[digits]))) ++digits;
  if (digits == 0) return false;
  return digits == s.size() || s.compare(digits, std::string("：").size(), "：") == 0;
}

bool Nothing(const std::string& s) { return s.empty(); }

TEST(ErrorReports, EachFailureTheOperatorCanMeetIsReportedInChinese) {
  struct Case {
    const char* name;
    const char* variant;  // simulated library file, installed as "lurmScard_old.dll"
    Lines config;
    std::function<void(TReaderDialogWorld&)> prepare;  // before the dialog opens
    bool select;                                       // press "选择", else "测试连接"
    std::string head;                                  // the report's fixed start
    std::function<bool(const std::string&)> tailOk;
  };
  const Case cases[] = {
      {"connect function missing",
       "lurmScard_listonly.dll",
       {"reader=R"},
       nullptr,
       false,
       "读卡器库缺少函数 SCConnectReader",
       Nothing},
      {"error text function missing",
       "lurmScard_noerrortext.dll",
       {"reader=R", "connectdefault=0x8010000A"},
       nullptr,
       false,
       "读卡器库缺少函数 SCGetErrorText",
       Nothing},
      {"connect area overrun",
       "lurmScard_faulty.dll",
       {"reader=R", "connectoverrun=1"},
       nullptr,
       false,
       "读卡器库函数写入越过缓冲区末尾 SCConnectReader，缓冲区 256 字节",
       Nothing},
      {"processor fault in the connect call",
       "lurmScard_faulty.dll",
       {"reader=R", "fault=SCConnectReader"},
       nullptr,
       false,
       "库函数执行时发生处理器异常，调用已中止 SCConnectReader，异常代码 C0000005，地址 ",
       HexDigits},
      {"UserConfig.ini cannot be written",
       "lurmScard.dll",
       {"reader=R"},
       [](TReaderDialogWorld& w) {
         std::filesystem::create_directory(w.SubAppDir() / "UserConfig.ini");
       },
       true,
       "配置文件无法写入 ",
       [](const std::string& tail) {
         // "<path>UserConfig.ini，<operation> 失败，系统错误 <n>：<description>"
         const std::string file = "UserConfig.ini，", mark = " 失败，系统错误 ";
         const size_t name = tail.find(file), at = tail.find(mark);
         return name != std::string::npos && at != std::string::npos && at > name + file.size() &&
                SystemErrorTail(tail.substr(at + mark.size()));
       }},
      // A name that ends in a lone lead byte has no UTF-16 form for a UTF-16 file.
      {"reader name not valid for a UTF-16 UserConfig.ini",
       "lurmScard.dll",
       {"reader=R\x81"},
       [](TReaderDialogWorld& w) {
         w.WriteSubAppFile("UserConfig.ini", std::string("\xFF\xFE[\0a\0]\0\r\0\n\0", 12));
       },
       true,
       "配置项无法写入配置文件：名称或值含有系统代码页以外的字符，无法写入 UTF-16 文件",
       Nothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.InstallReader("lurmScard_old.dll", c.config, c.variant);
    if (c.prepare) c.prepare(world);
    world.Open();
    world.Run([&](Tfrm_option& dlg) {
      UserClick(c.select ? static_cast<TControl&>(*dlg.btn_reader) : *dlg.btn_connect);
    });
    ASSERT_EQ(world.Errors().size(), 1u);
    EXPECT_TRUE(HasHeadAndTail(world.Errors()[0], c.head, c.tailOk))
        << world.Errors()[0] << "\nwanted to start with: " << c.head;
  }
}

}  // namespace

TEST(ErrorReports, CodesAreWrittenInUpperCaseHexadecimalOfTheWidthAsked) {
  struct Case {
    uint64_t value;
    int width;
    const char* want;
  };
  const Case cases[] = {
      {0, 8, "00000000"},
      {0x7B, 8, "0000007B"},
      {0xC0000005, 8, "C0000005"},
      {0x8010000A, 8, "8010000A"},
      {0xFFFFFFFF, 8, "FFFFFFFF"},
      {0x7B, 1, "7B"},
      {0, 1, "0"},
      {0x123456789ABCDEF0, 8, "123456789ABCDEF0"},
      {0xFFFFFFFFFFFFFFFF, 1, "FFFFFFFFFFFFFFFF"},
      {0x5, 20, "0000000000000005"},  // never more than 16 digits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(errortext::HexCode(c.value, c.width), c.want);
  }
}
