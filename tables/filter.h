// The filter language of tables: parsed once into a small expression tree, then evaluated
// against raw records. Grammar (keywords in any letter case):
//   expr    := conj { OR conj }
//   conj    := primary { AND primary }
//   primary := '(' expr ')' | column '=' constant | column IS NULL
//   constant:= 'text' (a quote inside written twice) | number (optional sign, digits, '.')
//              | a bare word: any run of characters other than blanks, parentheses, quote
//                and '=' (taken as text)
// Against a text column, a constant of two or more characters ending in '*' matches as a prefix;
// one ending in "**" matches literally, the final "**" standing for one '*'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "tables/dbf_format.h"

namespace tables {

class Filter {
 public:
  // An empty filter: matches every record.
  Filter();
  ~Filter();
  Filter(const Filter& other);
  Filter(Filter&& other) noexcept;
  Filter& operator=(const Filter& other);
  Filter& operator=(Filter&& other) noexcept;

  // Parses `text` against the table's columns. Raises TableError when the text does not parse,
  // names an unknown column, or holds a constant that does not convert to its column's type.
  // `table_label` names the table in error messages.
  static Filter Parse(std::string_view text, const std::vector<FieldDef>& fields,
                      platform::CodePage page, const std::string& table_label);

  // True when the record (full raw record, deletion flag first) satisfies the filter.
  // Raises ValueError when a field it must read holds malformed bytes.
  bool Matches(const char* record) const;

  // When the top-level conjunction holds `column = 'literal'` for the column at `field_index`
  // (a text constant without the prefix wildcard), the constant as stored in the table: encoded
  // in the table's code page, trailing blanks removed. Index lookups use it. Valid while the
  // filter is unchanged.
  std::optional<std::string_view> IndexKey(int field_index) const;

  class Builder;

 private:
  struct Node;
  class Parser;
  // A table parses every new filter text into a spare filter and swaps it in, so that the
  // storage is reused from row to row and a text that fails leaves the current filter alone.
  friend class Table;

  // Parses as Parse does, into this filter, reusing its storage. When it raises, the filter
  // holds a partial parse and must not be used until the next successful ParseInto.
  void ParseInto(std::string_view text, const std::vector<FieldDef>& fields,
                 platform::CodePage page, const std::string& table_label);
  // Exchanges the two filters' contents; never raises.
  void Swap(Filter& other) noexcept;

  // Evaluates the subtree whose first node is nodes_[index].
  bool Evaluate(std::size_t index, const char* record) const;
  // Evaluates a comparison node (any node but AND/OR) on the record.
  bool Compare(const Node& node, const char* record) const;
  // The exact text equality on `field_index` among the conjunction at nodes_[index], or null.
  const Node* FindKeyNode(std::size_t index, int field_index) const;

  // Nodes in prefix order: an AND/OR node is followed by its operands, each operand subtree
  // taking Node::size consecutive entries.
  std::vector<Node> nodes_;  // nodes_[0] is the root when not empty
  std::string texts_;        // the text constants, referred to by offset and length
};

// Writes a filter from code instead of text, for callers that set a filter of one known shape
// many times: each call adds what the corresponding piece of a filter text would, so the result
// is the filter that parsing that text gives, without writing and reading the text. Columns
// are given by position. Raises TableError where parsing would: a constant that does not
// convert to its column's type, or a column position out of range.
class Filter::Builder {
 public:
  // Clears `*target` and builds into it, reusing its storage. `text` is the filter text that
  // the built filter stands for; it only appears in error messages.
  Builder(Filter* target, std::string_view text, const std::vector<FieldDef>& fields,
          platform::CodePage page, const std::string& table_label);

  // `( a AND b ...)` and `( a OR b ...)`: the conditions added until the matching End are the
  // operands. A group with one operand is that operand itself, as parentheses are. Groups nest
  // at most kMaxGroups deep.
  void BeginAnd();
  void BeginOr();
  void End();
  // `column = 'constant'` with `constant` as it stands between the quotes, quotes undoubled
  // (so a trailing "**" still stands for one '*'); with `quoted` false, `column = constant`
  // written bare, as a number is.
  void Equals(int column, std::string_view constant, bool quoted);
  // `column IS NULL`.
  void IsNull(int column);
  // Checks that every group has ended; raises TableError when one has not.
  void Finish() const;

  static constexpr int kMaxGroups = 16;

 private:
  struct Group {
    std::size_t first = 0;  // the node where the group's first operand starts
    std::uint32_t count = 0;
    bool is_or = false;
  };
  void Begin(bool is_or);
  // Counts one more operand in the innermost open group.
  void Operand();
  Parser MakeParser() const;
  void CheckColumn(int column) const;

  Filter* target_;
  std::string_view text_;
  const std::vector<FieldDef>& fields_;
  platform::CodePage page_;
  const std::string& table_label_;
  Group groups_[kMaxGroups];
  int depth_ = 0;
};

}  // namespace tables
