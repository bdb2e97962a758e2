#pragma once
// One owner type for every handle the module holds: a font, a brush, a device context, a
// file, a registry key, a loaded module. Move-only; the handle is closed exactly once, by
// the last owner, with the Close function object of its type.
//
//   struct DeleteGdiObject { void operator()(HGDIOBJ h) const noexcept { DeleteObject(h); } };
//   using UniqueFont = UniqueHandle<HFONT, DeleteGdiObject>;
//   UniqueFont font(CreateFontW(...));      // closed when font goes out of scope
//   font.Reset(CreateFontW(...));           // the old font is closed first
//
// The empty value is T{} (a null pointer, handle 0): it is never passed to Close. A handle
// type whose failure value is something else (INVALID_HANDLE_VALUE) is turned into T{}
// before it is stored. Copy is deleted.
#include <utility>

template <class T, class Close>
class UniqueHandle {
 public:
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(T handle) noexcept : FHandle(handle) {}
  ~UniqueHandle() { Reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : FHandle(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  T Get() const noexcept { return FHandle; }
  explicit operator bool() const noexcept { return FHandle != T{}; }

  // Closes the handle held (if any) and holds handle instead.
  void Reset(T handle = T{}) noexcept {
    T old = std::exchange(FHandle, handle);
    if (old != T{}) Close{}(old);
  }
  // Gives the handle up without closing it; the caller owns it now.
  [[nodiscard]] T Release() noexcept { return std::exchange(FHandle, T{}); }

 private:
  T FHandle{};
};
