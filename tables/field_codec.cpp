#include "tables/field_codec.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "tables/bytes.h"

namespace tables {
namespace {

// Exactly representable powers of ten: a mantissa below 2^53 divided by one of them is the
// correctly rounded value of the decimal text, the same double that from_chars gives.
constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
constexpr std::uint64_t kExactMantissa = 1ull << 53;

bool IsPad(char c) { return c == ' ' || c == '\0'; }

// Blank runs as whole words: eight or four blanks form the same word on any byte order.
constexpr std::uint64_t kEightBlanks = 0x2020202020202020ull;
constexpr std::uint32_t kFourBlanks = 0x20202020u;

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

// Room for the longest fixed-point text of any finite double.
constexpr std::size_t kFixedBufferSize = 1100;

// Writes the shortest fixed-point text that reads back as `value` (no exponent); returns its end.
char* ShortestFixed(double value, char* buffer) {
  return std::to_chars(buffer, buffer + kFixedBufferSize, value, std::chars_format::fixed).ptr;
}

// Writes `value` rounded to `decimals` places, half away from zero, into `out` (room for
// kFixedBufferSize + 2 characters) and returns the length. Rounding the shortest decimal text,
// not the binary value, makes 2.675 round to 2.68 as a person expects, although the double
// nearest to 2.675 lies a little below it.
std::size_t RoundedText(double value, int decimals, char* out) {
  char digits_buffer[kFixedBufferSize];
  const char* end = ShortestFixed(std::fabs(value), digits_buffer);
  const char* point = std::find(static_cast<const char*>(digits_buffer), end, '.');
  const char* fraction = point == end ? end : point + 1;
  const std::size_t fraction_length = static_cast<std::size_t>(end - fraction);
  const std::size_t wanted = static_cast<std::size_t>(decimals);

  // The digits without the point: the whole part, then exactly `decimals` fraction digits.
  char digits[kFixedBufferSize + 2];
  std::size_t count = 0;
  digits[count++] = '0';  // room for a carry
  for (const char* p = digits_buffer; p != point; ++p) digits[count++] = *p;
  for (std::size_t i = 0; i < wanted; ++i)
    digits[count++] = i < fraction_length ? fraction[i] : '0';
  if (fraction_length > wanted && fraction[wanted] >= '5') {
    std::size_t i = count;
    while (i-- > 0) {
      if (digits[i] == '9') {
        digits[i] = '0';
      } else {
        ++digits[i];
        break;
      }
    }
  }
  const std::size_t whole_end = count - wanted;
  std::size_t first = 0;
  while (first + 1 < whole_end && digits[first] == '0') ++first;
  bool zero = true;
  for (std::size_t i = first; i < count; ++i) zero = zero && digits[i] == '0';

  std::size_t length = 0;
  if (value < 0 && !zero) out[length++] = '-';
  for (std::size_t i = first; i < whole_end; ++i) out[length++] = digits[i];
  if (wanted > 0) {
    out[length++] = '.';
    for (std::size_t i = whole_end; i < count; ++i) out[length++] = digits[i];
  }
  return length;
}

// "00" to "99": the two digits of a number below 100 in one copy.
constexpr std::array<char, 200> MakeDigitPairs() {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}

constexpr std::array<char, 200> kDigitPairs = MakeDigitPairs();

// Writes the two digits of `value` (below 100) at `out`.
void PutDigitPair(unsigned value, char* out) { std::memcpy(out, &kDigitPairs[2 * value], 2); }

// Room for the text FastRoundedText writes: at most 16 digits (below 2^52), a point and a sign.
constexpr std::size_t kFastTextSize = 32;

// Rounds with integer arithmetic where that gives the same digits as RoundedText: when the
// scaled value lies clearly away from a half, the shortest decimal text (within half a unit in
// the last place of the value) rounds the same way. Writes the text so that it ends just before
// `end` (at most kFastTextSize characters) and returns where it starts; returns null, writing
// nothing, when the fast way does not apply.
char* FastRoundedText(double value, int decimals, char* end) {
  if (decimals < 0 || decimals > 9) return nullptr;
  const double scaled = std::fabs(value) * kPowersOfTen[decimals];
  if (!(scaled < 4503599627370496.0)) return nullptr;  // 2^52: beyond, whole units are inexact
  // Below 2^52 the conversion truncates to the exact whole part, as floor would.
  const std::uint64_t whole = static_cast<std::uint64_t>(scaled);
  const double fraction = scaled - static_cast<double>(whole);
  const double slack = scaled * 4.5e-16 + 1e-300;
  if (std::fabs(fraction - 0.5) <= slack) return nullptr;
  std::uint64_t rounded = whole + (fraction > 0.5 ? 1 : 0);
  const bool zero = rounded == 0;

  // Digits from the last one back, two at a time: exactly `decimals` fraction digits, then at
  // least one whole digit (the "0" of "0.25").
  char* p = end;
  int fraction_left = decimals;
  for (; fraction_left >= 2; fraction_left -= 2) {
    p -= 2;
    PutDigitPair(static_cast<unsigned>(rounded % 100), p);
    rounded /= 100;
  }
  if (fraction_left == 1) {
    *--p = static_cast<char>('0' + rounded % 10);
    rounded /= 10;
  }
  if (decimals > 0) *--p = '.';
  while (rounded >= 100) {
    p -= 2;
    PutDigitPair(static_cast<unsigned>(rounded % 100), p);
    rounded /= 100;
  }
  if (rounded >= 10) {
    p -= 2;
    PutDigitPair(static_cast<unsigned>(rounded), p);
  } else {
    *--p = static_cast<char>('0' + rounded);
  }
  if (value < 0 && !zero) *--p = '-';
  return p;
}

void WriteNumberText(std::string_view text, int width, char* out) {
  const std::size_t size = static_cast<std::size_t>(width);
  if (text.size() > size) {
    throw ValueError("the number " + std::string(text) + " does not fit in " +
                     std::to_string(width) + " characters");
  }
  std::memset(out, ' ', size - text.size());
  std::memcpy(out + (size - text.size()), text.data(), text.size());
}

void WriteNumber(double value, const FieldDef& field, char* out) {
  FormatNumberField(value, field.width, field.decimals, out);
}

void WriteInteger(std::int64_t value, const FieldDef& field, char* out) {
  FormatIntegerField(value, field.width, field.decimals, out);
}

void WriteDigits(int value, int count, char* out) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

void WriteDate(Date date, char* out) {
  WriteDigits(date.year, 4, out);
  WriteDigits(date.month, 2, out + 4);
  WriteDigits(date.day, 2, out + 6);
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

// The value of a digit byte; 10 or more for any other byte.
unsigned DigitValue(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }

}  // namespace

// Fields are mostly blanks on the left of a number, or all blank when empty: words, the last one
// overlapping the one before, check them in a few steps instead of one per byte.
bool AllBlanks(const char* field, std::size_t size) {
  if (size >= 8) {
    for (; size > 8; field += 8, size -= 8) {
      if (LoadWord64(field) != kEightBlanks) return false;
    }
    return LoadWord64(field + size - 8) == kEightBlanks;
  }
  if (size >= 4) {
    return LoadWord32(field) == kFourBlanks && LoadWord32(field + size - 4) == kFourBlanks;
  }
  for (; size > 0; ++field, --size) {
    if (*field != ' ') return false;
  }
  return true;
}

NumberForm ReadPlainNumber(const char* field, std::size_t width, double* value) {
  const char* end = field + width;
  while (end != field && end[-1] == ' ') --end;
  if (end == field) return NumberForm::kBlank;
  // One pass from the left, the digits gathered as they come; the last byte is no blank, so
  // the scan over the leading blanks stops in the field.
  const char* p = field;
  while (*p == ' ') ++p;
  const bool negative = *p == '-';
  if (negative) ++p;
  const char* const whole = p;
  std::uint64_t mantissa = 0;
  // More than 15 digits are refused below; the wrapping of the unsigned sums then is harmless.
  for (unsigned digit; p != end && (digit = DigitValue(*p)) < 10; ++p) {
    mantissa = mantissa * 10 + digit;
  }
  std::size_t digits = static_cast<std::size_t>(p - whole);
  std::size_t decimals = 0;
  if (p != end && *p == '.') {
    const char* const fraction = ++p;
    for (unsigned digit; p != end && (digit = DigitValue(*p)) < 10; ++p) {
      mantissa = mantissa * 10 + digit;
    }
    decimals = static_cast<std::size_t>(p - fraction);
    if (decimals == 0 || digits == 0) return NumberForm::kOther;
    digits += decimals;
  }
  if (p != end || digits == 0 || digits > 15 || mantissa >= kExactMantissa) {
    return NumberForm::kOther;
  }
  const double result = static_cast<double>(mantissa) / kPowersOfTen[decimals];
  *value = negative ? -result : result;
  return NumberForm::kNumber;
}

std::string_view TrimTrailing(std::string_view raw) {
  std::size_t end = raw.size();
  while (end > 0 && IsPad(raw[end - 1])) --end;
  return raw.substr(0, end);
}

std::optional<double> ParseNumberField(std::string_view raw) {
  double plain = 0;
  switch (ReadPlainNumber(raw.data(), raw.size(), &plain)) {
    case NumberForm::kBlank:
      return std::nullopt;
    case NumberForm::kNumber:
      return plain;
    case NumberForm::kOther:
      break;
  }
  const std::string_view text = TrimBoth(raw);
  if (text.empty() || text.find_first_not_of('*') == std::string_view::npos) return std::nullopt;
  if (const auto value = ParseNumberText(text)) return value;
  throw ValueError("'" + Printable(text) + "' is not a number");
}

std::optional<Date> ParseDateField(std::string_view raw) {
  if (AllBlanks(raw.data(), raw.size())) return std::nullopt;  // the usual empty date
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
  std::string text = "dd.mm.yyyy";
  WriteDigits(date.day, 2, &text[0]);
  WriteDigits(date.month, 2, &text[3]);
  WriteDigits(date.year, 4, &text[6]);
  return text;
}

std::string ValueText(const Value& value) {
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

std::string FormatNumberText(double value) {
  if (value == 0) return "0";  // also turns -0 into 0
  char buffer[kFixedBufferSize];
  return std::string(buffer, ShortestFixed(value, buffer));
}

void FormatIntegerField(std::int64_t value, int width, int decimals, char* out) {
  // Up to 20 characters for the digits and sign, then the point and up to 255 decimal zeros
  // (the most a column can declare).
  char text[24 + 256];
  char* end = std::to_chars(text, text + 24, value).ptr;
  decimals = std::clamp(decimals, 0, 255);
  if (decimals > 0) {
    *end++ = '.';
    std::memset(end, '0', static_cast<std::size_t>(decimals));
    end += decimals;
  }
  WriteNumberText(std::string_view(text, static_cast<std::size_t>(end - text)), width, out);
}

void FormatNumberField(double value, int width, int decimals, char* out) {
  if (!std::isfinite(value)) throw ValueError("the number is not finite");
  // The fast text is written right-aligned after blanks, so a field it fits takes the last
  // `width` bytes of the buffer in one copy: sums are written for every merged row.
  char fast[kFastTextSize];
  std::memset(fast, ' ', kFastTextSize);
  if (const char* text = FastRoundedText(value, decimals, fast + kFastTextSize)) {
    const std::size_t length = static_cast<std::size_t>(fast + kFastTextSize - text);
    const std::size_t size = static_cast<std::size_t>(width);
    if (length <= size && size <= kFastTextSize) {
      std::memcpy(out, fast + kFastTextSize - size, size);
    } else {
      WriteNumberText(std::string_view(text, length), width, out);
    }
    return;
  }
  char text[kFixedBufferSize + 2];
  WriteNumberText(std::string_view(text, RoundedText(value, decimals, text)), width, out);
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
      const std::string text = ValueText(value);
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
          throw ValueError("the value " + ValueText(value) + " is not a date");
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
      throw ValueError("the value " + ValueText(value) + " is not a logical value");
    default:
      throw ValueError(std::string("columns of type '") + field.type + "' cannot be written");
  }
}

void ClearField(const FieldDef& field, char* record) {
  std::memset(record + field.offset, field.type == 'L' ? '?' : ' ',
              static_cast<std::size_t>(field.width));
}

}  // namespace tables
