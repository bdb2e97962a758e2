// The PC/SC reader library against cards and a service that misbehave: a card that
// answers late or not at all, a card that drops the line during a command, a service that
// dies during a connect or restarts under a list loop. Every call must come back within
// its limit with a code the operator's messages know, and the next call must work.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "LiveStack.h"
#include "ReaderLibrary.h"

namespace {

using LiveStack::kReader0;
using LiveStack::kReader1;

constexpr const char* kLimitVariable = "LURMSCARD_CONNECT_TIMEOUT_MS";
// What a call may take beyond its limit before the test calls it unbounded: a worker's
// start and the service's answers, on a loaded machine with sanitizers.
constexpr long long kSlackMs = 3000;

std::string Hex(int32_t code) {
  char text[16];
  snprintf(text, sizeof text, "%08X", static_cast<unsigned>(code));
  return text;
}

class PcscFaults : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LiveStack::Available()) << "run this program under tests/pcsc/livestack.py";
    ASSERT_EQ(LiveStack::StartWithEmptyReaders(), "");
    unsetenv(kLimitVariable);
    lib = std::make_unique<ReaderLibrary>(ReaderLibrary::InstalledPath());
  }
  void TearDown() override {
    if (lib) lib->DisConnectReader();
    unsetenv(kLimitVariable);
  }
  void InsertCard(int slot, const std::string& behaviour = "normal") {
    ASSERT_EQ(LiveStack::Request("insert-card " + std::to_string(slot) + " " + behaviour), "ok");
    ASSERT_TRUE(LiveStack::WaitForCard(slot == 0 ? kReader0 : kReader1, true));
  }
  // Connects and says how long the call took.
  int32_t Connect(const char* reader, long long& tookMs, std::string* area = nullptr) {
    std::vector<char> out(kConnectAreaSize, '\x5A');
    const long long start = LiveStack::NowMs();
    int32_t code = lib->ConnectReader(reader, out.data());
    tookMs = LiveStack::NowMs() - start;
    if (area) area->assign(out.begin(), out.end());
    return code;
  }
  int32_t List() {
    std::vector<char> names(kReaderListSize);
    return lib->ListReaders(names.data());
  }

  std::unique_ptr<ReaderLibrary> lib;
};

