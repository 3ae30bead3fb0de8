// A read-only reader of Windows INI files: "[section]" headers and "key=value" lines.
// Section and key names match ignoring ASCII letter case; values are trimmed of surrounding
// blanks; ';' and '#' start comment lines. A missing file reads as an empty one.
//
// The details, chosen to read files as Windows' GetPrivateProfileString does (except that
// Windows knows no '#' comments):
// - Lines end in LF or CRLF; a UTF-8 byte order mark at the start is skipped.
// - A line is a comment only when its first non-blank character is ';' or '#'; text after a
//   value ("3 ; note") belongs to the value.
// - "[ name ]" is a header (blanks inside trimmed, text after ']' ignored); a line starting
//   with '[' without ']' is ignored. When a section header repeats, only the first section of
//   that name counts; the later one and its keys are ignored.
// - "key = value" is split at the first '='; blanks around key and value are trimmed. If the
//   trimmed value starts and ends with a double quote (and is at least two characters long),
//   that one pair of quotes is removed and what is inside is kept verbatim: Name="  a  "
//   gives the value '  a  ' with its blanks. Single quotes are kept.
// - Lines without '=', with an empty key, or before the first section are ignored.
// - A key repeated within its section: the first occurrence wins.
// - Names and values are Windows-1251 text in the file; names are matched after decoding.
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
  // Upper-cased section name -> upper-cased key -> raw value. Names are decoded to UTF-8 and
  // upper-cased in the ASCII range only; values stay in the file's bytes (Windows-1251).
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

}  // namespace platform
