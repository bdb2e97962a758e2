// The reader settings dialog with a reader library that breaks its contract: it writes
// past the buffers it is given, or raises a processor fault. The host process survives,
// each call fails as an exception of that call, and the dialog keeps working.
#include <gtest/gtest.h>

#include "ReaderDialogWorld.h"
#include "platform/FaultGuard.h"
#include "settings/f_option.h"
#include "toolkit/UserInput.h"

namespace {

using Lines = std::vector<std::string>;
using Messages = std::vector<TShownMessage>;

TEST(ReaderLibraryFaults, ContainmentIsThereInBothBuilds) {
  // 32-bit Windows and POSIX; the rows below with processor faults rely on it.
  EXPECT_TRUE(FaultContainmentAvailable());
}

TEST(ReaderLibraryFaults, BrokenCallsFailAsThatCallAndTheDialogGoesOn) {
  // The code 0x8010000A is outside the message table, so its text is asked of the library.
  const std::string kUnknownCode = "SCGetErrorText code=" + std::to_string(int32_t(0x8010000A));
  struct Case {
    const char* name;
    Lines config;  // of the faulty simulated library
    bool processorFault;
    Lines wantLines;
    Lines wantEvents;       // reader calls and host messages, in order
    const char* wantError;  // what each general error report names; null: no report
  };
  const Case cases[] = {
      {"list buffer written one byte past",
       {"reader=A", "reader=B", "listoverrun=1"},
       false,
       {},
       {"SCListReaders zeroed=1", "msg 70000995", "msg 70000529", "msg 70000529", "msg 70000528"},
       nullptr},
      {"list buffer written past by the whole guard",
       {"reader=A", "listoverrun=65536"},
       false,
       {},
       {"SCListReaders zeroed=1", "msg 70000995", "msg 70000529", "msg 70000529", "msg 70000528"},
       nullptr},
      {"connect area written one byte past",
       {"reader=R", "connectoverrun=1"},
       false,
       {"R"},
       {"SCListReaders zeroed=1", "SCConnectReader name=R", "SCDisConnectReader",
        "SCConnectReader name=R", "SCDisConnectReader", "msg 70000527"},
       "SCConnectReader"},
      {"connect area written past by the whole guard",
       {"reader=R", "connectoverrun=65536"},
       false,
       {"R"},
       {"SCListReaders zeroed=1", "SCConnectReader name=R", "SCDisConnectReader",
        "SCConnectReader name=R", "SCDisConnectReader", "msg 70000527"},
       "SCConnectReader"},
      {"processor fault in SCListReaders",
       {"reader=A", "fault=SCListReaders"},
       true,
       {},
       {"SCListReaders zeroed=1", "SCListReaders fault", "msg 70000995", "msg 70000529",
        "msg 70000529", "msg 70000528"},
       nullptr},
      // The connect call never returned, so there is nothing to disconnect.
      {"processor fault in SCConnectReader",
       {"reader=R", "fault=SCConnectReader"},
       true,
       {"R"},
       {"SCListReaders zeroed=1", "SCConnectReader name=R", "SCConnectReader fault",
        "SCConnectReader name=R", "SCConnectReader fault", "msg 70000527"},
       "SCConnectReader"},
      {"processor fault in SCGetErrorText",
       {"reader=R", "connectdefault=0x8010000A", "fault=SCGetErrorText"},
       true,
       {"R"},
       {"SCListReaders zeroed=1", "SCConnectReader name=R", kUnknownCode, "SCGetErrorText fault",
        "SCDisConnectReader", "SCConnectReader name=R", kUnknownCode, "SCGetErrorText fault",
        "SCDisConnectReader", "msg 70000527"},
       "SCGetErrorText"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.InstallReader("lurmScard_old.dll", c.config, "lurmScard_faulty.dll");
    world.Open();
    Lines lines;
    world.Run([&](Tfrm_option& dlg) {
      lines = dlg.ListBox->Lines();
      UserClick(*dlg.btn_connect);
      UserClick(*dlg.btn_connect);
      UserClick(*dlg.btn_reader);  // the dialog still stores a choice
    });
    EXPECT_EQ(lines, c.wantLines);
    EXPECT_EQ(world.Events(), c.wantEvents);
    EXPECT_TRUE(world.LogLines().empty());
    if (c.wantError == nullptr) {
      EXPECT_EQ(world.Errors(), Lines{});
    } else {
      ASSERT_EQ(world.Errors().size(), 2u);
      for (const std::string& error : world.Errors()) {
        EXPECT_NE(error.find(c.wantError), std::string::npos) << error;
        if (c.processorFault) {
          EXPECT_NE(error.find("C0000005"), std::string::npos) << error;
        }
      }
    }
    // A second dialog on the same library starts afresh.
    world.Run([&](Tfrm_option& dlg) { lines = dlg.ListBox->Lines(); });
    EXPECT_EQ(lines, c.wantLines);
  }
}

TEST(ReaderLibraryFaults, LongDoubleByteNameIsCutAtACharacterOnlyInTheMessage) {
  // 128 characters of two bytes: byte 255 is a lead byte, so the message takes 254 bytes.
  std::string name;
  for (int i = 0; i < 128; ++i) name += "读";
  TReaderDialogWorld world;
  world.InstallReader("lurmScard_old.dll", {"reader=" + name});
  world.Open();
  world.Run([](Tfrm_option& dlg) { UserClick(*dlg.btn_reader); });
  EXPECT_EQ(world.Param(), name);
  EXPECT_EQ(world.StoredReader(), name);
  EXPECT_EQ(world.Messages(), (Messages{{kMsgReaderStored, name.substr(0, 254)}}));
}

}  // namespace