TEST_F(PcscFaults, ConnectToACardThatDoesNotAnswerEndsAtTheLimit) {
  constexpr int kLimitMs = 1500;
  setenv(kLimitVariable, std::to_string(kLimitMs).c_str(), 1);
  InsertCard(1);
  struct Case {
    const char* name;
    const char* behaviour;
  };
  const Case cases[] = {
      {"card gone mute after insertion", "mute"},
      {"card answering 8 s late", "late:8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InsertCard(0, c.behaviour);
    long long took = 0;
    std::string area;
    EXPECT_EQ(Connect(kReader0, took, &area), kUnresponsiveCard);
    EXPECT_LT(took, kLimitMs + kSlackMs);
    EXPECT_EQ(area, std::string(kConnectAreaSize, '\0'));
    RecordProperty(std::string(c.behaviour) + "_first_connect_ms", std::to_string(took));
    EXPECT_EQ(lib->DisConnectReader(), 0) << "disconnect after a connect that timed out";

    // The library and the service go on: listing, the other reader, the same reader again.
    EXPECT_EQ(List(), 0);
    EXPECT_EQ(Connect(kReader1, took), 0);
    EXPECT_EQ(lib->DisConnectReader(), 0);
    EXPECT_EQ(Connect(kReader0, took), kUnresponsiveCard) << "the card is still silent";
    EXPECT_LT(took, kLimitMs + kSlackMs);
    RecordProperty(std::string(c.behaviour) + "_second_connect_ms", std::to_string(took));
    EXPECT_EQ(lib->DisConnectReader(), 0);

    // Pulled, the card ends the connects still waiting in the service.
    ASSERT_EQ(LiveStack::Request("remove-card 0"), "ok");
    ASSERT_TRUE(LiveStack::WaitForCard(kReader0, false));
    EXPECT_EQ(Connect(kReader0, took), kNoSmartcard);
    EXPECT_LT(took, kLimitMs + kSlackMs);
  }
}

TEST_F(PcscFaults, ConnectToAServiceThatDoesNotAnswerEndsAtTheLimit) {
  constexpr int kLimitMs = 1000;
  setenv(kLimitVariable, std::to_string(kLimitMs).c_str(), 1);
  ASSERT_EQ(LiveStack::Request("pause-service"), "ok");
  long long took = 0;
  std::string area;
  const int32_t code = Connect(kReader0, took, &area);
  ASSERT_EQ(LiveStack::Request("resume-service"), "ok");
  // Not the card's fault: the service never said whether a card is there.
  EXPECT_EQ(code, kTimeout) << Hex(code);
  EXPECT_LT(took, kLimitMs + kSlackMs);
  EXPECT_EQ(area, std::string(kConnectAreaSize, '\0'));
  RecordProperty("paused_service_connect_ms", std::to_string(took));
  EXPECT_EQ(lib->DisConnectReader(), 0);
  // Running again, the service answers the connect left waiting and the next one alike.
  EXPECT_EQ(Connect(kReader0, took), kNoSmartcard);
  EXPECT_EQ(List(), 0);
}

TEST_F(PcscFaults, ConnectLimitComesFromTheEnvironment) {
  struct Case {
    const char* name;
    const char* limit;  // null: unset
    const char* behaviour;
    int32_t want;
  };
  // The service asks a powered card for its ATR up to twice during a connect, so a card
  // SECONDS late keeps it waiting up to twice that.
  const Case cases[] = {
      {"limit longer than the card's delay", "4000", "late:1", 0},
      {"limit shorter than the card's delay", "400", "late:2", kUnresponsiveCard},
      {"unset: 5 s, longer than the delay", nullptr, "late:1.5", 0},
      {"not a number: 5 s", "soon", "late:1.5", 0},
      {"zero: 5 s", "0", "late:1.5", 0},
  };
  // Length byte, then the virtual card's answer to reset.
  const std::string atr("\x09\x3B\x84\x80\x01LURM\x03", 10);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.limit)
      setenv(kLimitVariable, c.limit, 1);
    else
      unsetenv(kLimitVariable);
    InsertCard(0, c.behaviour);
    long long took = 0;
    std::string area;
    EXPECT_EQ(Connect(kReader0, took, &area), c.want);
    std::string want(kConnectAreaSize, '\0');
    if (c.want == 0) want.replace(0, atr.size(), atr);
    EXPECT_EQ(area, want);
    EXPECT_EQ(lib->DisConnectReader(), 0);
    ASSERT_EQ(LiveStack::Request("remove-card 0"), "ok");
    ASSERT_TRUE(LiveStack::WaitForCard(kReader0, false));
  }
}

TEST_F(PcscFaults, ServiceDyingDuringAConnectGivesServiceCodes) {
  constexpr int kRounds = 10;
  std::map<int32_t, int> seen;
  long long longest = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(LiveStack::Request("start-service"), "ok");
    // The card keeps the connect waiting long enough for the service to go during it.
    InsertCard(0, "late:2");
    std::thread stopper([] {
      usleep(400 * 1000);
      LiveStack::Request("stop-service");
    });
    long long took = 0;
    const int32_t code = Connect(kReader0, took);
    stopper.join();
    ++seen[code];
    if (took > longest) longest = took;
    EXPECT_TRUE(code == kNoService || code == kServiceStopped) << Hex(code);
    EXPECT_EQ(lib->DisConnectReader(), 0);
    EXPECT_EQ(List(), kNoService) << "the service is down now";
    ASSERT_EQ(LiveStack::Request("remove-card 0"), "ok");
  }
  std::string summary;
  for (const auto& [code, count] : seen) summary += Hex(code) + "x" + std::to_string(count) + " ";
  RecordProperty("codes", summary);
  RecordProperty("longest_connect_ms", std::to_string(longest));
  EXPECT_EQ(seen.count(kAccessDenied), 0u);
}

