#pragma once
// The host module services as the module uses them: thin C++ wrappers over HostApi.h that
// hand back texts as HostString owners and fill the short parameter text of a message.
//
//   HostString dir = CurSubAppPath();                 // ends in a path separator
//   ShowHostMsg(kMsgReaderStored, readerName);        // parameter text cut to <= 255 bytes
//
// Every call goes straight to the host; nothing is cached, so each use sees the host's
// current state.
#include <cstdint>
#include <string_view>

#include "host/HostApi.h"
#include "host/HostString.h"

// A short text holding text cut to at most 255 bytes at a character boundary of code
// page 936: 254 bytes when byte 255 would be a lead byte, whose trail byte would then be
// the first byte of whatever the host puts after the parameter. All of text when shorter.
TShortText MakeShortText(std::string_view text);

HostString AppPath();
HostString CurSubAppPath();
HostString CurSubAppCode();
HostString CurFuncCode();

// The user's configured value of section/key, or defaultValue when none.
HostString UserConfigParam(const HostString& section, const HostString& key,
                           const HostString& defaultValue);

// Shows the catalogue message msgId with param as its parameter text (flag true, as every
// message of this module) and returns when the operator has dismissed it.
void ShowHostMsg(int32_t msgId, std::string_view param = {});

// The catalogue text of msgId, not shown.
HostString HostMsgText(int32_t msgId, std::string_view param = {});

// Shows a text the module built (kind 0).
void ShowHostText(const HostString& text);
