#pragma once
// What is wrong with a library file that the system refused to load, read from the file's
// own header (the MZ header, the PE signature and its machine field), so that the operator
// and the log read "the file is empty" rather than the system's number for it, which
// differs between systems (an empty file: 1006 on Windows, 193 elsewhere) and whose text
// misleads ("the volume for a file has been externally altered").
//
//   TLibraryFileCheck c = CheckLibraryHeader(firstBytes, fileSize, kMachineX64);
//   if (c.Problem == TLibraryFileProblem::OtherArchitecture) ... c.Machine == kMachineX86
#include <cstdint>
#include <string>
#include <string_view>

// The machine field of a PE file header (IMAGE_FILE_MACHINE_*).
inline constexpr uint16_t kMachineX86 = 0x014C;
inline constexpr uint16_t kMachineX64 = 0x8664;
inline constexpr uint16_t kMachineArm = 0x01C4;
inline constexpr uint16_t kMachineArm64 = 0xAA64;

enum class TLibraryFileProblem {
  None,               // the header is that of a library for this process (or cannot be read)
  Empty,              // the file has no bytes
  NotWindowsLibrary,  // no MZ header or no PE signature where the MZ header points
  OtherArchitecture,  // a PE file built for another machine than ownMachine
};

struct TLibraryFileCheck {
  TLibraryFileProblem Problem = TLibraryFileProblem::None;
  uint16_t Machine = 0;  // the file's machine field, when it has one
};

// Checks the first bytes of a file of fileSize bytes (header: as many as were read; 4 KiB
// hold the headers of every usual library). A PE signature beyond what was read gives None:
// the header is then not judged.
TLibraryFileCheck CheckLibraryHeader(std::string_view header, uint64_t fileSize,
                                     uint16_t ownMachine);

// The machine as an operator may know it: "32 位 x86", "64 位 x64", "64 位 ARM64", or
// "机器类型 01F0" for the rest.
std::string MachineName(uint16_t machine);

// What is wrong, Chinese first, for the failure text of a load; empty for None.
//   LibraryFileProblemText({TLibraryFileProblem::Empty, 0}, kMachineX86)
//     == "文件为空（0 字节），不是可加载的库"
std::string LibraryFileProblemText(const TLibraryFileCheck& check, uint16_t ownMachine);
