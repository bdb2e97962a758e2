#include <windows.h>

#include <cstring>

#include "platform/ProcessNote.h"

namespace {

std::string SectionName(std::string_view name) {
  return "Local\\ReaderSettings-" + std::to_string(GetCurrentProcessId()) + "-" + std::string(name);
}

}  // namespace

bool SetProcessNote(std::string_view name, std::string_view text) {
  const std::string sectionName = SectionName(name);
  HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      kProcessNoteSize, sectionName.c_str());
  if (section == nullptr) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(section);  // the first note stays; this handle is an extra one
    return true;
  }
  void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, kProcessNoteSize);
  if (view == nullptr) {
    CloseHandle(section);
    return false;
  }
  const size_t size = text.size() < kProcessNoteSize ? text.size() : kProcessNoteSize - 1;
  std::memcpy(view, text.data(), size);  // the section starts zero-filled: NUL after it
  UnmapViewOfFile(view);
  // The section handle stays open until the process ends, so the note outlives the module.
  return true;
}

std::optional<std::string> ProcessNote(std::string_view name) {
  const std::string sectionName = SectionName(name);
  HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, sectionName.c_str());
  if (section == nullptr) return std::nullopt;
  std::optional<std::string> text;
  if (const void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, kProcessNoteSize)) {
    const char* bytes = static_cast<const char*>(view);
    text = std::string(bytes, strnlen(bytes, kProcessNoteSize));
    UnmapViewOfFile(view);
  }
  CloseHandle(section);
  return text;
}