TEST_F(PcscFaults, ListLoopAcrossServiceRestartsSeesOnlyServiceCodes) {
  constexpr int kRestarts = 5;
  std::atomic<bool> restarting = true;
  std::thread restarter([&] {
    for (int i = 0; i < kRestarts; ++i) {
      usleep(300 * 1000);
      LiveStack::Request("stop-service");
      usleep(100 * 1000);
      LiveStack::Request("start-service");
    }
    restarting = false;
  });
  std::map<int32_t, int> seen;
  while (restarting) ++seen[List()];
  restarter.join();
  std::string summary;
  for (const auto& [code, count] : seen) summary += Hex(code) + "x" + std::to_string(count) + " ";
  RecordProperty("codes", summary);
  for (const auto& [code, count] : seen)
    EXPECT_TRUE(code == 0 || code == kNoService || code == kServiceStopped)
        << Hex(code) << " seen " << count << " times";
  EXPECT_GT(seen[0], 0);
  EXPECT_EQ(List(), 0) << "served again after the last restart";
}

TEST_F(PcscFaults, SendAfterARestartReconnectsTheKeptReader) {
  InsertCard(0);
  long long took = 0;
  ASSERT_EQ(Connect(kReader0, took), 0);
  const uint8_t command[] = {0x00, 0xA4, 0x04, 0x00, 0x01, 0x7E};
  uint8_t response[16] = {};
  int32_t length = -1;

  ASSERT_EQ(LiveStack::Request("stop-service"), "ok");
  EXPECT_EQ(lib->SendCmd(command, sizeof command, response, sizeof response, &length), kNoService);
  EXPECT_EQ(length, 0);

  ASSERT_EQ(LiveStack::Request("start-service"), "ok");
  ASSERT_TRUE(LiveStack::WaitForCard(kReader0, true));
  EXPECT_EQ(lib->SendCmd(command, sizeof command, response, sizeof response, &length), 0);
  EXPECT_EQ(std::vector<uint8_t>(response, response + (length > 0 ? length : 0)),
            (std::vector<uint8_t>{0x7E, 0x90, 0x00}));
  EXPECT_EQ(lib->SendCmd(command, sizeof command, response, sizeof response, &length), 0)
      << "the new handle is kept";
  EXPECT_EQ(lib->DisConnectReader(), 0);
}

TEST_F(PcscFaults, ResponseWithoutAStatusWordIsAnError) {
  struct Case {
    const char* name;
    const char* behaviour;
  };
  const Case cases[] = {
      {"card drops the line during the command", "drop"},
      {"card answers one byte", "short"},
  };
  const uint8_t command[] = {0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InsertCard(0, c.behaviour);
    long long took = 0;
    ASSERT_EQ(Connect(kReader0, took), 0);
    std::vector<uint8_t> response(32, 0x5A);
    int32_t length = -1;
    const int32_t code = lib->SendCmd(command, sizeof command, response.data(), 32, &length);
    RecordProperty(std::string(c.behaviour) + "_code", Hex(code));
    EXPECT_NE(code, 0);
    EXPECT_EQ(code, kUnresponsiveCard) << Hex(code);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(response, std::vector<uint8_t>(32, 0x5A)) << "nothing written";
    EXPECT_EQ(lib->DisConnectReader(), 0);
    ASSERT_EQ(LiveStack::Request("remove-card 0"), "ok");
  }
}

TEST_F(PcscFaults, CommandLongerThanAnyApduTellsTheLimit) {
  InsertCard(0);
  long long took = 0;
  ASSERT_EQ(Connect(kReader0, took), 0);
  std::vector<uint8_t> command(70000, 0x00);
  uint8_t response[16] = {};
  int32_t length = -1;
  EXPECT_EQ(lib->SendCmd(command.data(), static_cast<int32_t>(command.size()), response,
                         sizeof response, &length),
            kInsufficientBuffer);
  EXPECT_EQ(length, 65544);
  EXPECT_EQ(lib->DisConnectReader(), 0);
}

}  // namespace
