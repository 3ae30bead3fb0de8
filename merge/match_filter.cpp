#include "merge/match_filter.h"

#include <charconv>
#include <cstring>

#include "tables/report_layout.h"

namespace merge {
namespace {

// The filter is written into a buffer sized beforehand for the longest text the key can give,
// through a moving pointer: the job builds a filter for every input row, and appending piece by
// piece to a string checks its capacity for every piece and character.

// Writes a fixed piece of the filter text.
template <std::size_t N>
char* Put(char* out, const char (&text)[N]) {
  std::memcpy(out, text, N - 1);
  return out + (N - 1);
}

char* Put(char* out, const std::string& text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Writes a text constant that matches exactly `value`: quotes doubled, and a trailing '*'
// doubled so that the filter does not read it as "starts with". Values without those
// characters come out unchanged. Takes at most twice the length of `value`.
char* PutLiteral(char* out, const std::string& value) {
  for (char c : value) {
    *out++ = c;
    if (c == '\'') *out++ = '\'';
  }
  if (!value.empty() && value.back() == '*') *out++ = '*';
  return out;
}

// A benefit code is placed without quotes when it is a plain number, as it is for numeric
// columns. Anything else (letters, blanks, operators) would change what the filter means, so it
// goes in as a quoted text constant instead.
bool IsPlainNumber(const std::string& text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  return digits > 0 && i == text.size();
}

// `column = 'value'` as BuildMatchFilter writes it: a trailing '*' doubled, so that it is the
// character and not "starts with". (Quotes need nothing here: the builder takes the constant
// as it stands between the quotes once they are undone.)
void EqualsLiteral(tables::Filter::Builder& filter, int column, const std::string& value) {
  if (!value.empty() && value.back() == '*') {
    filter.Equals(column, value + '*', true);
  } else {
    filter.Equals(column, value, true);
  }
}

}  // namespace

std::string TrimControlCharacters(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return text.substr(begin, end - begin);
}

MatchKey ReadMatchKey(ReportColumns& input) {
  MatchKey key;
  key.tin = input[Column::kTIN].AsString();
  key.income_kind = input[Column::kOZN_DOX].AsInteger();
  key.hire_date = input[Column::kD_PRIYN].AsString();
  key.dismissal_date = input[Column::kD_ZVILN].AsString();
  key.benefit_code = TrimControlCharacters(input[Column::kOZN_PILG].AsString());
  return key;
}

std::string BuildMatchFilter(const MatchKey& key) {
  std::string filter;
  BuildMatchFilter(key, &filter);
  return filter;
}

void BuildMatchFilter(const MatchKey& key, std::string* filter_text) {
  // The fixed pieces of the longest branches come to under 160 characters; a literal can
  // double, and the income kind takes at most 20.
  std::string& filter = *filter_text;
  filter.resize(160 +
                2 * (key.tin.size() + key.benefit_code.size() + key.hire_date.size() +
                     key.dismissal_date.size()) +
                20);
  char* out = &filter[0];
  out = Put(out, "TIN='");
  out = PutLiteral(out, key.tin);

  if (key.benefit_code.empty()) {
    out = Put(out, "' and OZN_PILG IS NULL AND ");
  } else if (IsPlainNumber(key.benefit_code)) {
    out = Put(out, "' and OZN_PILG=");
    out = Put(out, key.benefit_code);
    out = Put(out, " AND ");
  } else {
    out = Put(out, "' and OZN_PILG='");
    out = PutLiteral(out, key.benefit_code);
    out = Put(out, "' AND ");
  }

  if (key.hire_date.empty()) {
    out = Put(out, "D_PRIYN IS NULL  AND ");
  } else {
    out = Put(out, "D_PRIYN='");
    out = PutLiteral(out, key.hire_date);
    out = Put(out, "' AND ");
  }

  if (key.dismissal_date.empty()) {
    out = Put(out, " (D_ZVILN IS NULL)  AND (OZN_DOX=");
  } else {
    out = Put(out, "((D_ZVILN IS NULL) OR (D_ZVILN='");
    out = PutLiteral(out, key.dismissal_date);
    out = Put(out, "')) AND (OZN_DOX=");
  }

  out = std::to_chars(out, out + 20, key.income_kind).ptr;
  if (key.income_kind == 1) out = Put(out, " OR OZN_DOX=2");
  if (key.income_kind == 2) out = Put(out, " OR OZN_DOX=1");
  out = Put(out, ")");
  filter.resize(static_cast<std::size_t>(out - filter.data()));
}

MatchColumns FindMatchColumns(ReportColumns& work) {
  MatchColumns columns;
  columns.tin = work[Column::kTIN].position();
  columns.benefit_code = work[Column::kOZN_PILG].position();
  columns.hire_date = work[Column::kD_PRIYN].position();
  columns.dismissal_date = work[Column::kD_ZVILN].position();
  columns.income_kind = work[Column::kOZN_DOX].position();
  return columns;
}

void WriteMatchFilter(const MatchKey& key, const MatchColumns& columns,
                      tables::Filter::Builder& filter) {
  filter.BeginAnd();
  EqualsLiteral(filter, columns.tin, key.tin);

  if (key.benefit_code.empty()) {
    filter.IsNull(columns.benefit_code);
  } else if (IsPlainNumber(key.benefit_code)) {
    filter.Equals(columns.benefit_code, key.benefit_code, false);
  } else {
    EqualsLiteral(filter, columns.benefit_code, key.benefit_code);
  }

  if (key.hire_date.empty()) {
    filter.IsNull(columns.hire_date);
  } else {
    EqualsLiteral(filter, columns.hire_date, key.hire_date);
  }

  if (key.dismissal_date.empty()) {
    filter.IsNull(columns.dismissal_date);
  } else {
    filter.BeginOr();
    filter.IsNull(columns.dismissal_date);
    EqualsLiteral(filter, columns.dismissal_date, key.dismissal_date);
    filter.End();
  }

  char kind[24];
  const char* const kind_end = std::to_chars(kind, kind + sizeof kind, key.income_kind).ptr;
  const std::string_view kind_text(kind, static_cast<std::size_t>(kind_end - kind));
  filter.BeginOr();
  filter.Equals(columns.income_kind, kind_text, false);
  if (key.income_kind == 1) filter.Equals(columns.income_kind, "2", false);
  if (key.income_kind == 2) filter.Equals(columns.income_kind, "1", false);
  filter.End();
  filter.End();
}

}  // namespace merge
