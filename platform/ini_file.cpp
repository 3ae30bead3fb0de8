#include "platform/ini_file.h"

#include <string_view>

#include "platform/codepage.h"
#include "platform/int_conversion.h"
#include "platform/os.h"

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// A section or key name as stored and as looked up: decoded from Windows-1251 (names in the
// file) and upper-cased in the ASCII range only.
std::string FileNameKey(std::string_view raw) {
  return UpperAscii(DecodeToUtf8(raw, CodePage::kCp1251));
}

}  // namespace

IniFile::IniFile(const std::string& path) {
  std::string content;
  try {
    content = ReadWholeFile(path);
  } catch (const OsError&) {
    return;  // missing or unreadable: no settings
  }
  std::string_view text = content;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  // The section being read; nullptr before the first header and inside a repeated header
  // (only the first section of a name counts, as on Windows).
  std::map<std::string, std::string>* section = nullptr;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;

    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string_view::npos) continue;  // not a header; ignored
      const std::string name = FileNameKey(Trim(line.substr(1, close - 1)));
      const auto inserted = sections_.emplace(name, std::map<std::string, std::string>{});
      section = inserted.second ? &inserted.first->second : nullptr;
      continue;
    }

    if (section == nullptr) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) continue;
    std::string_view value = Trim(line.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    section->emplace(FileNameKey(key), std::string(value));  // the first occurrence wins
  }
}

std::int32_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                                  std::int32_t fallback) const {
  const auto s = sections_.find(UpperAscii(section));
  if (s == sections_.end()) return fallback;
  const auto k = s->second.find(UpperAscii(key));
  if (k == s->second.end() || k->second.empty()) return fallback;
  return StrToIntDef(k->second, fallback);
}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& fallback) const {
  const auto s = sections_.find(UpperAscii(section));
  if (s == sections_.end()) return fallback;
  const auto k = s->second.find(UpperAscii(key));
  if (k == s->second.end()) return fallback;
  return DecodeToUtf8(k->second, CodePage::kCp1251);
}

}  // namespace platform
