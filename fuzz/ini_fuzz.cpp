// Fuzz target for the settings reader: any bytes as "Zuvrex5.INI", read for the keys the merge
// asks for. Property checked beyond "no crash, no sanitizer report, no exception": an integer
// key reads as the integer conversion of its text, or its default.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/ini_file.h"
#include "platform/int_conversion.h"

namespace {

constexpr std::int32_t kDefault = 99991;
const char kMissing[] = "\x01missing";

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void CheckInteger(const platform::IniFile& settings, const std::string& section,
                  const std::string& key) {
  const std::int32_t value = settings.ReadInteger(section, key, kDefault);
  const std::string text = settings.ReadString(section, key, kMissing);
  // ReadString decodes Windows-1251; for ASCII text that is the value's own bytes.
  if (text == kMissing || text.empty()) {
    fuzz::Require(value == kDefault, "a missing or empty integer key gives the default");
  } else if (IsAscii(text)) {
    fuzz::Require(value == platform::StrToIntDef(text, kDefault),
                  "an integer key reads as the conversion of its text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::ScratchPath("Zuvrex5.INI");
  fuzz::WriteScratch(path, std::string(reinterpret_cast<const char*>(data), size));
  const platform::IniFile settings(path);
  CheckInteger(settings, "main", "AddCount");
  for (const char* section : {"Add1", "add2", "ADD3"}) {
    CheckInteger(settings, section, "NP");
    CheckInteger(settings, section, "S_DOX");
    settings.ReadString(section, "TIN", "0123456789");
  }
  return 0;
}
