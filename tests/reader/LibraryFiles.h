#pragma once
// Library files as a workstation may hold them by mistake, made from a built library's
// bytes.
//
//   WriteBytes(dir / "lurmScard.dll", OtherArchitectureCopy(ReadBytes(built)));
#include <string>

// The bytes of a library file as a build for the other Windows architecture has them: its
// PE header's machine field says x86 where it said x64 and the other way round (what the
// system checks first; a 32-bit library in a 64-bit host is refused for it).
inline std::string OtherArchitectureCopy(std::string library) {
  const auto byteAt = [&](size_t at) { return static_cast<unsigned char>(library.at(at)); };
  const size_t pe = byteAt(0x3C) | byteAt(0x3D) << 8 | byteAt(0x3E) << 16 | byteAt(0x3F) << 24;
  const unsigned machine = byteAt(pe + 4) | byteAt(pe + 5) << 8;
  const unsigned other = machine == 0x8664 ? 0x014C : 0x8664;
  library.at(pe + 4) = static_cast<char>(other & 0xFF);
  library.at(pe + 5) = static_cast<char>(other >> 8);
  return library;
}
