// The reader settings dialog on the real reader stack: the dialog's own logic (in-memory
// toolkit), its binding, and the PC/SC reader library installed as "lurmScard.dll", against
// pcscd with the vpcd driver and the virtual card.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "LiveStack.h"
#include "ReaderDialogWorld.h"
#include "toolkit/UserInput.h"

namespace {

using LiveStack::kReader0;
using LiveStack::kReader1;

TEST(ReaderDialogOnPcsc, OperatorSelectsAndTestsRealReaders) {
  ASSERT_TRUE(LiveStack::Available()) << "run this program under tests/pcsc/livestack.py";
  ASSERT_EQ(LiveStack::Request("start-service"), "ok");
  ASSERT_EQ(LiveStack::Request("remove-card 0"), "ok");
  ASSERT_EQ(LiveStack::Request("insert-card 1"), "ok");
  ASSERT_TRUE(LiveStack::WaitForCard(kReader0, false));
  ASSERT_TRUE(LiveStack::WaitForCard(kReader1, true));

  TReaderDialogWorld world;
  world.InstallReader("lurmScard.dll", {}, "pcsc/lurmScard.dll");
  world.WriteSubAppFile("SysConfig.ini", "[system]\r\nServerType=99\r\n");
  world.Open();
  std::vector<std::string> lines;
  world.Run([&](Tfrm_option& dlg) {
    lines = dlg.ListBox->Lines();
    UserSelectLine(*dlg.ListBox, 1);
    UserClick(*dlg.btn_reader);   // stores "Virtual PCD 00 01"
    UserClick(*dlg.btn_connect);  // the virtual card answers
    UserSelectLine(*dlg.ListBox, 0);
    UserClick(*dlg.btn_connect);  // no card in this reader
  });

  EXPECT_EQ(lines, (std::vector<std::string>{kReader0, kReader1}));
  EXPECT_EQ(world.Messages(),
            (std::vector<TShownMessage>{{70000527, kReader1}, {70000530, ""}, {70000967, ""}}));
  EXPECT_EQ(world.Param(), kReader1);
  EXPECT_EQ(world.StoredReader(), kReader1);
  EXPECT_TRUE(world.Errors().empty());
}

TEST(ReaderDialogOnPcsc, CardThatDoesNotAnswerIsReportedAsNotResponding) {
  ASSERT_TRUE(LiveStack::Available()) << "run this program under tests/pcsc/livestack.py";
  ASSERT_EQ(LiveStack::Request("start-service"), "ok");
  ASSERT_EQ(LiveStack::Request("remove-card 1"), "ok");
  ASSERT_EQ(LiveStack::Request("insert-card 0 mute"), "ok");
  ASSERT_TRUE(LiveStack::WaitForCard(kReader0, true));
  setenv("LURMSCARD_CONNECT_TIMEOUT_MS", "1000", 1);

  TReaderDialogWorld world;
  world.InstallReader("lurmScard.dll", {}, "pcsc/lurmScard.dll");
  world.WriteSubAppFile("SysConfig.ini", "[system]\r\nServerType=99\r\n");
  world.Open();
  world.Run([&](Tfrm_option& dlg) {
    UserSelectLine(*dlg.ListBox, 0);
    UserClick(*dlg.btn_connect);  // the card stays silent past the limit
    UserSelectLine(*dlg.ListBox, 1);
    UserClick(*dlg.btn_connect);  // the dialog goes on: no card in the other reader
  });
  unsetenv("LURMSCARD_CONNECT_TIMEOUT_MS");

  // The operator's catalogue knows the unresponsive card (80100066).
  EXPECT_EQ(world.Messages(), (std::vector<TShownMessage>{{70000988, ""}, {70000967, ""}}));
  EXPECT_TRUE(world.Errors().empty());
  ASSERT_EQ(LiveStack::Request("remove-card 0"), "ok");
}

}  // namespace
