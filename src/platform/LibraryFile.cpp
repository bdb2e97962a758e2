#include "platform/LibraryFile.h"

#include "platform/ErrorTexts.h"

namespace {

// Offsets of the headers: the MZ header's pointer to the PE signature, the machine field
// right after the signature.
constexpr size_t kDosHeaderSize = 0x40;
constexpr size_t kPeOffsetField = 0x3C;
constexpr size_t kPeSignatureSize = 4;

uint32_t ReadLittleEndian(std::string_view bytes, size_t at, size_t size) {
  uint32_t value = 0;
  for (size_t i = 0; i < size; ++i)
    value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return value;
}

}  // namespace

TLibraryFileCheck CheckLibraryHeader(std::string_view header, uint64_t fileSize,
                                     uint16_t ownMachine) {
  if (fileSize == 0) return {TLibraryFileProblem::Empty, 0};
  if (header.size() < kDosHeaderSize || header.substr(0, 2) != "MZ")
    return {TLibraryFileProblem::NotWindowsLibrary, 0};
  const uint32_t peOffset = ReadLittleEndian(header, kPeOffsetField, 4);
  if (uint64_t{peOffset} + kPeSignatureSize + 2 > fileSize)
    return {TLibraryFileProblem::NotWindowsLibrary, 0};
  if (uint64_t{peOffset} + kPeSignatureSize + 2 > header.size()) return {};
  if (header.substr(peOffset, kPeSignatureSize) != std::string_view("PE\0\0", kPeSignatureSize))
    return {TLibraryFileProblem::NotWindowsLibrary, 0};
  const auto machine =
      static_cast<uint16_t>(ReadLittleEndian(header, peOffset + kPeSignatureSize, 2));
  if (machine != ownMachine) return {TLibraryFileProblem::OtherArchitecture, machine};
  return {TLibraryFileProblem::None, machine};
}

std::string MachineName(uint16_t machine) {
  switch (machine) {
    case kMachineX86:
      return "32 位 x86";
    case kMachineX64:
      return "64 位 x64";
    case kMachineArm:
      return "32 位 ARM";
    case kMachineArm64:
      return "64 位 ARM64";
    default:
      return "机器类型 " + errortext::HexCode(machine, 4);
  }
}

std::string LibraryFileProblemText(const TLibraryFileCheck& check, uint16_t ownMachine) {
  switch (check.Problem) {
    case TLibraryFileProblem::None:
      return {};
    case TLibraryFileProblem::Empty:
      return errortext::kLibraryFileEmpty;
    case TLibraryFileProblem::NotWindowsLibrary:
      return errortext::kLibraryFileNotWindows;
    case TLibraryFileProblem::OtherArchitecture:
      return errortext::LibraryOtherArchitectureText(MachineName(check.Machine),
                                                     MachineName(ownMachine));
  }
  return {};
}
