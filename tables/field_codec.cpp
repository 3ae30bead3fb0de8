#include "tables/field_codec.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace tables {
namespace {

bool IsPad(char c) { return c == ' ' || c == '\0'; }

std::string_view TrimBoth(std::string_view raw) {
  std::size_t begin = 0;
  while (begin < raw.size() && IsPad(raw[begin])) ++begin;
  std::size_t end = raw.size();
  while (end > begin && IsPad(raw[end - 1])) --end;
  return raw.substr(begin, end - begin);
}

// Field bytes shown in an error message: non-printable bytes become '?', so that a message never
// carries control characters from a damaged file.
std::string Printable(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (char c : raw) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(u < 32 || u == 127 ? '?' : c);
  }
  return out;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool IsValidDate(int year, int month, int day) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  int limit = kDays[static_cast<std::size_t>(month - 1)];
  if (month == 2 && IsLeapYear(year)) limit = 29;
  return day <= limit;
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Digits(std::string_view text) {
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

// Parses a trimmed number text: optional sign, digits with an optional '.' or ',' as the decimal
// point, optional exponent. Anything else (inf, nan, hexadecimal, stray characters) fails.
std::optional<double> ParseNumberText(std::string_view text) {
  if (text.empty() || text.size() > 400) return std::nullopt;
  char buffer[401];
  std::size_t length = 0;
  std::size_t i = 0;
  if (text[0] == '+' || text[0] == '-') {
    if (text[0] == '-') buffer[length++] = '-';
    ++i;
    // A second sign would reach from_chars as the only one: "+-1" must not read as -1.
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) return std::nullopt;
  }
  bool digits = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == ',') {
      c = '.';
    } else if (c != '.' && c != 'e' && c != 'E' && c != '+' && c != '-') {
      return std::nullopt;
    }
    buffer[length++] = c;
  }
  if (!digits) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(buffer, buffer + length, value);
  if (error != std::errc() || end != buffer + length || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// The shortest fixed-point text that reads back as `value` (no exponent).
std::string ShortestFixed(double value) {
  // Large enough for the longest fixed form of any finite double.
  char buffer[1100];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return std::string(buffer, result.ptr);
}

// Rounds the shortest decimal text of `value` to `decimals` places, half away from zero.
// Working on the decimal text, not on the binary value, makes 0.125 round to 0.13 as a person
// expects, although the double nearest to 0.125 + 0.005 steps might say otherwise.
std::string RoundedText(double value, int decimals) {
  std::string text = ShortestFixed(std::fabs(value));
  std::size_t point = text.find('.');
  std::string whole = point == std::string::npos ? text : text.substr(0, point);
  std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
  bool round_up = fraction.size() > static_cast<std::size_t>(decimals) &&
                  fraction[static_cast<std::size_t>(decimals)] >= '5';
  fraction.resize(static_cast<std::size_t>(decimals), '0');
  std::string digits = whole + fraction;
  if (round_up) {
    std::size_t i = digits.size();
    while (i > 0) {
      --i;
      if (digits[i] == '9') {
        digits[i] = '0';
      } else {
        ++digits[i];
        break;
      }
      if (i == 0) digits.insert(digits.begin(), '1');
    }
  }
  const std::size_t whole_length = digits.size() - static_cast<std::size_t>(decimals);
  std::string out = digits.substr(0, whole_length);
  if (decimals > 0) out += "." + digits.substr(whole_length);
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  if (value < 0 && !zero) out.insert(out.begin(), '-');
  return out;
}

void WriteRightAligned(const std::string& text, int width, char* out) {
  const std::size_t w = static_cast<std::size_t>(width);
  std::memset(out, ' ', w - text.size());
  std::memcpy(out + (w - text.size()), text.data(), text.size());
}

void WriteNumberText(const std::string& text, const FieldDef& field, char* out) {
  if (text.size() > static_cast<std::size_t>(field.width)) {
    throw ValueError("the number " + text + " does not fit in " + std::to_string(field.width) +
                     " characters");
  }
  WriteRightAligned(text, field.width, out);
}

void WriteNumber(double value, const FieldDef& field, char* out) {
  FormatNumberField(value, field.width, field.decimals, out);
}

void WriteInteger(std::int64_t value, const FieldDef& field, char* out) {
  std::string text = std::to_string(value);
  if (field.decimals > 0) text += "." + std::string(static_cast<std::size_t>(field.decimals), '0');
  WriteNumberText(text, field, out);
}

void WriteDate(Date date, char* out) {
  char buffer[9];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", date.year, date.month, date.day);
  std::memcpy(out, buffer, 8);
}

std::string TextOf(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kBlank:
      return std::string();
    case Value::Kind::kInteger:
      return std::to_string(value.integer());
    case Value::Kind::kFloat:
      // "inf" or "nan" in a character column would be read back as text, not as a number.
      if (!std::isfinite(value.real())) throw ValueError("the number is not finite");
      return FormatNumberText(value.real());
    case Value::Kind::kText:
      return value.text();
    case Value::Kind::kDate:
      return FormatDateText(value.date());
    case Value::Kind::kLogical:
      return value.logical() ? "T" : "F";
  }
  return std::string();
}

