// The stand-in host's profile folder: parsing, defaults and clear errors.
#include "HostProfile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "HostWorld.h"
#include "host/HostString.h"

namespace {

TEST(HostProfile, MalformedFilesAreReportedByFileAndLine) {
  struct Case {
    const char* name;
    const char* file;
    const char* bytes;
    const char* wantInError;
  };
  const Case cases[] = {
      {"line without '='", "Host.ini", "[Host]\nMode=record\njunk\n", "Host.ini line 3"},
      {"key before any section", "Host.ini", "Mode=record\n", "Host.ini line 1"},
      {"unclosed section", "UserConfig.ini", "[RunParameter\n", "UserConfig.ini line 1"},
      {"unknown mode", "Host.ini", "[Host]\nMode=loud\n", "Mode"},
      {"colour not a number", "Host.ini", "[Skin]\nTopBarColor=blue\n", "TopBarColor"},
      {"character set out of range", "Host.ini", "[Skin]\nSysFontCharSet=300\n", "SysFontCharSet"},
      {"message id not a number", "Messages.txt", "7000052x=text\n", "Messages.txt line 1"},
      {"message without '='", "Messages.txt", "; ok\n70000527 text\n", "Messages.txt line 2"},
      {"message id twice", "Messages.txt", "70000527=a\n70000527=b\n", "given twice"},
      {"UTF-8 catalogue", "Messages.txt",
       "\xEF\xBB\xBF"
       "70000527=a\n",
       "GB2312"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostWorld world({{c.file, c.bytes}});
    EXPECT_FALSE(world.Opened());
    EXPECT_NE(std::string(HostSim_LastError()).find(c.wantInError), std::string::npos)
        << HostSim_LastError();
    // The host goes on with its defaults.
    EXPECT_NE(GetCurSubAppVo(), nullptr);
    EXPECT_EQ(giSysFontCharSet(), 134);
  }
}

TEST(HostProfile, MissingFolderIsAClearError) {
  EXPECT_EQ(HostSim_Open("/no/such/host/profile/folder"), 0);
  EXPECT_NE(std::string(HostSim_LastError()).find("not found"), std::string::npos);
  EXPECT_EQ(HostSim_Open(nullptr), 0);
  HostSim_Close();
}

TEST(HostProfile, EmptyFolderGivesDefaults) {
  HostWorld world;
  ASSERT_TRUE(world.Opened()) << HostSim_LastError();
  EXPECT_STREQ(HostSim_LastError(), "");
  EXPECT_EQ(std::string(HostSim_TranscriptPath()), world.Path("transcript.txt"));
  EXPECT_EQ(std::string(HostSim_LogPath()), world.Path("host.log"));
  EXPECT_EQ(GetMainFrameHandle(), 0u);
  EXPECT_EQ(giSysFontSize(), 9);
  HostString path;
  GetCurSubAppPath(path.Out());
  ASSERT_FALSE(path.Empty());
  EXPECT_TRUE(path.View().back() == '/' || path.View().back() == '\\');
  HostString text;
  GetMsg(70000527, nullptr, true, text.Out());
  EXPECT_EQ(text.View(), "消息 70000527 不在消息目录中");
}

// The sub-application folder always ends in a separator: a double-byte character whose
// second byte is 0x5C is part of the folder's name, not its end.
TEST(HostProfile, SubApplicationPathEndsInTheSeparator) {
  const std::string sep(1, PathSeparator());
  struct Case {
    const char* name;
    const char* path;
    std::string want;  // after the profile folder
  };
  const Case cases[] = {
      {"no separator", "sub", "sub" + sep},
      {"a slash", "sub/", "sub/"},
      {"double-byte character ending in 0x5C", "\xD7\x5C", "\xD7\x5C" + sep},
      {"a backslash", "sub\\", "sub\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostWorld world({{"Host.ini", std::string("[SubApp]\nPath=") + c.path + "\n"}});
    ASSERT_TRUE(world.Opened()) << HostSim_LastError();
    HostString path;
    GetCurSubAppPath(path.Out());
    EXPECT_EQ(path.View(), world.Dir() + sep + c.want);
  }
}

TEST(HostProfile, CatalogueLines) {
  auto catalogue = ParseCatalogue(
      "; comment\r\n# comment\r\n\r\n70000527=a=b %s\r\n 70000530 = 成功 \n70000995=", "t");
  ASSERT_EQ(catalogue.size(), 3u);
  EXPECT_EQ(catalogue.at(70000527), "a=b %s");
  EXPECT_EQ(catalogue.at(70000530), " 成功");
  EXPECT_EQ(catalogue.at(70000995), "");
}

TEST(HostProfile, FillMsgText) {
  struct Case {
    const char* name;
    const char* format;
    const char* param;
    const char* want;
  };
  const Case cases[] = {
      {"parameter at its place", "读卡器 %s 已设置", "R1", "读卡器 R1 已设置"},
      {"every %s takes the parameter", "%s/%s", "x", "x/x"},
      {"doubled percent", "100%% %s", "ok", "100% ok"},
      {"lone percent at the end", "50%", "x", "50%"},
      {"other directive kept", "%d %s", "x", "%d x"},
      {"empty parameter", "a%sb", "", "ab"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FillMsgText(c.format, c.param), c.want);
  }
}

TEST(HostProfile, InitialParametersAndRecords) {
  HostWorld world(
      {{"Host.ini", "[User]\nName=操作员\n[Params]\nGlobal_nuvreader=ACS 0\nOther = x y \n"}});
  ASSERT_TRUE(world.Opened()) << HostSim_LastError();
  EXPECT_EQ(HostSim_ParamCount(), 2);
  HostString text;
  EXPECT_EQ(HostSim_GetParamText("GLOBAL_NUVREADER", text.Out()), 1);
  EXPECT_EQ(text.View(), "ACS 0");
  EXPECT_EQ(HostSim_GetParamText("other", text.Out()), 1);
  EXPECT_EQ(text.View(), "x y");
  EXPECT_EQ(HostSim_GetParamText("missing", text.Out()), 0);
}

TEST(HostProfile, InteractiveModeIsAccepted) {
  HostWorld world({{"Host.ini", "[Host]\nMode=Interactive\nTranscript=t.txt\nLog=sub/l.log\n"}});
  ASSERT_TRUE(world.Opened()) << HostSim_LastError();
  EXPECT_EQ(std::string(HostSim_TranscriptPath()), world.Path("t.txt"));
}

TEST(HostProfile, ShippedProfileHasEveryMessageTheModuleShows) {
  // The sample profile folder beside the programs.
  ASSERT_EQ(HostSim_Open("host-profile"), 1) << HostSim_LastError();
  const int32_t ids[] = {70000527, 70000528, 70000529, 70000530, 70000995, 70000901,
                         70000902, 70000910, 70000923, 70000966, 70000967, 70000968,
                         70000984, 70000985, 70000986, 70000987, 70000988, 70000989,
                         70000990, 70000991, 70000992, 70001008};
  for (int32_t id : ids) {
    SCOPED_TRACE(id);
    HostString text;
    GetMsg(id, nullptr, true, text.Out());
    EXPECT_EQ(text.View().find("不在消息目录中"), std::string_view::npos) << text.View();
    size_t placeholders = 0;
    for (size_t at = text.View().find("%s"); at != std::string_view::npos;
         at = text.View().find("%s", at + 2)) {
      ++placeholders;
    }
    EXPECT_EQ(placeholders, id == 70001008 ? 2u : (id == 70000527 ? 1u : 0u));
  }
  HostString ime;
  GetUserConfigParam(HostString("RunParameter").Get(), HostString("SysIME").Get(), nullptr,
                     ime.Out());
  EXPECT_EQ(ime.View(), "中文 (简体) - 搜狗拼音输入法");
  HostSim_Close();
}

}  // namespace

namespace {

TEST(HostProfile, TranscriptFieldsAreEscapedByCharacter) {
  // "淺" is 9C 5C (trail byte a backslash), "读" B6 C1; B6 alone is a lone lead byte.
  struct Case {
    const char* name;
    std::string text, escaped;
  };
  const Case cases[] = {
      {"backslash and line ends", "a\\b\r\nc", "a\\\\b\\r\\nc"},
      {"a trail byte 0x5C stays one byte", "淺名", "淺名"},
      {"a backslash after a double-byte character", "淺\\", "淺\\\\"},
      {"a lone lead byte before a line end", "\xB6\n读", "\\xB6\\n读"},
      {"a lone lead byte before a blank stays as it is", "\xB6 x", "\xB6 x"},
      {"a lone lead byte at the end", "x\xB6", "x\xB6"},
      {"text that looks like an escape", "\\xB6", "\\\\xB6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string field = EscapeLine(c.text);
    EXPECT_EQ(field, c.escaped);
    EXPECT_EQ(UnescapeLine(field), c.text);
  }
}

TEST(HostProfile, RecordedMessagesReadBackAsWritten) {
  // "读" is B6 C1 and "\xB5\x5C" a double-byte character whose trail byte is a backslash.
  const std::string param = "A\\B\r\n\xB5\x5C 读";
  const std::string text = "line one\nline two";
  struct Case {
    const char* name;
    std::string line;
    std::optional<TRecordedMessage> want;
  };
  const Case cases[] = {
      {"catalogue message",
       "InforMsg 70000527 param=" + EscapeLine(param) + " text=" + EscapeLine(text),
       TRecordedMessage{70000527, param, text}},
      {"empty parameter", "InforMsg 70000530 param= text=ok", TRecordedMessage{70000530, "", "ok"}},
      {"text the module built", "InfoMsgBox kind=0 text=" + EscapeLine(text),
       TRecordedMessage{0, "", text}},
      {"catalogue lookup is not a message", "GetMsg 70001008 param=", std::nullopt},
      {"skinning is not a message", "SetSkinSchemeCtrls", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto got = ParseRecordedMessage(c.line);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (!got) continue;
    EXPECT_EQ(got->Id, c.want->Id);
    EXPECT_EQ(got->Param, c.want->Param);
    EXPECT_EQ(got->Text, c.want->Text);
  }
}

}  // namespace
