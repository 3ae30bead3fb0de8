#include "tables/filter.h"

#include <array>
#include <cstring>
#include <exception>
#include <string>

#include "tables/bytes.h"
#include "tables/field_codec.h"
#include "tables/table_error.h"

namespace tables {

namespace {

// Deeper nesting than this is no real filter; the limit keeps the recursive parser off the end
// of the stack.
constexpr int kMaxDepth = 200;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// Character classes of the filter text, looked up in one step: the parser asks for every
// character of every filter, and the merge builds a filter per row.
enum CharClass : unsigned char {
  kNameChar = 1,  // letters, digits and '_': column names and keywords
  kWordEnd = 2,   // ends a bare constant: blanks, parentheses, quote, '='
};

constexpr std::array<unsigned char, 256> MakeCharClasses() {
  std::array<unsigned char, 256> classes{};
  for (int c = 0; c <= 32; ++c) classes[static_cast<std::size_t>(c)] = kWordEnd;
  for (int c = 'A'; c <= 'Z'; ++c) classes[static_cast<std::size_t>(c)] = kNameChar;
  for (int c = 'a'; c <= 'z'; ++c) classes[static_cast<std::size_t>(c)] = kNameChar;
  for (int c = '0'; c <= '9'; ++c) classes[static_cast<std::size_t>(c)] = kNameChar;
  classes['_'] = kNameChar;
  classes['('] = kWordEnd;
  classes[')'] = kWordEnd;
  classes['\''] = kWordEnd;
  classes['='] = kWordEnd;
  return classes;
}

constexpr std::array<unsigned char, 256> kCharClasses = MakeCharClasses();

bool HasClass(char c, CharClass char_class) {
  return (kCharClasses[static_cast<unsigned char>(c)] & char_class) != 0;
}

bool IsNameChar(char c) { return HasClass(c, kNameChar); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    // Names are mostly written in the same case as the table stores them.
    if (a[i] != b[i] && UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

// The same as memcmp(a, b, size) == 0 for the short texts of names and keys, compared in
// words (the last one overlapping the one before) without a library call.
bool SameBytes(const char* a, const char* b, std::size_t size) {
  if (size >= 8) {
    for (; size > 8; a += 8, b += 8, size -= 8) {
      if (LoadWord64(a) != LoadWord64(b)) return false;
    }
    return LoadWord64(a + size - 8) == LoadWord64(b + size - 8);
  }
  if (size >= 4) {
    return LoadWord32(a) == LoadWord32(b) && LoadWord32(a + size - 4) == LoadWord32(b + size - 4);
  }
  for (; size > 0; ++a, ++b, --size) {
    if (*a != *b) return false;
  }
  return true;
}

// Field bytes count as padding when blank or NUL, the same bytes that TrimTrailing drops.
bool IsPadding(char c) { return c == ' ' || c == '\0'; }

std::size_t TrimmedLength(const char* field, std::size_t width) {
  while (width > 0 && IsPadding(field[width - 1])) --width;
  return width;
}

// False for a blank field, else true with the value stored.
bool ReadNumber(const char* field, std::size_t width, double* value) {
  switch (ReadPlainNumber(field, width, value)) {
    case NumberForm::kBlank:
      return false;
    case NumberForm::kNumber:
      return true;
    case NumberForm::kOther:
      break;
  }
  std::optional<double> parsed = ParseNumberField(std::string_view(field, width));
  if (!parsed) return false;
  *value = *parsed;
  return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// A date field of eight digits that form a real date is certainly no blank and no error;
// anything else (blank forms, impossible dates, junk) goes to ParseDateField.
bool IsPlainValidDate(const char* p, std::size_t width) {
  if (width != 8) return false;
  for (std::size_t i = 0; i < 8; ++i) {
    if (!IsDigit(p[i])) return false;
  }
  int year = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
  int month = (p[4] - '0') * 10 + (p[5] - '0');
  int day = (p[6] - '0') * 10 + (p[7] - '0');
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  int days = kDaysInMonth[month - 1] + ((month == 2 && IsLeapYear(year)) ? 1 : 0);
  return day <= days;
}

void WriteDigits(int value, int count, char* out) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

}  // namespace

struct Filter::Node {
  enum class Op : std::uint8_t {
    kOr,
    kAnd,
    kTextEquals,      // trimmed field == text
    kTextPrefix,      // trimmed field starts with text
    kTextBlank,       // trimmed field empty
    kNumberEquals,    // field not blank and == number
    kNumberBlank,     // field blank as a number
    kDateEquals,      // field date == date_bytes
    kDateBlank,       // field blank as a date
    kLogicalEquals,   // field logical == logical
    kLogicalUnknown,  // field neither true nor false
  };

  Op op = Op::kTextBlank;
  bool logical = false;
  // Set on kTextEquals nodes: the constant was written as text (or a number taken as text)
  // against a text column, so index lookups may use it.
  bool index_key = false;
  int field_index = -1;
  std::uint32_t size = 1;   // nodes in this subtree, this one included
  std::uint32_t count = 0;  // operands of AND/OR
  std::uint32_t offset = 0;
  std::uint32_t width = 0;
  std::uint32_t text_offset = 0;  // into texts_
  std::uint32_t text_length = 0;
  double number = 0;
  char date_bytes[8] = {};  // the date as the field stores it, YYYYMMDD
  Date date;
};

Filter::Filter() = default;
Filter::~Filter() = default;
Filter::Filter(const Filter& other) = default;
Filter::Filter(Filter&& other) noexcept = default;
Filter& Filter::operator=(const Filter& other) = default;
Filter& Filter::operator=(Filter&& other) noexcept = default;

// Recursive descent over the text, writing nodes straight into the filter. A binary operator
// is only known after its first operand has been parsed, so the AND/OR node is inserted in
// front of that operand then; sizes are relative, so the shift keeps the subtree intact.
class Filter::Parser {
 public:
  Parser(std::string_view text, const std::vector<FieldDef>& fields, platform::CodePage page,
         const std::string& table_label, Filter* filter)
      : text_(text), fields_(fields), page_(page), table_label_(table_label), filter_(filter) {}

  void Run() {
    SkipBlanks();
    if (pos_ == text_.size()) return;  // no filter text: every record matches
    filter_->nodes_.reserve(16);
    ParseOr(0);
    SkipBlanks();
    if (pos_ != text_.size()) {
      Fail(text_[pos_] == ')' ? "')' without '('" : "AND, OR or end of text expected", pos_);
    }
  }

  // For Builder: the pieces of a filter that the parser writes, without the text around them.

  // `column IS NULL`.
  void AddIsNull(int field_index) {
    Op op = Op::kTextBlank;
    switch (TypeClass(fields_[static_cast<std::size_t>(field_index)].type)) {
      case 'N':
        op = Op::kNumberBlank;
        break;
      case 'D':
        op = Op::kDateBlank;
        break;
      case 'L':
        op = Op::kLogicalUnknown;
        break;
    }
    AddComparison(field_index, op);
  }

  // `column = constant`: `constant` as it stands after the quotes were undone, or a bare word.
  void AddConstant(int field_index, std::string_view constant, bool quoted) {
    const std::size_t start = filter_->texts_.size();
    filter_->texts_.append(constant.data(), constant.size());
    ConvertConstant(field_index, start, !quoted && IsNumberToken(constant));
  }

  // Puts an AND or OR node in front of the operand that starts at node `at`.
  void InsertOperator(std::size_t at, bool is_or) {
    Node node;
    node.op = is_or ? Op::kOr : Op::kAnd;
    filter_->nodes_.insert(filter_->nodes_.begin() + static_cast<std::ptrdiff_t>(at), node);
  }

  // Completes the AND or OR node at `at`, whose operands are the nodes after it.
  void CloseOperator(std::size_t at, std::uint32_t count) {
    Node& node = filter_->nodes_[at];
    node.count = count;
    node.size = static_cast<std::uint32_t>(filter_->nodes_.size() - at);
  }

  [[noreturn]] void Fail(const std::string& reason, std::size_t at) const {
    throw TableError(Prefix() + reason + " at position " + std::to_string(at + 1));
  }

 private:
  using Op = Node::Op;

  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }

  std::size_t NameLength(std::size_t at) const {
    std::size_t end = at;
    while (end < text_.size() && IsNameChar(text_[end])) ++end;
    return end - at;
  }

  // Consumes `keyword` (upper case letters) when it is the next word, in any letter case.
  // Compared in place: a word is the keyword when its first letters match and no name
  // character follows them, which needs no pass over the whole word.
  bool AcceptKeyword(std::string_view keyword) {
    SkipBlanks();
    const std::size_t length = keyword.size();
    if (text_.size() - pos_ < length) return false;
    for (std::size_t i = 0; i < length; ++i) {
      if (UpperAscii(text_[pos_ + i]) != keyword[i]) return false;
    }
    if (pos_ + length < text_.size() && IsNameChar(text_[pos_ + length])) return false;
    pos_ += length;
    return true;
  }

  static bool IsKeyword(std::string_view word) {
    return EqualsIgnoreCase(word, "AND") || EqualsIgnoreCase(word, "OR") ||
           EqualsIgnoreCase(word, "IS") || EqualsIgnoreCase(word, "NULL");
  }

  std::string Prefix() const {
    return table_label_ + ": cannot parse filter \"" + std::string(text_) + "\": ";
  }

  [[noreturn]] void FailOnColumn(const FieldDef& field, const std::string& reason) const {
    throw TableError(table_label_ + ": filter \"" + std::string(text_) + "\": column '" +
                     field.name + "': " + reason);
  }

  void ParseOr(int depth) {
    std::size_t first = filter_->nodes_.size();
    ParseAnd(depth);
    std::uint32_t count = 1;
    while (AcceptKeyword("OR")) {
      if (count == 1) InsertOperator(first, true);
      ParseAnd(depth);
      ++count;
    }
    if (count > 1) CloseOperator(first, count);
  }

  void ParseAnd(int depth) {
    std::size_t first = filter_->nodes_.size();
    ParsePrimary(depth);
    std::uint32_t count = 1;
    while (AcceptKeyword("AND")) {
      if (count == 1) InsertOperator(first, false);
      ParsePrimary(depth);
      ++count;
    }
    if (count > 1) CloseOperator(first, count);
  }

  void ParsePrimary(int depth) {
    SkipBlanks();
    if (pos_ == text_.size()) Fail("condition expected", pos_);
    if (text_[pos_] == '(') {
      if (depth >= kMaxDepth) Fail("parentheses nested too deeply", pos_);
      std::size_t open = pos_;
      ++pos_;
      ParseOr(depth + 1);
      SkipBlanks();
      if (pos_ == text_.size())
        Fail("')' expected for the '(' at position " + std::to_string(open + 1), pos_);
      if (text_[pos_] != ')') Fail("')' expected", pos_);
      ++pos_;
      return;
    }
    std::size_t name_at = pos_;
    std::size_t length = NameLength(pos_);
    std::string_view name = text_.substr(pos_, length);
    if (length == 0 || EqualsIgnoreCase(name, "AND") || EqualsIgnoreCase(name, "OR")) {
      Fail("condition expected", pos_);
    }
    int field_index = FindField(name);
    if (field_index < 0) {
      throw TableError(Prefix() + "unknown column '" + std::string(name) + "' at position " +
                       std::to_string(name_at + 1));
    }
    pos_ += length;
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == '=') {
      ++pos_;
      ParseConstant(field_index);
      return;
    }
    if (AcceptKeyword("IS")) {
      if (!AcceptKeyword("NULL")) Fail("NULL expected", pos_);
      AddIsNull(field_index);
      return;
    }
    Fail("'=' or IS expected", pos_);
  }

  // `name` is not empty. The length rules out most columns; a name is mostly written as the
  // table stores it, so plain equality of the bytes comes before the comparison ignoring case.
  int FindField(std::string_view name) const {
    const std::size_t length = name.size();
    const char first = UpperAscii(name[0]);
    const FieldDef* const begin = fields_.data();
    const FieldDef* const end = begin + fields_.size();
    for (const FieldDef* field = begin; field != end; ++field) {
      const std::string& candidate = field->name;
      if (candidate.size() != length) continue;
      if (SameBytes(candidate.data(), name.data(), length) ||
          (UpperAscii(candidate[0]) == first && EqualsIgnoreCase(candidate, name))) {
        return static_cast<int>(field - begin);
      }
    }
    return -1;
  }

  // Appends a comparison node on the column and returns it, for the caller to complete.
  Node& AddComparison(int field_index, Op op) {
    const FieldDef& field = fields_[static_cast<std::size_t>(field_index)];
    Node& node = filter_->nodes_.emplace_back();
    node.op = op;
    node.field_index = field_index;
    node.offset = static_cast<std::uint32_t>(field.offset);
    node.width = static_cast<std::uint32_t>(field.width);
    return node;
  }

  static char TypeClass(char type) {
    switch (type) {
      case 'N':
      case 'F':
        return 'N';
      case 'D':
      case 'L':
        return type;
      default:
        return 'C';  // C and every type we do not know are compared as raw text
    }
  }

  // Reads the constant after '=' into the end of texts_ (quotes undone) and converts it to the
  // column's type. The scratch text is dropped again unless a text comparison keeps it.
  void ParseConstant(int field_index) {
    SkipBlanks();
    if (pos_ == text_.size()) Fail("constant expected", pos_);
    std::string& texts = filter_->texts_;
    std::size_t start = texts.size();
    std::size_t constant_at = pos_;
    bool is_number = false;
    if (text_[pos_] == '\'') {
      ++pos_;
      for (;;) {
        std::size_t quote = text_.find('\'', pos_);
        if (quote == std::string_view::npos) Fail("unterminated quote", constant_at);
        texts.append(text_.data() + pos_, quote - pos_);
        pos_ = quote + 1;
        if (pos_ < text_.size() && text_[pos_] == '\'') {
          texts.push_back('\'');
          ++pos_;
          continue;
        }
        break;
      }
    } else {
      std::size_t end = pos_;
      while (end < text_.size() && !HasClass(text_[end], kWordEnd)) ++end;
      std::string_view word = text_.substr(pos_, end - pos_);
      if (word.empty() || IsKeyword(word)) Fail("constant expected", pos_);
      is_number = IsNumberToken(word);
      texts.append(word.data(), word.size());
      pos_ = end;
    }
    ConvertConstant(field_index, start, is_number);
  }

  // Turns the constant at texts_[start..] into a comparison node of the column's type.
  void ConvertConstant(int field_index, std::size_t start, bool is_number) {
    const FieldDef& field = fields_[static_cast<std::size_t>(field_index)];
    switch (TypeClass(field.type)) {
      case 'N':
        AddNumber(field_index, start);
        break;
      case 'D':
        AddDate(field_index, start, is_number);
        break;
      case 'L':
        AddLogical(field_index, start);
        break;
      default:
        AddText(field_index, start);
        break;
    }
  }

  static bool IsNumberToken(std::string_view word) {
    std::size_t i = 0;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
    std::size_t digits_at = i;
    while (i < word.size() && IsDigit(word[i])) ++i;
    if (i == digits_at) return false;
    if (i < word.size() && word[i] == '.') {
      ++i;
      std::size_t decimals_at = i;
      while (i < word.size() && IsDigit(word[i])) ++i;
      if (i == decimals_at) return false;
    }
    return i == word.size();
  }

  // The scratch constant at texts_[start..]; valid until texts_ changes.
  std::string_view Scratch(std::size_t start) const {
    return std::string_view(filter_->texts_).substr(start);
  }

  void AddNumber(int field_index, std::size_t start) {
    std::string_view constant(filter_->texts_.data() + start, filter_->texts_.size() - start);
    std::optional<double> number;
    try {
      double plain = 0;
      switch (ReadPlainNumber(constant.data(), constant.size(), &plain)) {
        case NumberForm::kBlank:
          break;
        case NumberForm::kNumber:
          number = plain;
          break;
        case NumberForm::kOther:
          number = ParseNumberField(constant);
          break;
      }
    } catch (const ValueError& e) {
      FailOnColumn(fields_[static_cast<std::size_t>(field_index)], e.what());
    }
    filter_->texts_.resize(start);
    Node& node = AddComparison(field_index, number ? Op::kNumberEquals : Op::kNumberBlank);
    if (number) node.number = *number;
  }

  void AddDate(int field_index, std::size_t start, bool is_number) {
    const FieldDef& field = fields_[static_cast<std::size_t>(field_index)];
    const std::string_view constant = Scratch(start);
    if (is_number) {
      FailOnColumn(field, "the number " + std::string(constant) +
                              " is no date; write a date as 'dd.mm.yyyy'");
    }
    if (TrimTrailing(constant).empty()) {
      filter_->texts_.resize(start);
      AddComparison(field_index, Op::kDateBlank);
      return;
    }
    std::optional<Date> date = ParseDateText(constant);
    if (!date) FailOnColumn(field, "'" + std::string(constant) + "' is not a date");
    filter_->texts_.resize(start);
    Node& node = AddComparison(field_index, Op::kDateEquals);
    node.date = *date;
    WriteDigits(date->year, 4, node.date_bytes);
    WriteDigits(date->month, 2, node.date_bytes + 4);
    WriteDigits(date->day, 2, node.date_bytes + 6);
  }

  void AddLogical(int field_index, std::size_t start) {
    const std::string_view constant = Scratch(start);
    std::optional<bool> value;
    if (constant.size() == 1) {
      char c = UpperAscii(constant[0]);
      if (c == 'T' || c == 'Y') value = true;
      if (c == 'F' || c == 'N') value = false;
    }
    if (!value) {
      FailOnColumn(fields_[static_cast<std::size_t>(field_index)],
                   "'" + std::string(constant) + "' is not a logical value (T, F, Y or N)");
    }
    filter_->texts_.resize(start);
    Node& node = AddComparison(field_index, Op::kLogicalEquals);
    node.logical = *value;
  }

  void AddText(int field_index, std::size_t start) {
    std::string& texts = filter_->texts_;
    bool ascii = true;
    for (std::size_t i = start; i < texts.size(); ++i) {
      if (static_cast<unsigned char>(texts[i]) >= 0x80) ascii = false;
    }
    // Both code pages hold ASCII unchanged, so only other text needs the encoder.
    if (!ascii) {
      std::string utf8(Scratch(start));
      texts.resize(start);
      std::string encoded;
      if (!platform::TryEncodeFromUtf8(utf8, page_, &encoded)) {
        std::string reason;
        try {
          platform::EncodeFromUtf8(utf8, page_);
        } catch (const std::exception& e) {
          reason = e.what();
        }
        FailOnColumn(fields_[static_cast<std::size_t>(field_index)],
                     "the constant '" + utf8 + "' cannot be stored in the table's code page" +
                         (reason.empty() ? std::string() : ": " + reason));
      }
      texts += encoded;
    }
    texts.resize(start + TrimTrailing(std::string_view(texts).substr(start)).size());
    std::size_t length = texts.size() - start;
    Op op = Op::kTextEquals;
    // 'AB*' selects every value starting with "AB"; 'AB**' is the value "AB*" itself; a lone
    // '*' is just the character.
    if (length >= 2 && texts.back() == '*') {
      texts.pop_back();
      --length;
      if (texts.back() != '*') op = Op::kTextPrefix;
    }
    Node& node = AddComparison(field_index, op);
    node.index_key = op == Op::kTextEquals;
    node.text_offset = static_cast<std::uint32_t>(start);
    node.text_length = static_cast<std::uint32_t>(length);
  }

  std::string_view text_;
  const std::vector<FieldDef>& fields_;
  platform::CodePage page_;
  const std::string& table_label_;
  Filter* filter_;
  std::size_t pos_ = 0;
};

Filter Filter::Parse(std::string_view text, const std::vector<FieldDef>& fields,
                     platform::CodePage page, const std::string& table_label) {
  Filter filter;
  filter.ParseInto(text, fields, page, table_label);
  return filter;
}

void Filter::ParseInto(std::string_view text, const std::vector<FieldDef>& fields,
                       platform::CodePage page, const std::string& table_label) {
  nodes_.clear();
  texts_.clear();
  Parser(text, fields, page, table_label, this).Run();
}

void Filter::Swap(Filter& other) noexcept {
  nodes_.swap(other.nodes_);
  texts_.swap(other.texts_);
}

bool Filter::Matches(const char* record) const { return nodes_.empty() || Evaluate(0, record); }

bool Filter::Evaluate(std::size_t index, const char* record) const {
  const Node& node = nodes_[index];
  if (node.op != Node::Op::kOr && node.op != Node::Op::kAnd) return Compare(node, record);
  // OR stops at the first operand that holds, AND at the first that does not. Comparisons are
  // made right here; only nested AND/OR nodes take a recursive call.
  const bool stop_when = node.op == Node::Op::kOr;
  std::size_t child = index + 1;
  for (std::uint32_t i = 0; i < node.count; ++i) {
    const Node& operand = nodes_[child];
    const bool holds = operand.op == Node::Op::kOr || operand.op == Node::Op::kAnd
                           ? Evaluate(child, record)
                           : Compare(operand, record);
    if (holds == stop_when) return stop_when;
    child += operand.size;
  }
  return !stop_when;
}

bool Filter::Compare(const Node& node, const char* record) const {
  const char* field = record + node.offset;
  switch (node.op) {
    case Node::Op::kOr:
    case Node::Op::kAnd:
      break;  // not comparisons: Evaluate handles them
    case Node::Op::kTextEquals: {
      // The constant has no trailing padding, so equality of the trimmed field is a prefix
      // match followed by nothing but padding.
      std::size_t length = node.text_length;
      if (length > node.width) return false;
      if (!SameBytes(field, texts_.data() + node.text_offset, length)) return false;
      for (std::size_t i = length; i < node.width; ++i) {
        if (!IsPadding(field[i])) return false;
      }
      return true;
    }
    case Node::Op::kTextPrefix: {
      std::size_t length = node.text_length;
      return length <= TrimmedLength(field, node.width) &&
             std::memcmp(field, texts_.data() + node.text_offset, length) == 0;
    }
    case Node::Op::kTextBlank:
      return TrimmedLength(field, node.width) == 0;
    case Node::Op::kNumberEquals: {
      double value = 0;
      return ReadNumber(field, node.width, &value) && value == node.number;
    }
    case Node::Op::kNumberBlank: {
      double value = 0;
      return !ReadNumber(field, node.width, &value);
    }
    case Node::Op::kDateEquals:
      if (node.width == 8 && std::memcmp(field, node.date_bytes, 8) == 0) return true;
      if (IsPlainValidDate(field, node.width)) return false;
      {
        std::optional<Date> value = ParseDateField(std::string_view(field, node.width));
        return value && *value == node.date;
      }
    case Node::Op::kDateBlank:
      if (AllBlanks(field, node.width)) return true;
      if (IsPlainValidDate(field, node.width)) return false;
      return !ParseDateField(std::string_view(field, node.width));
    case Node::Op::kLogicalEquals: {
      std::optional<bool> value = ParseLogicalField(field[0]);
      return value && *value == node.logical;
    }
    case Node::Op::kLogicalUnknown:
      return !ParseLogicalField(field[0]);
  }
  return false;
}

const Filter::Node* Filter::FindKeyNode(std::size_t index, int field_index) const {
  const Node& node = nodes_[index];
  if (node.op == Node::Op::kTextEquals) {
    return (node.index_key && node.field_index == field_index) ? &node : nullptr;
  }
  if (node.op != Node::Op::kAnd) return nullptr;
  // A parenthesised conjunction inside a conjunction is still part of the same conjunction.
  std::size_t child = index + 1;
  for (std::uint32_t i = 0; i < node.count; ++i) {
    if (const Node* found = FindKeyNode(child, field_index)) return found;
    child += nodes_[child].size;
  }
  return nullptr;
}

std::optional<std::string_view> Filter::IndexKey(int field_index) const {
  if (nodes_.empty()) return std::nullopt;
  const Node* node = FindKeyNode(0, field_index);
  if (node == nullptr) return std::nullopt;
  return std::string_view(texts_).substr(node->text_offset, node->text_length);
}

// ---------------------------------------------------------------------------------------------
// Builder

Filter::Builder::Builder(Filter* target, std::string_view text, const std::vector<FieldDef>& fields,
                         platform::CodePage page, const std::string& table_label)
    : target_(target), text_(text), fields_(fields), page_(page), table_label_(table_label) {
  target_->nodes_.clear();
  target_->texts_.clear();
}

// The parser is only a view of the builder's settings; making one costs nothing.
Filter::Parser Filter::Builder::MakeParser() const {
  return Parser(text_, fields_, page_, table_label_, target_);
}

// A group's AND/OR node is written when the group begins, so that nodes never need to be
// shifted behind it (the parser only knows of an operator after its first operand); a group
// that ends with fewer than two operands drops it again, as parentheses around one condition
// add nothing.
void Filter::Builder::Begin(bool is_or) {
  if (depth_ == kMaxGroups) MakeParser().Fail("groups nested too deeply", text_.size());
  groups_[depth_++] = Group{target_->nodes_.size(), 0, is_or};
  MakeParser().InsertOperator(target_->nodes_.size(), is_or);
}

void Filter::Builder::BeginAnd() { Begin(false); }

void Filter::Builder::BeginOr() { Begin(true); }

void Filter::Builder::End() {
  if (depth_ == 0) MakeParser().Fail("End without Begin", text_.size());
  const Group group = groups_[--depth_];
  std::vector<Node>& nodes = target_->nodes_;
  if (group.count > 1) {
    MakeParser().CloseOperator(group.first, group.count);
  } else {
    nodes.erase(nodes.begin() + static_cast<std::ptrdiff_t>(group.first));
  }
  if (group.count > 0) Operand();
}

void Filter::Builder::Finish() const {
  if (depth_ != 0) MakeParser().Fail("a group without End", text_.size());
}

void Filter::Builder::Operand() {
  if (depth_ > 0) ++groups_[depth_ - 1].count;
}

void Filter::Builder::CheckColumn(int column) const {
  if (column < 0 || static_cast<std::size_t>(column) >= fields_.size()) {
    MakeParser().Fail("no column at position " + std::to_string(column), text_.size());
  }
}

void Filter::Builder::Equals(int column, std::string_view constant, bool quoted) {
  CheckColumn(column);
  MakeParser().AddConstant(column, constant, quoted);
  Operand();
}

void Filter::Builder::IsNull(int column) {
  CheckColumn(column);
  MakeParser().AddIsNull(column);
  Operand();
}

}  // namespace tables