void EncodeText(const FieldDef& field, const std::string& text, char* out,
                platform::CodePage page) {
  std::string bytes;
  if (!platform::TryEncodeFromUtf8(text, page, &bytes)) {
    throw ValueError("the text '" + text + "' cannot be written in the table's code page");
  }
  const std::size_t width = static_cast<std::size_t>(field.width);
  if (bytes.size() > width) {
    throw ValueError("the text '" + text + "' is longer than the column's " +
                     std::to_string(field.width) + " characters");
  }
  std::memcpy(out, bytes.data(), bytes.size());
  std::memset(out + bytes.size(), ' ', width - bytes.size());
}

}  // namespace

std::string_view TrimTrailing(std::string_view raw) {
  std::size_t end = raw.size();
  while (end > 0 && IsPad(raw[end - 1])) --end;
  return raw.substr(0, end);
}

std::optional<double> ParseNumberField(std::string_view raw) {
  const std::string_view text = TrimBoth(raw);
  if (text.empty() || text.find_first_not_of('*') == std::string_view::npos) return std::nullopt;
  if (const auto value = ParseNumberText(text)) return value;
  throw ValueError("'" + Printable(text) + "' is not a number");
}

std::optional<Date> ParseDateField(std::string_view raw) {
  const std::string_view text = TrimBoth(raw);
  if (text.empty() || text.find_first_not_of('0') == std::string_view::npos) return std::nullopt;
  if (text.size() == 8 && AllDigits(text)) {
    const int year = Digits(text.substr(0, 4));
    const int month = Digits(text.substr(4, 2));
    const int day = Digits(text.substr(6, 2));
    if (IsValidDate(year, month, day)) return Date{year, month, day};
  }
  throw ValueError("'" + Printable(raw) + "' is not a date");
}

std::optional<bool> ParseLogicalField(char raw) {
  switch (raw) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
      return true;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
      return false;
    default:
      return std::nullopt;
  }
}

std::optional<Date> ParseDateText(std::string_view text) {
  if (text.size() == 8 && AllDigits(text)) {
    const Date date{Digits(text.substr(0, 4)), Digits(text.substr(4, 2)),
                    Digits(text.substr(6, 2))};
    if (IsValidDate(date.year, date.month, date.day)) return date;
    return std::nullopt;
  }
  const std::size_t first = text.find('.');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = text.find('.', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::string_view day = text.substr(0, first);
  const std::string_view month = text.substr(first + 1, second - first - 1);
  const std::string_view year = text.substr(second + 1);
  if (day.size() < 1 || day.size() > 2 || month.size() < 1 || month.size() > 2 ||
      year.size() != 4 || !AllDigits(day) || !AllDigits(month) || !AllDigits(year)) {
    return std::nullopt;
  }
  const Date date{Digits(year), Digits(month), Digits(day)};
  if (!IsValidDate(date.year, date.month, date.day)) return std::nullopt;
  return date;
}

std::string FormatDateText(Date date) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", date.day, date.month, date.year);
  return buffer;
}

std::string FormatNumberText(double value) {
  if (value == 0) return "0";  // also turns -0 into 0
  return ShortestFixed(value);
}

