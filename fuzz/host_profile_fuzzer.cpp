// The stand-in host's profile reader and its transcript fields, on any bytes.
//
// - A profile folder with any Host.ini, UserConfig.ini and Messages.txt loads or raises
//   HostProfileError, nothing else; a loaded catalogue fills any of its texts.
// - A transcript field read back gives the text written (UnescapeLine(EscapeLine(t)) is t),
//   the field holds no line end, and a recorded message line gives back its parameter and
//   text.
//
// Input: the three files, then a parameter and a text (FuzzedDataProvider strings).
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HostProfile.h"

namespace {

const std::string& WorkDir() {
  static const std::string dir = [] {
    char path[] = "/tmp/rs-hostprofile-fuzz-XXXXXX";
    if (mkdtemp(path) == nullptr) std::abort();
    return std::string(path);
  }();
  return dir;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string hostIni = input.ConsumeRandomLengthString(2048);
  const std::string userConfig = input.ConsumeRandomLengthString(1024);
  const std::string messages = input.ConsumeRandomLengthString(2048);
  const std::string param = input.ConsumeRandomLengthString(300);
  const std::string text = input.ConsumeRandomLengthString(300);

  const std::string& dir = WorkDir();
  WriteFile(dir + "/Host.ini", hostIni);
  WriteFile(dir + "/UserConfig.ini", userConfig);
  WriteFile(dir + "/Messages.txt", messages);
  try {
    const THostProfile profile = LoadHostProfile(dir);
    if (profile.SubAppPath.empty() ||
        (profile.SubAppPath.back() != '/' && profile.SubAppPath.back() != '\\'))
      Fail("the sub-application path does not end in a separator");
    for (const auto& [id, format] : profile.Catalogue) (void)FillMsgText(format, param);
  } catch (const HostProfileError&) {
  }

  for (const std::string& t : {param, text}) {
    const std::string field = EscapeLine(t);
    if (field.find_first_of("\r\n") != std::string::npos) Fail("an escaped field holds a line end");
    if (UnescapeLine(field) != t) Fail("an escaped field reads back otherwise");
  }
  const std::string escapedParam = EscapeLine(param);
  // The one ambiguity of the line format: a parameter that itself holds " text=".
  if (escapedParam.find(" text=") != std::string::npos) return 0;
  const auto message =
      ParseRecordedMessage("InforMsg 70000527 param=" + escapedParam + " text=" + EscapeLine(text));
  if (!message || message->Id != 70000527 || message->Param != param || message->Text != text)
    Fail("a recorded message reads back otherwise");
  return 0;
}
