// Conversion between the bytes of one field in a record and values: numbers, dates, text and
// logicals, with the tolerance for what real files hold and the strictness we need when writing.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "tables/dbf_format.h"
#include "tables/value.h"

namespace tables {

// Raised when field bytes or a value cannot be converted. The message says what is wrong with
// the value ("'12abc' is not a number"); the table adds file, column and record.
class ValueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The field bytes with trailing blanks and NULs removed.
std::string_view TrimTrailing(std::string_view raw);

// True when the `size` bytes at `field` are all blanks (' '); true for none.
bool AllBlanks(const char* field, std::size_t size);

// The common form of number field bytes, read without any allocation: blanks, an optional '-',
// digits, optionally '.' and digits, blanks, with at most 15 significant digits. kNumber stores
// exactly the value ParseNumberField gives; kOther means "not this form, ask ParseNumberField".
enum class NumberForm { kBlank, kNumber, kOther };
NumberForm ReadPlainNumber(const char* field, std::size_t width, double* value);

// Number field bytes: blanks/NULs trimmed; empty, all blanks, all NULs or all '*' is blank
// (nothing); a comma is taken as the decimal point; exponent form accepted. Raises ValueError
// on anything else.
std::optional<double> ParseNumberField(std::string_view raw);

// Date field bytes YYYYMMDD; eight blanks, eight '0' or eight NULs is blank. Raises ValueError
// on an impossible date.
std::optional<Date> ParseDateField(std::string_view raw);

// Logical field byte: T t Y y true, F f N n false, anything else unknown (nothing).
std::optional<bool> ParseLogicalField(char raw);

// A date in the text form "dd.mm.yyyy" (day and month of one or two digits); also accepts
// "yyyymmdd". Nothing when the text is no valid date.
std::optional<Date> ParseDateText(std::string_view text);

// "dd.mm.yyyy".
std::string FormatDateText(Date date);

// The shortest decimal text of a number: 1500 for 1500.00, 12.5, -0.25; no exponent.
std::string FormatNumberText(double value);

// The text form of a value: integers and floats in their shortest decimal form, dates as
// "dd.mm.yyyy", logicals as "T"/"F", blank as "". Raises ValueError for a float that is not
// finite.
std::string ValueText(const Value& value);

// Writes `value` into a `width`-byte number field with `decimals` decimals: right-aligned,
// C locale, rounded half away from zero. Raises ValueError when it does not fit (never cuts).
void FormatNumberField(double value, int width, int decimals, char* out);
// The same for a whole number, written exactly (no rounding through a double).
void FormatIntegerField(std::int64_t value, int width, int decimals, char* out);

// Reads the field as a value of any type: C (and unknown types) as text with trailing blanks
// removed, N/F as integer when it has no decimals and fits, else float, D as date, L as
// logical; blank fields read as a blank value. Raises ValueError on malformed bytes.
Value DecodeField(const FieldDef& field, const char* record, platform::CodePage page);

// Writes `value` into the field, converted to the column's type: numbers to text for C,
// number text to numbers for N/F, date text to dates for D, and so on. A blank value or an
// empty text clears the field. Raises ValueError when the value does not convert or fit
// (text longer than the column, a number too wide, a text that is no number or date).
void EncodeField(const FieldDef& field, const Value& value, char* record, platform::CodePage page);

// Clears the field to blank (spaces; '?' for logicals).
void ClearField(const FieldDef& field, char* record);

}  // namespace tables
