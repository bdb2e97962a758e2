#pragma once
// Short texts kept for the life of the process, beyond the life of the module that wrote
// them: a module that is unloaded and loaded again in the same process finds them again.
//
//   SetProcessNote("faulted-library-10000000", "SCListReaders\nprocessor fault C0000005");
//   std::optional<std::string> note = ProcessNote("faulted-library-10000000");
//
// Windows: each note is a small named section of the process's own (the name carries the
// process id), whose handle is kept open on purpose until the process ends: one kernel
// handle per note. Elsewhere the notes live in the module's memory, as long as it stays
// loaded. A note, once set, is not changed. Names are ASCII letters, digits and '-'; texts
// are at most kProcessNoteSize - 1 bytes (longer ones are cut).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t kProcessNoteSize = 512;

// Keeps text under name unless a note of that name exists; false when it cannot be kept.
bool SetProcessNote(std::string_view name, std::string_view text);
// The note kept under name, or nothing.
std::optional<std::string> ProcessNote(std::string_view name);
