// The PC/SC reader library with a stand-in for the pcsc-lite client library: this program
// exports the SCard functions the library uses, and the dynamic linker binds the loaded
// library to them instead of to pcsc-lite. The stand-in returns what no live service
// easily does: reader lists longer than 1024 bytes, lists that change between the size
// query and the fetch, long answers to reset, a service that stays stopped or resets its
// connections while it goes away, responses without a status word; and it counts what
// the library releases when it is unloaded.
#include <PCSC/winscard.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "ReaderLibrary.h"

namespace {

struct TTransmitAnswer {
  LONG rv;
  std::string response;
};

struct TFakeService {
  std::string readers;           // the multi-string, with its closing empty name
  std::string grownReaders;      // when set, replaces readers right after a size query
  std::deque<LONG> listAnswers;  // answers given before the list is served
  LONG establishAnswer = SCARD_S_SUCCESS;
  std::deque<LONG> establishAnswers;  // answers given before establishAnswer
  LONG connectAnswer = SCARD_S_SUCCESS;
  std::deque<TTransmitAnswer> transmitAnswers;  // then the status word 90 00
  std::string atr = std::string("\x3B\x00", 2);
  int establishCalls = 0;
  int listCalls = 0;
  int connectCalls = 0;
  std::vector<SCARDCONTEXT> open;  // contexts established and not released
  std::vector<SCARDHANDLE> cards;  // card handles connected and not disconnected
  std::string lastCommand;
};

TFakeService fake;

}  // namespace

extern "C" {

LONG SCardEstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
  ++fake.establishCalls;
  LONG answer = fake.establishAnswer;
  if (!fake.establishAnswers.empty()) {
    answer = fake.establishAnswers.front();
    fake.establishAnswers.pop_front();
  }
  if (answer != SCARD_S_SUCCESS) return answer;
  *context = 0x1000 + fake.establishCalls;
  fake.open.push_back(*context);
  return SCARD_S_SUCCESS;
}

LONG SCardReleaseContext(SCARDCONTEXT context) {
  std::erase(fake.open, context);
  return SCARD_S_SUCCESS;
}

LONG SCardGetStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE* states, DWORD count) {
  for (DWORD i = 0; i < count; ++i) states[i].dwEventState = SCARD_STATE_PRESENT;
  return SCARD_S_SUCCESS;
}

LONG SCardTransmit(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE command, DWORD commandLength,
                   SCARD_IO_REQUEST*, LPBYTE response, LPDWORD responseLength) {
  fake.lastCommand.assign(reinterpret_cast<const char*>(command), commandLength);
  TTransmitAnswer answer{SCARD_S_SUCCESS, std::string("\x90\x00", 2)};
  if (!fake.transmitAnswers.empty()) {
    answer = fake.transmitAnswers.front();
    fake.transmitAnswers.pop_front();
  }
  if (answer.rv != SCARD_S_SUCCESS) return answer.rv;
  if (*responseLength < answer.response.size()) return SCARD_E_INSUFFICIENT_BUFFER;
  std::memcpy(response, answer.response.data(), answer.response.size());
  *responseLength = static_cast<DWORD>(answer.response.size());
  return SCARD_S_SUCCESS;
}

LONG SCardListReaders(SCARDCONTEXT, LPCSTR, LPSTR readers, LPDWORD length) {
  ++fake.listCalls;
  if (!fake.listAnswers.empty()) {
    LONG answer = fake.listAnswers.front();
    fake.listAnswers.pop_front();
    return answer;
  }
  DWORD size = static_cast<DWORD>(fake.readers.size());
  if (!readers) {
    *length = size;
    if (!fake.grownReaders.empty()) {
      fake.readers = fake.grownReaders;
      fake.grownReaders.clear();
    }
    return SCARD_S_SUCCESS;
  }
  if (*length < size) {
    *length = size;
    return SCARD_E_INSUFFICIENT_BUFFER;
  }
  std::memcpy(readers, fake.readers.data(), size);
  *length = size;
  return SCARD_S_SUCCESS;
}