void FormatNumberField(double value, int width, int decimals, char* out) {
  if (!std::isfinite(value)) throw ValueError("the number is not finite");
  FieldDef field;
  field.width = width;
  field.decimals = decimals;
  WriteNumberText(RoundedText(value, decimals), field, out);
}

Value DecodeField(const FieldDef& field, const char* record, platform::CodePage page) {
  const std::string_view raw(record + field.offset, static_cast<std::size_t>(field.width));
  switch (field.type) {
    case 'N':
    case 'F': {
      const auto number = ParseNumberField(raw);
      if (!number) return Value();
      const double v = *number;
      if (field.decimals == 0 && std::trunc(v) == v && std::fabs(v) < 9007199254740992.0) {
        return Value::Integer(static_cast<std::int64_t>(v));
      }
      return Value::Float(v);
    }
    case 'D': {
      const auto date = ParseDateField(raw);
      return date ? Value::FromDate(*date) : Value();
    }
    case 'L': {
      const auto flag = ParseLogicalField(raw[0]);
      return flag ? Value::Logical(*flag) : Value();
    }
    default: {
      const std::string_view text = TrimTrailing(raw);
      if (text.empty()) return Value();
      return Value::Text(platform::DecodeToUtf8(text, page));
    }
  }
}

void EncodeField(const FieldDef& field, const Value& value, char* record, platform::CodePage page) {
  char* out = record + field.offset;
  if (value.blank()) {
    ClearField(field, record);
    return;
  }
  switch (field.type) {
    case 'C': {
      const std::string text = TextOf(value);
      if (text.empty()) {
        ClearField(field, record);
      } else {
        EncodeText(field, text, out, page);
      }
      return;
    }
    case 'N':
    case 'F':
      switch (value.kind()) {
        case Value::Kind::kInteger:
          WriteInteger(value.integer(), field, out);
          return;
        case Value::Kind::kFloat:
          WriteNumber(value.real(), field, out);
          return;
        case Value::Kind::kText: {
          const std::string_view text = TrimBoth(value.text());
          if (text.empty()) {
            ClearField(field, record);
            return;
          }
          const auto number = ParseNumberText(text);
          if (!number) throw ValueError("'" + value.text() + "' is not a number");
          WriteNumber(*number, field, out);
          return;
        }
        default:
          throw ValueError("a " +
                           std::string(value.kind() == Value::Kind::kDate ? "date" : "logical") +
                           " cannot be written into a number column");
      }
    case 'D':
      switch (value.kind()) {
        case Value::Kind::kDate:
          WriteDate(value.date(), out);
          return;
        case Value::Kind::kText: {
          const std::string_view text = TrimBoth(value.text());
          if (text.empty()) {
            ClearField(field, record);
            return;
          }
          const auto date = ParseDateText(text);
          if (!date) throw ValueError("'" + value.text() + "' is not a date");
          WriteDate(*date, out);
          return;
        }
        default:
          throw ValueError("the value " + TextOf(value) + " is not a date");
      }
    case 'L':
      switch (value.kind()) {
        case Value::Kind::kLogical:
          *out = value.logical() ? 'T' : 'F';
          return;
        case Value::Kind::kInteger:
          if (value.integer() == 0 || value.integer() == 1) {
            *out = value.integer() == 1 ? 'T' : 'F';
            return;
          }
          break;
        case Value::Kind::kText: {
          const std::string_view text = TrimBoth(value.text());
          if (text.empty() || text == "?") {
            ClearField(field, record);
            return;
          }
          if (text.size() == 1) {
            if (const auto flag = ParseLogicalField(text[0])) {
              *out = *flag ? 'T' : 'F';
              return;
            }
          }
          break;
        }
        default:
          break;
      }
      throw ValueError("the value " + TextOf(value) + " is not a logical value");
    default:
      throw ValueError(std::string("columns of type '") + field.type + "' cannot be written");
  }
}

void ClearField(const FieldDef& field, char* record) {
  std::memset(record + field.offset, field.type == 'L' ? '?' : ' ',
              static_cast<std::size_t>(field.width));
}

}  // namespace tables
