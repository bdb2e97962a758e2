#pragma once
// Reader tools: the choice of the reader library file from the sub-application's
// "SysConfig.ini", the current reader from the parameter list, and the one way every
// non-zero reader result code is shown to the operator.
//
//   HostString dll = CurSubAppPath() + (IsServerType99() ? "lurmScard.dll" : "lurmScard_old.dll");
//   if (code != 0) ShowReaderError(code, *FScardInvoker);
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "host/HostString.h"
#include "reader/scard_api.h"

// Catalogue messages of reader result codes.
inline constexpr int32_t kMsgStatusNormal = 70000901;          // 90 00
inline constexpr int32_t kMsgStatusBytesAvailable = 70000902;  // 61 XX
inline constexpr int32_t kMsgStatusCounterWarning = 70000910;  // 63 CX
inline constexpr int32_t kMsgAuthBlockedOrUnknownReader = 70000923;
inline constexpr int32_t kMsgSharingViolation = 70000966;
inline constexpr int32_t kMsgNoSmartCard = 70000967;
inline constexpr int32_t kMsgUnknownCard = 70000968;
inline constexpr int32_t kMsgNoService = 70000984;
inline constexpr int32_t kMsgServiceStopped = 70000985;
inline constexpr int32_t kMsgNoReadersAvailable = 70000986;
inline constexpr int32_t kMsgUnsupportedCard = 70000987;
inline constexpr int32_t kMsgUnresponsiveCard = 70000988;
inline constexpr int32_t kMsgUnpoweredCard = 70000989;
inline constexpr int32_t kMsgResetCard = 70000990;
inline constexpr int32_t kMsgRemovedCard = 70000991;
inline constexpr int32_t kMsgReaderCode123 = 70000992;
// The format of the fallback text: the code's eight hex digits, then the library's text.
inline constexpr int32_t kMsgReaderErrorFormat = 70001008;

// The value of Ident in Section of the profile file FileName, or Default when the
// file, section or key is missing or the file cannot be read; Windows profile-string
// rules (platform/Profile.h). The file is only read.
HostString ReadIniString(const HostString& FileName, const HostString& Section,
                         const HostString& Ident, const HostString& Default);

// True when "ServerType" of section "system" in the sub-application's "SysConfig.ini"
// is exactly "99" (byte for byte, after the profile rules' trimming and unquoting).
bool IsServerType99();

// The current reader: parameter "Global_nuvreader" of the current sub-application,
// "" when none.
HostString GetCurReader();

// The catalogue message of a table code, or nothing for any other code. The table's
// entries are exact codes or inclusive ranges, compared as signed 32-bit values.
std::optional<int32_t> ReaderErrorMsgId(int32_t ErrCode);

// Fills a catalogue text: each "%s" takes the next argument, "%%" is one percent sign.
// Nothing when the text does not take exactly these arguments (another count of "%s",
// or a "%" starting anything else). The text is data: nothing else is interpreted.
//
//   FillCatalogueFormat("错误代码：%s，%s", {"8010000A", "超时"})  // "错误代码：8010000A，超时"
std::optional<std::string> FillCatalogueFormat(std::string_view format,
                                               std::initializer_list<std::string_view> args);

// Shows the operator exactly one message for the non-zero reader result code ErrCode.
// A table code shows its catalogue message (InforMsg), asking neither the library nor
// the catalogue for anything else. Any other code shows the fallback text: the code as
// eight upper-case hex digits and the library's text (SCGetErrorText of Invoker, asked
// first; a null text counts as empty) filled into catalogue format 70001008 (GetMsg),
// shown with InfoMsgBox(text, 0). A format that does not take the two texts gives
// "<hex digits> <library text>" instead. Raises EmptyEntryPointError when the library
// has no SCGetErrorText, and whatever the host calls raise; catches nothing.
void ShowReaderError(int32_t ErrCode, TLURMScardInvoker& Invoker);
