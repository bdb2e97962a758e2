#pragma once
// The platform part of the profile functions (Profile.h): file access and the
// conversions between the system code page and UTF-16. One implementation per
// platform; nothing outside the profile functions uses it.
//
//   std::string bytes;
//   long error = 0;
//   if (ReadProfileFile("C:\\app\\SysConfig.ini", bytes, error) == TFileReadResult::Read) ...
#include <functional>
#include <optional>
#include <string>
#include <string_view>

enum class TFileReadResult { Read, Missing, Failed };

// Reads the whole file into bytes; Missing when the file or its folder does not exist,
// Failed (with the system's error code in osError) when it exists but cannot be read.
TFileReadResult ReadProfileFile(const std::string& path, std::string& bytes, long& osError);

// Gives the file's new content: edit receives the current bytes (nothing for a missing
// file) and returns the new ones. It is called again, with the other version, when
// another writer created the file meanwhile, or (elsewhere than Windows) a program
// that does not take the lock moved a new version in under its name before the write.
// A symbolic link is followed to the file it names.
// The new content replaces the file as a whole through a temporary file beside it
// when that keeps everything that belongs to the file (owner, permissions,
// attributes, access rights, extended attributes, other hard links; Windows checks the
// temporary file's owner and rights against the old file's, as a new file belongs to
// the user who makes it); otherwise, or
// when the folder refuses the temporary file, space is short or the file is held
// open, it is written into the file in place: first the bytes beyond the old end
// (the file is cut back to its old size when they do not fit), flushed, then the
// changed bytes, then the cut of a file that shrinks. The file is held against other
// writers from the read to the end of the write (Profile.h says how), and a missing
// file is created without ever replacing one that appeared meanwhile; the waits for
// other writers end one second after the call, however many passes it takes. Raises
// IniWriteError, IniFormatError from edit; on every failure the file holds its old
// bytes and no temporary file is left.
void UpdateProfileFile(const std::string& path,
                       const std::function<std::string(const std::string* oldBytes)>& edit);

// For tests: hook(context) is called when a write has waited for another writer up to
// its deadline, just before its last attempt to hold the file (a test lets go of the
// file there and moves a new version in under its name, as a rival that finishes just
// then). nullptr: none. Not for use while a write runs.
//
//   SetProfileDeadlineHook([](void* rival) { static_cast<TRival*>(rival)->Finish(); }, &rival);
void SetProfileDeadlineHook(void (*hook)(void* context), void* context);
// Calls the hook above, if any.
void RunProfileDeadlineHook();

// For tests: hook(context) is called when a write that replaces the file as a whole has
// let go of the old file and is about to move the new one in (a test changes the old
// file there, as another writer that takes it just then). nullptr: none. Not for use
// while a write runs.
void SetProfileMoveHook(void (*hook)(void* context), void* context);
// Calls the hook above, if any.
void RunProfileMoveHook();

// For tests: hook(context) is called when a write that replaces the file as a whole has
// moved the new one in, before it reads back what another writer put into the old file
// just before the move (a test tries to write the file there, as a third writer that
// comes just then). nullptr: none. Not for use while a write runs.
void SetProfileMovedHook(void (*hook)(void* context), void* context);
// Calls the hook above, if any.
void RunProfileMovedHook();

// For tests under Wine, whose files never carry rights inherited from their folder: when
// forced, every file is taken as one whose rights may all come from its folder, so that
// a write replaces it as a whole where it would on NTFS (whether the new file gets the
// same owner and rights is still checked). No effect elsewhere than Windows.
//
//   SetProfileReplaceForced(true);
void SetProfileReplaceForced(bool forced);
bool ProfileReplaceForced();

// For tests: shim(osError, context) is called with the system's answer to each attempt of
// a write to open the existing file (0: it opened), and its result is taken instead (0
// only where the system's answer was 0), so that a test under Wine meets the answers
// Windows gives: ERROR_ACCESS_DENIED for a file whose deletion is pending, where Wine
// answers ERROR_SHARING_VIOLATION. nullptr: none. Windows only; not for use while a
// write runs.
void SetProfileOpenShim(long (*shim)(long osError, void* context), void* context);
// The shim's answer to osError; osError without a shim.
long RunProfileOpenShim(long osError);

// Text in the system code page to UTF-16; nothing when it is not valid there (a lone
// lead byte, a byte that starts no character).
std::optional<std::u16string> AnsiToUtf16(std::string_view text);
// UTF-16 to the system code page; a character the code page lacks (or a lone
// surrogate) becomes "?", as the system's own conversion gives it.
std::string Utf16ToAnsi(std::u16string_view text);
