// The PC/SC reader library with a stand-in for the pcsc-lite client library: this program
// exports the SCard functions the library uses, and the dynamic linker binds the loaded
// library to them instead of to pcsc-lite. The stand-in returns what no live service
// easily does: reader lists longer than 1024 bytes, lists that change between the size
// query and the fetch, long answers to reset, a service that stays stopped.
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

struct TFakeService {
  std::string readers;           // the multi-string, with its closing empty name
  std::string grownReaders;      // when set, replaces readers right after a size query
  std::deque<LONG> listAnswers;  // answers given before the list is served
  LONG establishAnswer = SCARD_S_SUCCESS;
  LONG connectAnswer = SCARD_S_SUCCESS;
  std::string atr = std::string("\x3B\x00", 2);
  int establishCalls = 0;
  int listCalls = 0;
};

TFakeService fake;

}  // namespace

extern "C" {

LONG SCardEstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
  ++fake.establishCalls;
  if (fake.establishAnswer != SCARD_S_SUCCESS) return fake.establishAnswer;
  *context = 0x1000 + fake.establishCalls;
  return SCARD_S_SUCCESS;
}

LONG SCardReleaseContext(SCARDCONTEXT) { return SCARD_S_SUCCESS; }

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
  if (fake.connectAnswer != SCARD_S_SUCCESS) return fake.connectAnswer;
  *card = 0x2000;
  *protocol = SCARD_PROTOCOL_T1;
  return SCARD_S_SUCCESS;
}

LONG SCardDisconnect(SCARDHANDLE, DWORD) { return SCARD_S_SUCCESS; }

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
  EXPECT_EQ(fake.establishCalls, contexts);
  EXPECT_EQ(std::vector<uint8_t>(area), std::vector<uint8_t>(kConnectAreaSize, 0));
}

}  // namespace
