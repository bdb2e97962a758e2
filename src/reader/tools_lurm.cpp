#include "reader/tools_lurm.h"

#include "host/HostServices.h"
#include "platform/CodePage.h"
#include "platform/ErrorTexts.h"
#include "platform/Profile.h"
#include "util/ParamList.h"

namespace {

// The most of a reader library's error text that is shown.
constexpr size_t kLibraryErrorTextMax = 1024;

struct TReaderErrorEntry {
  int32_t First;  // inclusive, signed
  int32_t Last;   // inclusive, signed
  int32_t MsgId;
};

constexpr int32_t Code(uint32_t bits) { return static_cast<int32_t>(bits); }

// ISO/IEC 7816-4 status words, PC/SC (WinSCard) return codes and the library's 123.
constexpr TReaderErrorEntry kReaderErrorTable[] = {
    {0x9000, 0x9000, kMsgStatusNormal},
    {0x6100, 0x61FF, kMsgStatusBytesAvailable},
    {0x63C0, 0x63CF, kMsgStatusCounterWarning},
    {0x6983, 0x6983, kMsgAuthBlockedOrUnknownReader},  // authentication method blocked
    {Code(0x80100009), Code(0x80100009), kMsgAuthBlockedOrUnknownReader},  // UNKNOWN_READER
    {Code(0x8010000B), Code(0x8010000B), kMsgSharingViolation},
    {Code(0x8010000C), Code(0x8010000C), kMsgNoSmartCard},
    {Code(0x8010000D), Code(0x8010000D), kMsgUnknownCard},
    {Code(0x8010001D), Code(0x8010001D), kMsgNoService},
    {Code(0x8010001E), Code(0x8010001E), kMsgServiceStopped},
    {Code(0x8010002E), Code(0x8010002E), kMsgNoReadersAvailable},
    {Code(0x80100065), Code(0x80100065), kMsgUnsupportedCard},
    {Code(0x80100066), Code(0x80100066), kMsgUnresponsiveCard},
    {Code(0x80100067), Code(0x80100067), kMsgUnpoweredCard},
    {Code(0x80100068), Code(0x80100068), kMsgResetCard},
    {Code(0x80100069), Code(0x80100069), kMsgRemovedCard},
    {0x7B, 0x7B, kMsgReaderCode123},
};

}  // namespace

HostString ReadIniString(const HostString& FileName, const HostString& Section,
                         const HostString& Ident, const HostString& Default) {
  return HostString(
      IniReadString(std::string(FileName.View()), Section.View(), Ident.View(), Default.View()));
}

bool IsServerType99() {
  const std::string file = std::string(CurSubAppPath().View()) + "SysConfig.ini";
  return ReadIniString(HostString(file), "system", "ServerType", HostString()).View() == "99";
}

HostString GetCurReader() {
  return GetParamStr(GetCurSubAppVo(), "Global_nuvreader", HostString());
}

std::optional<int32_t> ReaderErrorMsgId(int32_t ErrCode) {
  for (const TReaderErrorEntry& e : kReaderErrorTable)
    if (ErrCode >= e.First && ErrCode <= e.Last) return e.MsgId;
  return std::nullopt;
}

void ShowReaderError(int32_t ErrCode, TLURMScardInvoker& Invoker) {
  if (std::optional<int32_t> msgId = ReaderErrorMsgId(ErrCode)) {
    ShowHostMsg(*msgId);
    return;
  }
  const std::string hex = errortext::HexCode(static_cast<uint32_t>(ErrCode));
  // The library's text stays the library's: it is copied, bounded, inside the contained call,
  // so that a bad pointer is reported as the library's fault. One byte more than is shown is
  // read, so that a text cut at the bound is cut between characters, never inside one.
  struct TTextCopy {
    char Text[kLibraryErrorTextMax + 1];
    size_t Length;
  };
  const TTextCopy copy = Invoker.SCGetErrorText.CallThen(
      [](const char* text) {
        TTextCopy c{};
        while (text != nullptr && c.Length < kLibraryErrorTextMax + 1 && text[c.Length] != '\0') {
          c.Text[c.Length] = text[c.Length];
          ++c.Length;
        }
        return c;
      },
      ErrCode);
  const std::string library(copy.Text,
                            CutLengthAtCharBoundary(copy.Text, copy.Length, kLibraryErrorTextMax));
  const HostString format = HostMsgText(kMsgReaderErrorFormat);
  std::optional<std::string> text = FillCatalogueFormat(format.View(), {hex, library});
  if (!text) text = std::string(hex) + " " + library;
  ShowHostText(HostString(*text));
}
