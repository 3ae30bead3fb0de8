#include "merge/match_filter.h"

#include "tables/report_layout.h"

namespace merge {
namespace {

// Appends a text constant that matches exactly `value`: quotes doubled, and a trailing '*'
// doubled so that the filter does not read it as "starts with". Values without those
// characters come out unchanged.
void AppendLiteral(std::string& out, const std::string& value) {
  for (char c : value) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  if (!value.empty() && value.back() == '*') out.push_back('*');
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
  // One string, appended to in order: the job builds a filter for every input row.
  std::string filter;
  filter.reserve(160 + key.tin.size() + key.benefit_code.size());
  filter += "TIN='";
  AppendLiteral(filter, key.tin);
  filter += "' and ";

  if (key.benefit_code.empty()) {
    filter += "OZN_PILG IS NULL";
  } else if (IsPlainNumber(key.benefit_code)) {
    filter += "OZN_PILG=";
    filter += key.benefit_code;
  } else {
    filter += "OZN_PILG='";
    AppendLiteral(filter, key.benefit_code);
    filter += "'";
  }
  filter += " AND ";

  if (key.hire_date.empty()) {
    filter += "D_PRIYN IS NULL ";
  } else {
    filter += "D_PRIYN='";
    AppendLiteral(filter, key.hire_date);
    filter += "'";
  }
  filter += " AND ";

  if (key.dismissal_date.empty()) {
    filter += " (D_ZVILN IS NULL) ";
  } else {
    filter += "((D_ZVILN IS NULL) OR (D_ZVILN='";
    AppendLiteral(filter, key.dismissal_date);
    filter += "'))";
  }
  filter += " AND ";

  filter += "(OZN_DOX=";
  filter += std::to_string(key.income_kind);
  if (key.income_kind == 1) filter += " OR OZN_DOX=2";
  if (key.income_kind == 2) filter += " OR OZN_DOX=1";
  filter += ")";
  return filter;
}

}  // namespace merge
