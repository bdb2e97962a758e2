#pragma once
// The current sub-application's parameter list, read and written in place in the host's
// own memory (layouts in host/HostParams.h). Entries are looked up by name with
// CompareText, the first match in list order winning; this module only appends entries
// and changes values in place, never removes or reorders them.
//
//   void* vo = GetCurSubAppVo();
//   HostString reader = GetParamStr(vo, "Global_nuvreader", HostString());
//   SetParamStr(GetCurSubAppVo(), "Global_nuvreader", "ACS ACR38U 0");
//
// Value release when a value is replaced: the old record is always disposed of (text and
// variant released, record freed). An owned object (kind 7) is destroyed through its class
// table unless the new value refers to the same object as kind 7 or kind 8; a borrowed
// object (kind 8) is never destroyed. When a kind-7 value is replaced by a kind-8 value
// referring to the same object, the object stays alive and the entry no longer owns it:
// whoever stored the kind-8 reference does.
//
// Names longer than 255 bytes are stored cut to 255 bytes; the full name then never
// matches the stored one.
#include <cstdint>
#include <string_view>

#include "host/HostParams.h"
#include "host/HostString.h"

// The runtime's text comparison: 0 when a and b have the same length and the same bytes
// once the 26 ASCII lower-case letters are mapped to capitals; no other byte is folded.
// Otherwise the sign orders a before or after b by the folded bytes, then by length.
//
//   CompareText("Global_NuvReader", "GLOBAL_NUVREADER") == 0
int CompareText(std::string_view a, std::string_view b);

// The first entry whose name matches, or null.
TParamEntry* FindParam(void* subAppVo, std::string_view name);

// The text of the first matching entry, whatever its kind; defaultValue when there is no
// such entry or the entry has no value record.
HostString GetParamStr(void* subAppVo, std::string_view name, const HostString& defaultValue);

// Stores kind and value under name: in place in the first matching entry (its name and
// place unchanged, the old value released as described above), else in a new entry
// appended to the list. The list takes ownership of value in every case; when appending
// fails, value is disposed of and the failure (std::bad_alloc) reaches the caller.
// Raises Exception, before changing anything, when value is the record the entry already
// holds.
void SetParam(void* subAppVo, std::string_view name, uint8_t kind, TParamValue* value);

// Stores text as a text value (kind 0) under name; the record shares text's block.
void SetParamStr(void* subAppVo, std::string_view name, const HostString& text);

// Releases the entry's current value: with releaseObject, destroys a kind-7 object (its
// memory block is freed directly when destroying fails) or forgets a kind-8 reference;
// then disposes of the record. Every failure here is swallowed.
void ReleaseParamValue(TParamEntry* entry, bool releaseObject);
