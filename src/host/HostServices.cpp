#include "host/HostServices.h"

#include <cstring>

#include "platform/DoubleByte.h"
#include "platform/ErrorTexts.h"
#include "platform/SharedHeap.h"

namespace {

// A block the shared heap refused to free goes to the host log, where a host developer looks
// for the cause when the heap later ends the process (C0000374).
void LogRefusedFree(const void* block, uint32_t systemError) {
  const std::string text =
      errortext::SharedFreeRefusedText(reinterpret_cast<uintptr_t>(block), systemError);
  Error("1", text.c_str());
}

// Set as the module's code is loaded: every module that reaches the host's services logs so.
const bool kRefusedFreesLogged = (SetSharedFreeRefusalReport(&LogRefusedFree), true);

}  // namespace

TShortText MakeShortText(std::string_view text) {
  TShortText shortText{};
  const size_t length = CutAtCharBoundary936(text, sizeof(shortText.Chars)).size();
  shortText.Length = static_cast<uint8_t>(length);
  if (length > 0) std::memcpy(shortText.Chars, text.data(), length);
  return shortText;
}

HostString AppPath() {
  HostString result;
  GetAppPath(result.Out());
  return result;
}

HostString CurSubAppPath() {
  HostString result;
  GetCurSubAppPath(result.Out());
  return result;
}

HostString CurSubAppCode() {
  HostString result;
  GetCurSubAppCode(result.Out());
  return result;
}

HostString CurFuncCode() {
  HostString result;
  GetCurFuncCode(result.Out());
  return result;
}

HostString UserConfigParam(const HostString& section, const HostString& key,
                           const HostString& defaultValue) {
  HostString result;
  GetUserConfigParam(section.Get(), key.Get(), defaultValue.Get(), result.Out());
  return result;
}

void ShowHostMsg(int32_t msgId, std::string_view param) {
  TShortText shortText = MakeShortText(param);
  InforMsg(msgId, &shortText, true);
}

HostString HostMsgText(int32_t msgId, std::string_view param) {
  TShortText shortText = MakeShortText(param);
  HostString result;
  GetMsg(msgId, &shortText, true, result.Out());
  return result;
}

void ShowHostText(const HostString& text) { InfoMsgBox(text.Get(), 0); }
