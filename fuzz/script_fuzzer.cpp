// The host simulator's script parser on any text: it returns lines or raises
// std::runtime_error, never anything else; each line has a known command and a line
// number within the text, in increasing order; and a script written back from the parsed
// lines (arguments quoted, with \" and \\) parses to the same lines.
//
// Input: the script text as it is (already in the system code page).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "Script.h"

namespace {

std::string Quoted(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool IsAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "ParseScript: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<TScriptLine> lines;
  try {
    lines = ParseScript(text);
  } catch (const std::runtime_error&) {
    return 0;
  }
  int lineCount = 1;
  for (char c : text) lineCount += c == '\n';
  int last = 0;
  std::string rewritten;
  bool ascii = true;
  for (const TScriptLine& line : lines) {
    if (line.Number <= last || line.Number > lineCount) Fail("line numbers out of order");
    if (line.Command.empty()) Fail("a line without a command");
    last = line.Number;
    rewritten += line.Command;
    for (const std::string& arg : line.Args) {
      if (arg.find('\n') != std::string::npos) Fail("an argument spans lines");
      ascii = ascii && IsAscii(arg);
      rewritten += " " + Quoted(arg);
    }
    rewritten += "\n";
  }
  // Quoted texts with double-byte characters are read by character, so only texts of
  // single-byte characters are written back byte by byte.
  if (!ascii) return 0;
  std::vector<TScriptLine> again;
  try {
    again = ParseScript(rewritten);
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "the written-back script does not parse: %s\n", e.what());
    std::abort();
  }
  if (again.size() != lines.size()) Fail("the written-back script has other lines");
  for (size_t i = 0; i < lines.size(); ++i) {
    if (again[i].Command != lines[i].Command || again[i].Args != lines[i].Args)
      Fail("the written-back script reads otherwise");
  }
  return 0;
}
