#pragma once
// Profile (INI) files with the Windows profile-string rules, one implementation for
// every platform (the system's own profile API is not used: it caches files, and it
// rewrites a whole file in place, so a failure part way leaves it half written).
//
//   std::string type = IniReadString("C:\\app\\SysConfig.ini", "system", "ServerType", "");
//   IniWriteString("C:\\app\\UserConfig.ini", "NuvReader", "nuvreader", "读卡器 1");
//
// Reading:
// - Lines end with CR LF, CR or LF. A line whose first non-blank byte is "[" and that
//   holds a "]" starts a section; its name is what lies between the "[" and the last
//   "]", blanks around it dropped. Any other line with "=" is a key: the name before the first "=",
//   the value after it, blanks around both dropped. A line without "=" is no key. Lines before the
//   first section form a section with the empty name.
// - A NUL ends a name or a value where it stands; the line's "[", "]", "=" and its
//   blanks at either end are found on the whole line. "ServerType=99" followed by
//   NULs gives "99"; "k= 99 \0x" gives "99 ".
// - Section and key names match regardless of ASCII letter case; the names asked for
//   lose their surrounding blanks. The first of duplicate sections, and within it the
//   first of duplicate keys, is the one read.
// - A value enclosed in one pair of matching single or double quotes loses them.
// - A missing file, section or key, or an unreadable file gives the default exactly
//   as passed; a key with an empty value gives the empty text. An empty key name
//   asks for a line "=value".
// - Blanks: space, tab, vertical tab, form feed and Ctrl-Z (0x1A). Texts are bytes in
//   the system code page (936): a double-byte character is never split, so its
//   second byte is never taken for "]" or a letter.
// - A file that starts with the UTF-16 LE byte-order mark is read as UTF-16 by the
//   same rules: names asked for are converted to UTF-16, values back to the system
//   code page ("?" for a character it lacks).
// - A UTF-8 byte-order mark at the start of the file is skipped; the text after it is
//   not converted from UTF-8.
//
// Where Wine's GetPrivateProfileStringA reads otherwise (the tests compare the two on
// tables and on random files, ANSI and UTF-16 LE, with NULs):
// - it drops trailing blanks and a pair of quotes from the default as well;
// - it keeps a line without "=" as a key without value that hides a later key of that
//   name;
// - it converts the text of a file with a UTF-8 byte-order mark from UTF-8 (bytes that
//   are no UTF-8 come back as "?"), and it reads UTF-16 BE files (byte-order mark FE FF);
// - it reads an ANSI file through UTF-16 as well, so an invalid double-byte sequence
//   (a lead byte without a valid second byte) may come back changed; ours gives the
//   bytes as they stand (not compared by the tests);
// - it keeps files in a cache and looks for a name without a folder in the Windows
//   folder; ours reads the file each time and takes such a name as it stands.
//
// Writing adds or replaces one key and leaves every other byte of the file as it was.
// A replaced key keeps its line, its spelling and its spacing; only the value bytes
// change (bytes after a NUL in the value stay). A new key goes after the last
// non-blank line of the first section of that name, a new section (after a blank
// line) at the end of the file; new lines use the file's first line end (CR LF in a
// new file). A UTF-16 LE file is written in UTF-16 LE; a file with a UTF-8 mark gets
// code-page bytes as any other. A value that reading would change (blanks at either
// end, or enclosed in matching quotes) is written inside double quotes, so it reads
// back as written. The file is created when missing. A symbolic link is written
// through to its target; owner, permissions, attributes, access rights and other hard
// links stay (Windows: a new file belongs to the user who writes it, so a file owned by
// someone else, or whose rights a new file would not get, is written in place). The new
// content replaces the file through a temporary file beside it where that keeps all of
// this, and is written into the file in place otherwise or
// when the folder refuses new files, space is short or the file is held open; either
// way a failed write leaves the old bytes and no other file. A read-only file is
// refused, as by the system. Paths of any length work. Pass paths that hold a folder.
//
// Other writers: the file is read, compared and written through one handle that keeps
// other writers out from the read to the last byte written (Windows: it shares
// reading only; elsewhere: an exclusive flock lock, which keeps out the writers that
// lock the file too), so the result is always one whole version: another writer's
// bytes never mix with ours, and no version written meanwhile is lost (but for the
// moment between letting go of the file and moving the new one over it when Windows
// replaces a file as a whole: it refuses the move while the file is held). A file
// that another program holds in a way that refuses this is tried again until one
// second after the call, however many steps the write takes; then the write is
// refused as before, except where the holder lets others write the file too (a
// Windows share mode with writing): that file is written as before, its holder's
// writes not kept out. The file held is always the one its name names: elsewhere than
// Windows, a file that another writer replaces while this one waits for it is held
// again under its name (refused, at the end of the wait, when that one is held too),
// and a new version that a program which does not lock moves in before the write is
// read and edited again. A missing file is created without ever replacing one that
// another writer created meanwhile: that file is read and edited instead, so two
// writers creating it at once keep both keys. Readers are not kept out: a read during
// an in-place write may see it half done.
//
// A crash (of the process or the system) in the middle of an in-place write can
// leave: while the bytes beyond the old end are written, the old bytes followed by
// part of the new end (the old keys read as before; a key added at the end may read
// cut short); while the changed bytes are written, the old and new bytes mixed
// between the first changed byte and the old end; between that write and the cut of
// a file that shrinks, the new bytes followed by the old file's last bytes. The
// growth is written and flushed before any old byte changes, the changed bytes go in
// one write and the cut comes last, so the old bytes are at risk only for the time
// of that write and the cut. A file replaced as a whole is either the old or the new
// one.
//
// Where Wine's WritePrivateProfileStringA writes otherwise: it rewrites the whole file
// from what it read, in place (on a full disk the file is left cut short and the call
// still reports success), converts to UTF-8 in a file with a UTF-8 mark, writes names
// and values that cannot be read back (IniFormatError here) and does not quote values;
// its paths are limited to MAX_PATH.
#include <optional>
#include <string>
#include <string_view>

#include "platform/Exception.h"

// A name or value that cannot be written: it holds a line end or NUL, a section or key
// name is empty or ends in a lone lead byte (it would take the "]" or "=" after it as
// its second byte), a key name holds "=" or starts with "[", or the file is UTF-16 and
// the text is not valid in the system code page.
class IniFormatError : public Exception {
 public:
  using Exception::Exception;
};

// A profile file that could not be written: the operation that failed and the
// system's error code at that moment (GetLastError or errno). The file holds its old
// bytes.
class IniWriteError : public Exception {
 public:
  IniWriteError(const std::string& path, const std::string& operation, long osError);
  const std::string& Operation() const { return FOperation; }
  long OsError() const { return FOsError; }

 private:
  std::string FOperation;
  long FOsError;
};

// The rules on a file's bytes (any of the encodings above): the value of key in
// section, or nothing.
std::optional<std::string> IniFindValue(std::string_view fileBytes, std::string_view section,
                                        std::string_view key);
// The file's bytes with key in section set to value. Raises IniFormatError.
std::string IniWithValue(std::string_view fileBytes, std::string_view section, std::string_view key,
                         std::string_view value);

// The value of key in section of the file, or defaultValue. Never raises for the file.
std::string IniReadString(const std::string& fileName, std::string_view section,
                          std::string_view key, std::string_view defaultValue);
// Sets key in section of the file. Raises IniFormatError or IniWriteError.
void IniWriteString(const std::string& fileName, std::string_view section, std::string_view key,
                    std::string_view value);
