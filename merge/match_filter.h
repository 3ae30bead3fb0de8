// The match filter: the filter text that selects, in the work table, the record an input row
// is merged into (same taxpayer, benefit code, hire date, dismissal date and income kind).
#pragma once

#include <cstdint>
#include <string>

#include "merge/report_columns.h"
#include "tables/filter.h"

namespace merge {

// The values of one input row that decide its match.
struct MatchKey {
  std::string tin;               // TIN as read, not trimmed
  std::int64_t income_kind = 0;  // OZN_DOX
  std::string hire_date;         // D_PRIYN as text, "" when blank
  std::string dismissal_date;    // D_ZVILN as text, "" when blank
  std::string benefit_code;      // OZN_PILG as text, trimmed of characters up to blank
};

// `text` without its leading and trailing characters of code 32 or less (blanks, controls).
std::string TrimControlCharacters(const std::string& text);

// Reads the match key of the input table's current row. Raises tables::TableError when a
// column is missing or unreadable.
MatchKey ReadMatchKey(ReportColumns& input);

// The filter text for `key`. Values are placed so that they match only identical values: a
// quote inside a text constant is doubled, a trailing '*' is doubled so that it is not taken as
// a prefix wildcard, and a benefit code that is not a plain number is quoted.
std::string BuildMatchFilter(const MatchKey& key);
// The same, written into `*filter`, whose storage is reused: the merge builds one per row.
void BuildMatchFilter(const MatchKey& key, std::string* filter);

// Where the match columns are in the work table.
struct MatchColumns {
  int tin = -1;
  int benefit_code = -1;
  int hire_date = -1;
  int dismissal_date = -1;
  int income_kind = -1;
};

// The match columns of the table. Raises tables::TableError when it lacks one.
MatchColumns FindMatchColumns(ReportColumns& work);

// Writes the filter that the text BuildMatchFilter(key) stands for, condition by condition,
// so that the work table need not parse the text. Raises tables::TableError where parsing the
// text would (a value that does not convert to its column's type).
void WriteMatchFilter(const MatchKey& key, const MatchColumns& columns,
                      tables::Filter::Builder& filter);

}  // namespace merge
