#include <map>

#include "platform/ProcessNote.h"

namespace {

std::map<std::string, std::string, std::less<>>& Notes() {
  static std::map<std::string, std::string, std::less<>> notes;
  return notes;
}

}  // namespace

bool SetProcessNote(std::string_view name, std::string_view text) {
  if (text.size() >= kProcessNoteSize) text = text.substr(0, kProcessNoteSize - 1);
  Notes().emplace(std::string(name), std::string(text));
  return true;
}

std::optional<std::string> ProcessNote(std::string_view name) {
  const auto& notes = Notes();
  const auto found = notes.find(name);
  if (found == notes.end()) return std::nullopt;
  return found->second;
}
