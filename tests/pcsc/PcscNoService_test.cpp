// The PC/SC reader library with no service to talk to: natively a pcsc-lite client whose
// service socket does not exist; under Wine, whose WinSCard has no service behind it.
// Every export answers with a clean code and stays inside the caller's buffers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ReaderLibrary.h"

namespace {

constexpr uint8_t kGuard = 0xAB;

class PcscNoService : public testing::Test {
 protected:
  static void SetUpTestSuite() {
#if !defined(_WIN32)
    // pcsc-lite reads the socket path once, at its first use in the process.
    setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/lurm-test/pcscd.comm", 1);
#endif
  }
  void SetUp() override { lib = std::make_unique<ReaderLibrary>(ReaderLibrary::InstalledPath()); }
  std::unique_ptr<ReaderLibrary> lib;
};

TEST_F(PcscNoService, EveryExportAnswersWithACleanCode) {
  std::vector<uint8_t> list(kReaderListSize + 64, kGuard);
  std::memset(list.data(), 0x5A, kReaderListSize);
  int32_t code = lib->ListReaders(reinterpret_cast<char*>(list.data()));
  char shown[16];
  std::snprintf(shown, sizeof shown, "%08X", static_cast<unsigned>(code));
  RecordProperty("list_code", shown);
#if defined(_WIN32)
  EXPECT_NE(code, 0);
#else
  EXPECT_EQ(code, kNoService);
#endif
  for (size_t i = 0; i < list.size(); ++i)
    ASSERT_EQ(list[i], i < kReaderListSize ? 0 : kGuard) << "byte " << i;

  std::vector<uint8_t> area(kConnectAreaSize + 64, kGuard);
  std::memset(area.data(), 0x5A, kConnectAreaSize);
  code = lib->ConnectReader("Virtual PCD 00 00", reinterpret_cast<char*>(area.data()));
  EXPECT_NE(code, 0);
  for (size_t i = 0; i < area.size(); ++i)
    ASSERT_EQ(area[i], i < kConnectAreaSize ? 0 : kGuard) << "byte " << i;

  EXPECT_EQ(lib->DisConnectReader(), 0);
  EXPECT_EQ(lib->DisConnectReader(), 0);

  const uint8_t command[] = {0x00, 0xA4, 0x04, 0x00};
  uint8_t response[8] = {};
  int32_t length = -1;
  EXPECT_EQ(lib->SendCmd(command, sizeof command, response, sizeof response, &length),
            kInvalidHandle);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(lib->SendCmd(nullptr, 4, response, sizeof response, &length), kInvalidParameter);
}

TEST_F(PcscNoService, ErrorTextDescribesAnyCode) {
  struct Case {
    const char* name;
    int32_t code;
  };
  const Case cases[] = {{"no service", kNoService},
                        {"no card", kNoSmartcard},
                        {"not a service code", 0x7B},
                        {"all bits", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const char* text = lib->GetErrorText(c.code);
    ASSERT_NE(text, nullptr);
    EXPECT_GT(std::strlen(text), 0u);
    EXPECT_EQ(std::string(text).find_first_of("\r\n"), std::string::npos);
  }
}

}  // namespace
