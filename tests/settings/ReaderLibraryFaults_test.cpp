// The reader settings dialog with a reader library that breaks its contract: it writes
// past the buffers it is given, raises a processor fault (after leaving the floating-point
// units disturbed or overrunning its own stack), or returns with another calling
// convention's stack. The host process survives, each call fails as an exception of that
// call, the dialog keeps working, and a library that faulted is not called again.
#include <gtest/gtest.h>

#include "../reader/FloatState.h"
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
  // A second dialog on a library that did not fault starts afresh; on one that faulted the
  // listing fails at once, without a call.
  const Lines kFreshListing{"SCListReaders zeroed=1"};
  const Lines kRefusedListing{"msg 70000995"};
#if defined(_WIN32)
  const char* const kRaisedCode = "E0000001";
  const char* const kDelphiCode = "0EEDFADE";
#else
  const char* const kRaisedCode = "E06D7363";
  const char* const kDelphiCode = "E06D7363";
#endif
  // A C++ exception of the library's own (MinGW g++) runtime: GCC's unwinder code on x64.
#if defined(_WIN32) && defined(__x86_64__)
  const char* const kThrownCode = "20474343";
#elif !defined(_WIN32)
  const char* const kThrownCode = "E06D7363";
#endif
  struct Case {
    const char* name;
    Lines config;  // of the faulty simulated library
    Lines wantLines;
    Lines wantEvents;        // reader calls and host messages, in order
    const char* wantError;   // what each general error report names; null: no report
    const char* wantCode;    // the fault's code in each report; null: none
    bool wantRefusal;        // the second report says the library failed earlier
    Lines wantSecondDialog;  // events of a second dialog on the same library
    Lines wantSecondLines;
  };
  const Case cases[] = {
    {"list buffer written one byte past",
     {"reader=A", "reader=B", "listoverrun=1"},
     {},
     {"SCListReaders zeroed=1", "msg 70000995", "msg 70000529", "msg 70000529", "msg 70000528"},
     nullptr,
     nullptr,
     false,
     {"SCListReaders zeroed=1", "msg 70000995"},
     {}},
    {"list buffer written past by the whole guard",
     {"reader=A", "listoverrun=65536"},
     {},
     {"SCListReaders zeroed=1", "msg 70000995", "msg 70000529", "msg 70000529", "msg 70000528"},
     nullptr,
     nullptr,
     false,
     {"SCListReaders zeroed=1", "msg 70000995"},
     {}},
    {"connect area written one byte past",
     {"reader=R", "connectoverrun=1"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "SCDisConnectReader",
      "SCConnectReader name=R", "SCDisConnectReader", "msg 70000527"},
     "SCConnectReader",
     nullptr,
     false,
     kFreshListing,
     {"R"}},
    {"connect area written past by the whole guard",
     {"reader=R", "connectoverrun=65536"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "SCDisConnectReader",
      "SCConnectReader name=R", "SCDisConnectReader", "msg 70000527"},
     "SCConnectReader",
     nullptr,
     false,
     kFreshListing,
     {"R"}},
    {"processor fault in SCListReaders",
     {"reader=A", "fault=SCListReaders"},
     {},
     {"SCListReaders zeroed=1", "SCListReaders fault", "msg 70000995", "msg 70000529",
      "msg 70000529", "msg 70000528"},
     nullptr,
     nullptr,
     false,
     kRefusedListing,
     {}},
    // The connect call never returned, so there is nothing to disconnect; the second
    // click makes no call into the library.
    {"processor fault in SCConnectReader",
     {"reader=R", "fault=SCConnectReader"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "SCConnectReader fault", "msg 70000527"},
     "SCConnectReader",
     "C0000005",
     true,
     kRefusedListing,
     {}},
    {"x87 stack filled and control changed, then a fault in SCConnectReader",
     {"reader=R", "fault=SCConnectReader", "faultx87=1"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "SCConnectReader fault", "msg 70000527"},
     "SCConnectReader",
     "C0000005",
     true,
     kRefusedListing,
     {}},
    // Nor is the library called to disconnect once its error text faulted.
    {"processor fault in SCGetErrorText",
     {"reader=R", "connectdefault=0x8010000A", "fault=SCGetErrorText"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", kUnknownCode, "SCGetErrorText fault",
      "msg 70000527"},
     "SCGetErrorText",
     "C0000005",
     true,
     kRefusedListing,
     {}},
    {"own stack overrun by 320 bytes, then a fault in SCConnectReader",
     {"reader=R", "fault=SCConnectReader", "faultstackoverrun=320"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "SCConnectReader fault", "msg 70000527"},
     "SCConnectReader",
     "C0000005",
     true,
     kRefusedListing,
     {}},
    // Software exceptions out of the library's C interface are contained like processor
    // faults. Natively the simulated library throws a C++ exception whatever the code.
    {"C++ exception out of SCConnectReader",
     {"reader=R", "fault=SCConnectReader", "raise=0xE06D7363"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "SCConnectReader fault", "msg 70000527"},
     "SCConnectReader",
     "E06D7363",
     true,
     kRefusedListing,
     {}},
    {"Delphi exception out of SCListReaders",
     {"reader=A", "fault=SCListReaders", "raise=0x0EEDFADE"},
     {},
     {"SCListReaders zeroed=1", "SCListReaders fault", "msg 70000995", "msg 70000529",
      "msg 70000529", "msg 70000528"},
     nullptr,
     nullptr,
     false,
     kRefusedListing,
     {}},
    {"any raised exception out of SCGetErrorText",
     {"reader=R", "connectdefault=0x8010000A", "fault=SCGetErrorText", "raise=0xE0000001"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", kUnknownCode, "SCGetErrorText fault",
      "msg 70000527"},
     "SCGetErrorText",
     kRaisedCode,
     true,
     kRefusedListing,
     {}},
    // The connection test's outcome is shown before the disconnect, whose exception ends
    // the handler in the error box.
    {"Delphi exception out of SCDisConnectReader",
     {"reader=R", "fault=SCDisConnectReader", "raise=0x0EEDFADE"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "msg 70000530", "SCDisConnectReader",
      "SCDisConnectReader fault", "msg 70000527"},
     "SCDisConnectReader",
     kDelphiCode,
     true,
     kRefusedListing,
     {}},
#if !(defined(_WIN32) && defined(__i386__))
    // A C++ exception of the library's own runtime: through a frame whose destructor runs
    // (and traces) before the call is abandoned, or from one with nothing to clean up. On
    // x86 such an exception never reaches the guard: the host ends (ReaderBinding tests).
    {"C++ exception of the library's runtime through a destructor in SCConnectReader",
     {"reader=R", "fault=SCConnectReader", "throw=destructor"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "SCConnectReader fault",
      "SCConnectReader unwound", "msg 70000527"},
     "SCConnectReader",
     kThrownCode,
     true,
     kRefusedListing,
     {}},
    {"C++ exception of the library's runtime through a destructor in SCDisConnectReader",
     {"reader=R", "fault=SCDisConnectReader", "throw=destructor"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "msg 70000530", "SCDisConnectReader",
      "SCDisConnectReader fault", "SCDisConnectReader unwound", "msg 70000527"},
     "SCDisConnectReader",
     kThrownCode,
     true,
     kRefusedListing,
     {}},
    {"C++ exception of the library's runtime out of SCListReaders",
     {"reader=A", "fault=SCListReaders", "throw=plain"},
     {},
     {"SCListReaders zeroed=1", "SCListReaders fault", "msg 70000995", "msg 70000529",
      "msg 70000529", "msg 70000528"},
     nullptr,
     nullptr,
     false,
     kRefusedListing,
     {}},
#endif
    // The text's address is bad: reading it is the library's fault, contained.
    {"SCGetErrorText returns the address 16",
     {"reader=R", "connectdefault=0x8010000A", "errortextaddress=16"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", kUnknownCode, "msg 70000527"},
     "SCGetErrorText",
     "C0000005",
     true,
     kRefusedListing,
     {}},
#if defined(_WIN32) && defined(__i386__)
    // The call returned with its arguments left on the stack: a failure of that call.
    {"cdecl SCConnectReader",
     {"reader=R", "cdecl=SCConnectReader"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "msg 70000527"},
     "SCConnectReader calling convention",
     nullptr,
     true,
     kRefusedListing,
     {}},
    {"cdecl SCListReaders",
     {"reader=A", "cdecl=SCListReaders"},
     {},
     {"SCListReaders zeroed=1", "msg 70000995", "msg 70000529", "msg 70000529", "msg 70000528"},
     nullptr,
     nullptr,
     false,
     kRefusedListing,
     {}},
    // The call returned with the dialog's frame pointer changed: put back, and a fault of
    // that call.
    {"SCConnectReader changes the frame pointer",
     {"reader=R", "breakebp=SCConnectReader"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "msg 70000527"},
     "SCConnectReader",
     nullptr,
     true,
     kRefusedListing,
     {}},
    // The call kept the frame pointer but overwrote the dialog's copies of it: a fault of
    // that call, named as what was found.
    {"SCConnectReader overwrites its caller's frame",
     {"reader=R", "breakcallerframe=SCConnectReader"},
     {"R"},
     {"SCListReaders zeroed=1", "SCConnectReader name=R", "msg 70000527"},
     "SCConnectReader",
     nullptr,
     true,
     kRefusedListing,
     {}},
    {"SCListReaders changes the frame pointer",
     {"reader=A", "breakebp=SCListReaders"},
     {},
     {"SCListReaders zeroed=1", "msg 70000995", "msg 70000529", "msg 70000529", "msg 70000528"},
     nullptr,
     nullptr,
     false,
     kRefusedListing,
     {}},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TReaderDialogWorld world;
    world.InstallReader("lurmScard_old.dll", c.config, "lurmScard_faulty.dll");
    world.Open();
    const TFloatState floatBefore = ReadFloatState();
    Lines lines;
    world.Run([&](Tfrm_option& dlg) {
      lines = dlg.ListBox->Lines();
      UserClick(*dlg.btn_connect);
      UserClick(*dlg.btn_connect);
      UserClick(*dlg.btn_reader);  // the dialog still stores a choice
    });
    EXPECT_EQ(ReadFloatState(), floatBefore);
    EXPECT_EQ(ThreeTimesTwoPlusThreeHalves(), 7.5L);
    EXPECT_EQ(lines, c.wantLines);
    const Lines firstEvents = world.Events();
    EXPECT_EQ(firstEvents, c.wantEvents);
    EXPECT_TRUE(world.LogLines().empty());
    if (c.wantError == nullptr) {
      EXPECT_EQ(world.Errors(), Lines{});
    } else {
      ASSERT_EQ(world.Errors().size(), 2u);
      for (const std::string& error : world.Errors()) {
        EXPECT_NE(error.find(c.wantError), std::string::npos) << error;
        if (c.wantCode != nullptr) {
          EXPECT_NE(error.find(c.wantCode), std::string::npos) << error;
        }
      }
      const std::string& second = world.Errors()[1];
      if (std::string(c.wantError).find("calling convention") != std::string::npos) {
        // A restart would not help a library built with the wrong calling convention.
        EXPECT_EQ(second.find("该读卡器库的调用约定不符"), 0u) << second;
        EXPECT_EQ(second.find("重新启动"), std::string::npos) << second;
      } else {
        EXPECT_EQ(second.find("读卡器库此前已出错") == 0, c.wantRefusal) << second;
        EXPECT_EQ(second.find("重新启动") != std::string::npos, c.wantRefusal) << second;
      }
    }
    world.Run([&](Tfrm_option& dlg) { lines = dlg.ListBox->Lines(); });
    EXPECT_EQ(lines, c.wantSecondLines);
    const Lines allEvents = world.Events();
    EXPECT_EQ(
        Lines(allEvents.begin() + static_cast<std::ptrdiff_t>(firstEvents.size()), allEvents.end()),
        c.wantSecondDialog);
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
