#pragma once
// The floating-point state a call into another library can leave behind (x87 control
// word, register stack top and tags, MXCSR), read and set on x86 in both builds, and the
// host's next expression, computed on the x87 unit.
//
//   const TFloatState before = ReadFloatState();
//   ... a call that faulted ...
//   EXPECT_EQ(ReadFloatState(), before);
//   EXPECT_EQ(ThreeTimesTwoPlusThreeHalves(), 7.5L);
#include <cstdint>
#include <ostream>

// The floating-point control state a call can leave behind.
struct TFloatState {
  uint16_t ControlWord = 0;
  uint16_t Top = 0;      // x87 register stack top (status word bits 11-13)
  uint16_t TagWord = 0;  // 0xFFFF: every x87 register empty
  uint32_t Mxcsr = 0;    // its control bits; the sticky exception flags may come and go
  friend bool operator==(const TFloatState&, const TFloatState&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const TFloatState& s) {
  return out << std::hex << "cw=" << s.ControlWord << " top=" << s.Top << " tags=" << s.TagWord
             << " mxcsr=" << s.Mxcsr << std::dec;
}

inline TFloatState ReadFloatState() {
  // The 28-byte x87 environment: control, status and tag words first, 32 bits each.
  uint32_t environment[7] = {};
  // fnstenv masks every x87 exception afterwards; fldenv puts the control word back.
  asm volatile("fnstenv %0\n\tfldenv %0" : "+m"(environment));
  uint32_t mxcsr = 0;
  asm volatile("stmxcsr %0" : "=m"(mxcsr));
  return {static_cast<uint16_t>(environment[0]), static_cast<uint16_t>((environment[1] >> 11) & 7),
          static_cast<uint16_t>(environment[2]), mxcsr & ~0x3Fu};
}

inline void SetFloatControl(uint16_t controlWord, uint32_t mxcsr) {
  asm volatile("fldcw %0" : : "m"(controlWord));
  asm volatile("ldmxcsr %0" : : "m"(mxcsr));
}

// The host's next floating-point expression, on the x87 unit in both builds.
inline long double ThreeTimesTwoPlusThreeHalves() {
  volatile long double three = 3, two = 2;
  return three * two + three / two;
}