LONG SCardConnect(SCARDCONTEXT, LPCSTR, DWORD, DWORD, LPSCARDHANDLE card, LPDWORD protocol) {
  ++fake.connectCalls;
  if (fake.connectAnswer != SCARD_S_SUCCESS) return fake.connectAnswer;
  *card = 0x2000 + fake.connectCalls;
  *protocol = SCARD_PROTOCOL_T1;
  fake.cards.push_back(*card);
  return SCARD_S_SUCCESS;
}

LONG SCardDisconnect(SCARDHANDLE card, DWORD) {
  std::erase(fake.cards, card);
  return SCARD_S_SUCCESS;
}

LONG SCardStatus(SCARDHANDLE, LPSTR, LPDWORD, LPDWORD state, LPDWORD protocol, LPBYTE atr,
                 LPDWORD atrLength) {
  *state = SCARD_SPECIFIC;
  *protocol = SCARD_PROTOCOL_T1;
  // Like the service, fills at most the room it is given but reports the full length.
  DWORD size = static_cast<DWORD>(fake.atr.size());
  std::memcpy(atr, fake.atr.data(), std::min<DWORD>(size, *atrLength));
  *atrLength = size;
  return SCARD_S_SUCCESS;
}

}  // extern "C"

namespace {

constexpr uint8_t kGuard = 0xAB;

std::string MultiString(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text.append(name).push_back('\0');
  text.push_back('\0');
  return text;
}

std::string Name(char letter, size_t length) {
  std::string name(length, letter);
  name[0] = 'R';
  return name;
}

class PcscBounds : public testing::Test {
 protected:
  void SetUp() override {
    fake = TFakeService();
    lib = std::make_unique<ReaderLibrary>(ReaderLibrary::InstalledPath());
  }
  // Lists into a 1024-byte buffer with guard bytes after it; checks the guard.
  std::string List(int32_t& code) {
    std::vector<uint8_t> buffer(kReaderListSize + 256, kGuard);
    code = lib->ListReaders(reinterpret_cast<char*>(buffer.data()));
    for (size_t i = kReaderListSize; i < buffer.size(); ++i) {
      EXPECT_EQ(buffer[i], kGuard) << "written past the buffer at byte " << i;
      if (buffer[i] != kGuard) break;
    }
    return std::string(buffer.begin(), buffer.begin() + kReaderListSize);
  }
  std::unique_ptr<ReaderLibrary> lib;
};

TEST_F(PcscBounds, ListKeepsWholeNamesWithinTheBuffer) {
  std::vector<std::string> forty;
  for (int i = 0; i < 40; ++i) forty.push_back(Name(static_cast<char>('a' + i % 26), 40));
  struct Case {
    const char* name;
    std::vector<std::string> readers;
    std::vector<std::string> want;  // the names the buffer holds, in order
  };
  const std::string n600 = Name('a', 600), n422 = Name('b', 422), n423 = Name('c', 423);
  const std::string n500 = Name('d', 500), n700 = Name('e', 700), n10 = Name('f', 10);
  const Case cases[] = {
      {"fills exactly 1024 bytes", {n600, n422}, {n600, n422}},
      {"one byte too many leaves the last name out", {n600, n423}, {n600}},
      {"a name too long for the room left is skipped, a later short one kept",
       {n500, n700, n10},
       {n500, n10}},
      {"one name of 1024 bytes has no room for its NUL", {Name('g', 1024)}, {}},
      {"forty readers, 1640 bytes", forty,
       std::vector<std::string>(forty.begin(), forty.begin() + 24)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.readers = MultiString(c.readers);
    int32_t code = -1;
    std::string buffer = List(code);
    EXPECT_EQ(code, 0);
    std::string want = MultiString(c.want);
    want.resize(kReaderListSize, '\0');
    EXPECT_EQ(buffer, want);
  }
}

TEST_F(PcscBounds, ListSurvivesMalformedAndChangingLists) {
  struct Case {
    const char* name;
    std::string readers;
    std::string grown;
    std::string want;
  };
  const std::string big =
      MultiString({Name('a', 300), Name('b', 300), Name('c', 300), Name('d', 300)});
  const Case cases[] = {
      {"list without its closing NULs", std::string("R1\0R2", 5), "", std::string("R1\0R2\0", 6)},
      {"list grows after the size query", MultiString({"R1"}), big,
       MultiString({Name('a', 300), Name('b', 300), Name('c', 300)})},
      {"empty names inside end the list", std::string("R1\0\0R2\0\0", 8), "",
       std::string("R1\0", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.readers = c.readers;
    fake.grownReaders = c.grown;
    int32_t code = -1;
    std::string buffer = List(code);
    EXPECT_EQ(code, 0);
    std::string want = c.want;
    want.resize(kReaderListSize, '\0');
    EXPECT_EQ(buffer, want);
  }
}

TEST_F(PcscBounds, LostServiceIsRetriedOnceWithANewContext) {
  struct Case {
    const char* name;
    std::vector<LONG> answers;
    int32_t want;
    int wantNewContexts;
  };
  const Case cases[] = {
      {"stopped once, then served", {SCARD_E_SERVICE_STOPPED}, 0, 1},
      {"stale handle after a restart", {SCARD_E_INVALID_HANDLE}, 0, 1},
      {"reader unavailable once", {SCARD_E_READER_UNAVAILABLE}, 0, 1},
      {"stays stopped: its code, no loop",
       {SCARD_E_SERVICE_STOPPED, SCARD_E_SERVICE_STOPPED},
       kServiceStopped,
       1},
      {"no readers is an answer, not a loss", {SCARD_E_NO_READERS_AVAILABLE}, kNoReaders, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.readers = MultiString({"R1"});
    int32_t code = -1;
    List(code);  // the library holds a context from here on
    ASSERT_EQ(code, 0);
    const int contexts = fake.establishCalls;
    fake.listAnswers.assign(c.answers.begin(), c.answers.end());
    std::string buffer = List(code);
    EXPECT_EQ(code, c.want);
    EXPECT_EQ(fake.establishCalls - contexts, c.wantNewContexts);
    std::string want = c.want == 0 ? std::string("R1\0", 3) : std::string();
    want.resize(kReaderListSize, '\0');
    EXPECT_EQ(buffer, want);
  }
}

TEST_F(PcscBounds, NoServiceAtAllGivesItsCode) {
  // Whether or not the library still holds a context, the service is gone.
  fake.establishAnswer = SCARD_E_NO_SERVICE;
  fake.listAnswers = {SCARD_E_NO_SERVICE};
  int32_t code = -1;
  EXPECT_EQ(List(code), std::string(kReaderListSize, '\0'));
  EXPECT_EQ(code, kNoService);
}

TEST_F(PcscBounds, ConnectAreaHoldsLengthAndAtrWithin256Bytes) {
  struct Case {
    const char* name;
    std::string atr;
    std::string wantAtr;
  };
  std::string longAtr;
  for (int i = 0; i < 200; ++i) longAtr.push_back(static_cast<char>(i));
  const Case cases[] = {
      {"ATR of 33 bytes", longAtr.substr(0, 33), longAtr.substr(0, 33)},
      {"service reports 200 bytes", longAtr, longAtr.substr(0, 64)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.atr = c.atr;
    std::vector<uint8_t> area(kConnectAreaSize + 64, kGuard);
    ASSERT_EQ(lib->ConnectReader("R1", reinterpret_cast<char*>(area.data())), 0);
    std::string want(1, static_cast<char>(c.wantAtr.size()));
    want += c.wantAtr;
    want.resize(kConnectAreaSize, '\0');
    EXPECT_EQ(std::string(area.begin(), area.begin() + kConnectAreaSize), want);
    for (size_t i = kConnectAreaSize; i < area.size(); ++i) ASSERT_EQ(area[i], kGuard);
    EXPECT_EQ(lib->DisConnectReader(), 0);
  }
}

TEST_F(PcscBounds, UnknownReaderIsNotRetried) {
  fake.readers = MultiString({"R1"});
  int32_t code = -1;
  List(code);
  ASSERT_EQ(code, 0);
  const int contexts = fake.establishCalls;
  fake.connectAnswer = SCARD_E_UNKNOWN_READER;
  std::vector<uint8_t> area(kConnectAreaSize, 0x5A);
  EXPECT_EQ(lib->ConnectReader("nobody", reinterpret_cast<char*>(area.data())), kUnknownReader);
  // The connect's own context, and no second one.
  EXPECT_EQ(fake.establishCalls - contexts, 1);
  EXPECT_EQ(std::vector<uint8_t>(area), std::vector<uint8_t>(kConnectAreaSize, 0));
}

TEST_F(PcscBounds, OneListingContextPerLoadReleasedWithTheCardAtUnload) {
  fake.readers = MultiString({"R1"});
  int32_t code = -1;
  for (int i = 0; i < 3; ++i) {
    List(code);
    ASSERT_EQ(code, 0);
  }
  EXPECT_EQ(fake.establishCalls, 1) << "the listing context is kept between calls";
  std::vector<uint8_t> area(kConnectAreaSize);
  ASSERT_EQ(lib->ConnectReader("R1", reinterpret_cast<char*>(area.data())), 0);
  EXPECT_EQ(fake.open.size(), 2u) << "the listing context and the card's own";
  EXPECT_EQ(fake.cards.size(), 1u);

  // Unloaded with the card still connected: the unload hook releases all of it.
  lib.reset();
  EXPECT_EQ(fake.open, std::vector<SCARDCONTEXT>());
  EXPECT_EQ(fake.cards, std::vector<SCARDHANDLE>());

  // A new load starts with nothing of the old one.
  lib = std::make_unique<ReaderLibrary>(ReaderLibrary::InstalledPath());
  List(code);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(fake.establishCalls, 3);
  lib.reset();
  EXPECT_EQ(fake.open, std::vector<SCARDCONTEXT>());
}

TEST_F(PcscBounds, ServiceGoingAwayGivesServiceCodesNotAccessDenied) {
  // pcsc-lite answers 8010006A when the dying service resets the connection under a request.
  constexpr LONG kReset = SCARD_W_SECURITY_VIOLATION;
  constexpr LONG kGone = SCARD_E_NO_SERVICE;
  struct Case {
    const char* name;
    bool held;                           // the library holds a context from an earlier list
    std::vector<LONG> listAnswers;       // before the list is served
    std::vector<LONG> establishAnswers;  // then success
    int32_t want;
  };
  const std::vector<LONG> resetAlways(8, kReset);
  const Case cases[] = {
      {"reset at the first context, then served", false, {}, {kReset}, 0},
      {"reset, then no service", false, {}, {kReset, kGone}, kNoService},
      {"list reset by the dying service, new context served", true, {kReset}, {}, 0},
      {"list reset twice: the service stopped", true, {kReset, kReset}, {}, kServiceStopped},
      {"lost, then resets until it is gone",
       true,
       {kGone},
       {kReset, kReset, kGone, kGone, kGone, kGone},
       kNoService},
      {"lost, then reset at every new context", true, {kGone}, resetAlways, kServiceStopped},
      {"lost during a restart, back after two refusals", true, {kGone}, {kGone, kGone}, 0},
      {"a running service that refuses every context is believed",
       false,
       {},
       resetAlways,
       kAccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lib.reset();  // unloaded before the next load, or the loader would keep the old copy
    fake = TFakeService();
    fake.readers = MultiString({"R1"});
    lib = std::make_unique<ReaderLibrary>(ReaderLibrary::InstalledPath());
    int32_t code = -1;
    if (c.held) {
      List(code);
      ASSERT_EQ(code, 0);
    }
    fake.listAnswers.assign(c.listAnswers.begin(), c.listAnswers.end());
    fake.establishAnswers.assign(c.establishAnswers.begin(), c.establishAnswers.end());
    std::string buffer = List(code);
    EXPECT_EQ(code, c.want);
    std::string want = c.want == 0 ? std::string("R1\0", 3) : std::string();
    want.resize(kReaderListSize, '\0');
    EXPECT_EQ(buffer, want);
    EXPECT_TRUE(fake.establishAnswers.empty() || c.want != 0) << "back-off ended early";
  }
}

TEST_F(PcscBounds, SendCmdAnswersOnlyWithAStatusWordAndTellsSizes) {
  std::vector<uint8_t> area(kConnectAreaSize);
  ASSERT_EQ(lib->ConnectReader("R1", reinterpret_cast<char*>(area.data())), 0);
  const std::string big(300, '\x11');
  struct Case {
    const char* name;
    size_t commandLength;
    std::string answer;  // what the service hands back, with success
    int32_t responseSize;
    int32_t want;
    int32_t wantLength;
  };
  const Case cases[] = {
      {"status word only", 4, std::string("\x90\x00", 2), 64, 0, 2},
      {"line dropped: no bytes at all", 4, "", 64, kUnresponsiveCard, 0},
      {"one byte, half a status word", 4, std::string("\x90", 1), 64, kUnresponsiveCard, 0},
      {"response larger than the buffer", 5, big + std::string("\x90\x00", 2), 64,
       kInsufficientBuffer, 302},
      {"exactly the buffer", 5, std::string("\x61\x10", 2), 2, 0, 2},
      {"longest extended command", 65544, std::string("\x90\x00", 2), 64, 0, 2},
      {"command longer than any APDU", 65545, std::string("\x90\x00", 2), 64, kInsufficientBuffer,
       65544},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.transmitAnswers = {{SCARD_S_SUCCESS, c.answer}};
    fake.lastCommand.clear();
    std::vector<uint8_t> command(c.commandLength, 0x00);
    std::vector<uint8_t> response(static_cast<size_t>(c.responseSize) + 16, kGuard);
    int32_t length = -1;
    EXPECT_EQ(lib->SendCmd(command.data(), static_cast<int32_t>(command.size()), response.data(),
                           c.responseSize, &length),
              c.want);
    EXPECT_EQ(length, c.wantLength);
    if (c.want == 0) {
      EXPECT_EQ(std::string(response.begin(), response.begin() + length), c.answer);
      EXPECT_EQ(fake.lastCommand.size(), c.commandLength);
    } else {
      EXPECT_EQ(response, std::vector<uint8_t>(response.size(), kGuard)) << "nothing written";
    }
    for (size_t i = static_cast<size_t>(c.responseSize); i < response.size(); ++i)
      ASSERT_EQ(response[i], kGuard);
  }
}

TEST_F(PcscBounds, SendCmdReconnectsTheKeptReaderOnceTheServiceIsBack) {
  std::vector<uint8_t> area(kConnectAreaSize);
  ASSERT_EQ(lib->ConnectReader("R1", reinterpret_cast<char*>(area.data())), 0);
  const uint8_t command[] = {0x00, 0xA4, 0x04, 0x00};
  uint8_t response[16] = {};
  int32_t length = -1;

  // The service is gone: the old handle fails, and the one reconnect finds no service.
  fake.transmitAnswers = {{SCARD_E_NO_SERVICE, ""}};
  fake.establishAnswer = SCARD_E_NO_SERVICE;
  EXPECT_EQ(lib->SendCmd(command, sizeof command, response, sizeof response, &length), kNoService);
  EXPECT_EQ(fake.connectCalls, 1);

  // It is back: the next send connects the same reader again, once, and is served.
  fake.establishAnswer = SCARD_S_SUCCESS;
  EXPECT_EQ(lib->SendCmd(command, sizeof command, response, sizeof response, &length), 0);
  EXPECT_EQ(length, 2);
  EXPECT_EQ(fake.connectCalls, 2);
  EXPECT_EQ(fake.cards.size(), 1u);

  // After a disconnect there is no reader to go back to.
  EXPECT_EQ(lib->DisConnectReader(), 0);
  EXPECT_EQ(lib->SendCmd(command, sizeof command, response, sizeof response, &length),
            kInvalidHandle);
  EXPECT_EQ(fake.connectCalls, 2);
  EXPECT_EQ(fake.cards, std::vector<SCARDHANDLE>());
}

}  // namespace
