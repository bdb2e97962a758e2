// The PC/SC reader library against a live stack: pcscd, the vpcd driver and our virtual
// card, run by livestack.py around this program.
#include <PCSC/winscard.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "LiveStack.h"
#include "ReaderLibrary.h"

namespace {

using LiveStack::kReader0;
using LiveStack::kReader1;

constexpr uint8_t kGuard = 0xAB;
constexpr size_t kGuardSize = 64;

// A caller's buffer with guard bytes after it, prefilled with a non-zero byte so that
// bytes the library leaves alone show up.
struct Guarded {
  explicit Guarded(size_t size) : size(size), bytes(size + kGuardSize, kGuard) {
    std::memset(bytes.data(), 0x5A, size);
  }
  char* data() { return reinterpret_cast<char*>(bytes.data()); }
  bool GuardIntact() const {
    for (size_t i = size; i < bytes.size(); ++i)
      if (bytes[i] != kGuard) return false;
    return true;
  }
  std::string Content() const { return std::string(bytes.begin(), bytes.begin() + size); }
  size_t size;
  std::vector<uint8_t> bytes;
};

std::string Names(std::initializer_list<const char*> names, size_t size) {
  std::string text;
  for (const char* name : names) text.append(name).push_back('\0');
  text.resize(size, '\0');
  return text;
}

class PcscLive : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LiveStack::Available()) << "run this program under tests/pcsc/livestack.py";
    ASSERT_EQ(LiveStack::StartWithEmptyReaders(), "");
    lib = std::make_unique<ReaderLibrary>(ReaderLibrary::InstalledPath());
  }
  void TearDown() override {
    if (lib) lib->DisConnectReader();
  }
  void InsertCard(int slot) {
    ASSERT_EQ(LiveStack::Request("insert-card " + std::to_string(slot)), "ok");
    ASSERT_TRUE(LiveStack::WaitForCard(slot == 0 ? kReader0 : kReader1, true));
  }
  std::string List(int32_t& code) {
    Guarded buffer(kReaderListSize);
    code = lib->ListReaders(buffer.data());
    EXPECT_TRUE(buffer.GuardIntact());
    return buffer.Content();
  }

  std::unique_ptr<ReaderLibrary> lib;
};

TEST_F(PcscLive, ListsBothReadersInOrderAndZeroesTheRest) {
  int32_t code = -1;
  std::string names = List(code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(names, Names({kReader0, kReader1}, kReaderListSize));
}

TEST_F(PcscLive, ConnectReturnsTheServiceCodeAndWritesTheAtr) {
  InsertCard(1);
  struct Case {
    const char* name;
    const char* reader;
    int32_t want;
  };
  const Case cases[] = {
      {"reader without a card", kReader0, kNoSmartcard},
      {"reader with the virtual card", kReader1, 0},
      {"name of no reader", "Virtual PCD 00 07", kUnknownReader},
      {"empty name", "", kUnknownReader},
  };
  // Length byte, then the virtual card's answer to reset.
  const std::string atr("\x09\x3B\x84\x80\x01LURM\x03", 10);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Guarded area(kConnectAreaSize);
    EXPECT_EQ(lib->ConnectReader(c.reader, area.data()), c.want);
    EXPECT_TRUE(area.GuardIntact());
    std::string want(kConnectAreaSize, '\0');
    if (c.want == 0) want.replace(0, atr.size(), atr);
    EXPECT_EQ(area.Content(), want);
    EXPECT_EQ(lib->DisConnectReader(), 0);
  }
}

TEST_F(PcscLive, DisconnectReleasesTheCardAndIsAlwaysSafe) {
  EXPECT_EQ(lib->DisConnectReader(), 0) << "nothing connected yet";
  InsertCard(0);
  Guarded area(kConnectAreaSize);
  ASSERT_EQ(lib->ConnectReader(kReader0, area.data()), 0);

  // Another application asking for the card alone shows whether our handle holds it.
  SCARDCONTEXT other = 0;
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &other), SCARD_S_SUCCESS);
  auto exclusive = [&] {
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    LONG rv = SCardConnect(other, kReader0, SCARD_SHARE_EXCLUSIVE,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    if (rv == SCARD_S_SUCCESS) SCardDisconnect(card, SCARD_LEAVE_CARD);
    return rv;
  };
  EXPECT_EQ(exclusive(), SCARD_E_SHARING_VIOLATION);
  EXPECT_EQ(lib->DisConnectReader(), 0);
  EXPECT_EQ(exclusive(), SCARD_S_SUCCESS);
  EXPECT_EQ(lib->DisConnectReader(), 0) << "second disconnect";
  SCardReleaseContext(other);

  // A second connect releases the first handle instead of leaking it.
  ASSERT_EQ(lib->ConnectReader(kReader0, area.data()), 0);
  ASSERT_EQ(lib->ConnectReader(kReader0, area.data()), 0);
  EXPECT_EQ(lib->DisConnectReader(), 0);
  ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &other), SCARD_S_SUCCESS);
  EXPECT_EQ(exclusive(), SCARD_S_SUCCESS);
  SCardReleaseContext(other);
}

