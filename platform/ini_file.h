// A read-only reader of Windows INI files: "[section]" headers and "key=value" lines.
// Section and key names match ignoring ASCII letter case; values are trimmed of surrounding
// blanks; ';' and '#' start comment lines. A missing file reads as an empty one.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace platform {

class IniFile {
 public:
  // Reads and parses `path` at once; a missing or unreadable file gives an empty settings set.
  // The file is never written.
  explicit IniFile(const std::string& path);

  // The value of `key` in `section` converted with StrToIntDef: `fallback` when the section or
  // key is missing, the value is empty, or it is not a valid integer.
  std::int32_t ReadInteger(const std::string& section, const std::string& key,
                           std::int32_t fallback) const;

  // The text of `key` in `section` (decoded from Windows-1251 to UTF-8), or `fallback` when the
  // section or key is missing. A key present with an empty value gives the empty text.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;

 private:
  // Upper-cased section name -> upper-cased key -> raw value.
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

}  // namespace platform
