#pragma once
// HostString: the module's owner of one reference to a host string.
//
//   HostString path = HostString::Take(raw);   // adopts the reference in raw
//   std::string_view v = path.View();
//
// Copies add a reference, moves transfer it; the empty value holds null. The text is
// shared with the host byte for byte, so it may be handed across the boundary with
// Get() (borrowed) or Release() (the receiver now owns the reference).
#include <string_view>
#include <utility>

#include "host/HostMemory.h"

class HostString {
 public:
  HostString() = default;
  HostString(std::string_view text) : FStr(HostStrNew(text.data(), text.size())) {}
  HostString(const char* text) : HostString(std::string_view(text)) {}

  // Adopts a reference that the caller holds (for example one the host returned).
  static HostString Take(HostStr raw) {
    HostString s;
    s.FStr = raw;
    return s;
  }

  HostString(const HostString& other) : FStr(other.FStr) { HostStrAddRef(FStr); }
  HostString(HostString&& other) noexcept : FStr(std::exchange(other.FStr, nullptr)) {}
  HostString& operator=(HostString other) noexcept {
    std::swap(FStr, other.FStr);
    return *this;
  }
  ~HostString() { HostStrRelease(FStr); }

  HostStr Get() const { return FStr; }
  HostStr Release() { return std::exchange(FStr, nullptr); }
  // The slot for a host function that writes a string result; the old value goes first.
  HostStr* Out() {
    HostStrRelease(std::exchange(FStr, nullptr));
    return &FStr;
  }

  std::string_view View() const {
    return FStr == nullptr ? std::string_view() : std::string_view(FStr, HostStrLength(FStr));
  }
  // NUL-terminated; "" for the empty text.
  const char* CStr() const { return FStr == nullptr ? "" : FStr; }
  bool Empty() const { return FStr == nullptr || HostStrLength(FStr) == 0; }
  int32_t Length() const { return HostStrLength(FStr); }

  friend bool operator==(const HostString& a, const HostString& b) { return a.View() == b.View(); }

 private:
  HostStr FStr = nullptr;
};