TEST_F(PcscLive, SendCmdRoundTripsApdus) {
  uint8_t response[300];
  int32_t length = -1;
  const uint8_t select[] = {0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00};
  EXPECT_EQ(lib->SendCmd(select, sizeof select, response, sizeof response, &length), kInvalidHandle)
      << "no card connected";

  InsertCard(0);
  Guarded area(kConnectAreaSize);
  ASSERT_EQ(lib->ConnectReader(kReader0, area.data()), 0);
  struct Case {
    const char* name;
    std::vector<uint8_t> command;
    std::vector<uint8_t> want;
  };
  std::vector<uint8_t> sixteen;
  for (uint8_t i = 0; i < 16; ++i) sixteen.push_back(i);
  sixteen.insert(sixteen.end(), {0x90, 0x00});
  const Case cases[] = {
      {"command with data is echoed",
       {0x00, 0xA4, 0x04, 0x00, 0x03, 0xA1, 0xA2, 0xA3},
       {0xA1, 0xA2, 0xA3, 0x90, 0x00}},
      {"command without data", {0x00, 0x20, 0x00, 0x80}, {0x90, 0x00}},
      {"read of sixteen bytes", {0x00, 0xB0, 0x00, 0x00, 0x10}, sixteen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Guarded out(64);
    length = -1;
    ASSERT_EQ(lib->SendCmd(c.command.data(), static_cast<int32_t>(c.command.size()),
                           reinterpret_cast<uint8_t*>(out.data()), 64, &length),
              0);
    ASSERT_EQ(length, static_cast<int32_t>(c.want.size()));
    EXPECT_EQ(std::vector<uint8_t>(out.bytes.begin(), out.bytes.begin() + length), c.want);
    EXPECT_TRUE(out.GuardIntact());
  }

  // 256 data bytes and the status word do not fit in 64: nothing written, size told.
  const uint8_t readAll[] = {0x00, 0xB0, 0x00, 0x00, 0x00};
  Guarded small(64);
  EXPECT_EQ(
      lib->SendCmd(readAll, sizeof readAll, reinterpret_cast<uint8_t*>(small.data()), 64, &length),
      kInsufficientBuffer);
  EXPECT_EQ(length, 258);
  EXPECT_EQ(small.Content(), std::string(64, '\x5A'));
  EXPECT_TRUE(small.GuardIntact());
}

TEST_F(PcscLive, StoppedServiceIsMetWithItsCodeAndRecoveredAfterRestart) {
  int32_t code = -1;
  List(code);
  ASSERT_EQ(code, 0);

  ASSERT_EQ(LiveStack::Request("stop-service"), "ok");
  std::string names = List(code);
  EXPECT_EQ(code, kNoService);
  EXPECT_EQ(names, std::string(kReaderListSize, '\0'));

  ASSERT_EQ(LiveStack::Request("start-service"), "ok");
  names = List(code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(names, Names({kReader0, kReader1}, kReaderListSize));

  // Restarted between two calls, with no call seeing it down: the old context is stale.
  ASSERT_EQ(LiveStack::Request("stop-service"), "ok");
  ASSERT_EQ(LiveStack::Request("start-service"), "ok");
  names = List(code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(names, Names({kReader0, kReader1}, kReaderListSize));

  Guarded area(kConnectAreaSize);
  ASSERT_EQ(LiveStack::Request("stop-service"), "ok");
  ASSERT_EQ(LiveStack::Request("start-service"), "ok");
  EXPECT_EQ(lib->ConnectReader(kReader0, area.data()), kNoSmartcard);
}

TEST_F(PcscLive, CardSessionIsReconnectedAfterARestart) {
  InsertCard(0);
  Guarded area(kConnectAreaSize);
  ASSERT_EQ(lib->ConnectReader(kReader0, area.data()), 0);
  ASSERT_EQ(LiveStack::Request("stop-service"), "ok");
  ASSERT_EQ(LiveStack::Request("start-service"), "ok");
  ASSERT_TRUE(LiveStack::WaitForCard(kReader0, true));

  const uint8_t command[] = {0x00, 0xA4, 0x04, 0x00, 0x01, 0x7E};
  uint8_t response[16] = {};
  int32_t length = -1;
  EXPECT_EQ(lib->SendCmd(command, sizeof command, response, sizeof response, &length), 0);
  EXPECT_EQ(std::vector<uint8_t>(response, response + (length > 0 ? length : 0)),
            (std::vector<uint8_t>{0x7E, 0x90, 0x00}));
  EXPECT_EQ(lib->DisConnectReader(), 0);
}

TEST_F(PcscLive, ErrorTextIsTheServiceDescription) {
  struct Case {
    const char* name;
    int32_t code;
  };
  const Case cases[] = {
      {"no card", kNoSmartcard}, {"no service", kNoService}, {"success", 0}, {"unknown", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const char* text = lib->GetErrorText(c.code);
    ASSERT_NE(text, nullptr);
    std::string copy = text;
    EXPECT_EQ(copy, pcsc_stringify_error(static_cast<LONG>(static_cast<uint32_t>(c.code))));
    // The text stays put while other calls of the library run.
    int32_t code = -1;
    List(code);
    EXPECT_EQ(std::string(text), copy);
  }
}

}  // namespace
