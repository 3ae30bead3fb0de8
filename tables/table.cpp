#include "tables/table.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

#include "tables/bytes.h"
#include "tables/field_codec.h"
#include "tables/table_error.h"

namespace tables {
namespace {

constexpr char kDeletedFlag = '*';
// Marks a current record that is "the first visible one" but not looked up yet: switching a
// filter off moves to the first record, and finding it in index order would mean sorting the
// whole table for every merged row, although nobody reads that record before the next filter.
constexpr std::uint32_t kPendingFirst = 0xFFFFFFFEu;

// The text of `<name>='value'` at the start of a filter, when the value is plain ASCII without
// quotes: the merge's filters start with the index column's value. Only a hint for fetching
// memory early, so anything unusual simply gives nothing.
std::optional<std::string_view> LeadingEquality(std::string_view filter, std::string_view name) {
  if (filter.size() < name.size() + 3) return std::nullopt;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = filter[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    char n = name[i];
    if (n >= 'a' && n <= 'z') n = static_cast<char>(n - 'a' + 'A');
    if (c != n) return std::nullopt;
  }
  if (filter[name.size()] != '=' || filter[name.size() + 1] != '\'') return std::nullopt;
  const std::size_t begin = name.size() + 2;
  const std::size_t end = filter.find('\'', begin);
  if (end == std::string_view::npos) return std::nullopt;
  for (std::size_t i = begin; i < end; ++i) {
    if (static_cast<unsigned char>(filter[i]) >= 0x80) return std::nullopt;
  }
  return TrimTrailing(filter.substr(begin, end - begin));
}

// Column names are ASCII; the locale-free comparison is also what keeps name lookups cheap.
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Field

const std::string& Field::name() const { return table_->layout_.fields[index_].name; }

char Field::type() const { return table_->layout_.fields[index_].type; }

Value Field::AsValue() const {
  table_->RequireOpen("read a column");
  const char* record = table_->ReadableRecord();
  if (record == nullptr) return Value();
  try {
    return DecodeField(table_->layout_.fields[index_], record, table_->layout_.code_page);
  } catch (const ValueError& error) {
    table_->Fail(table_->FieldContext(index_) + ": " + error.what());
  }
}

std::string Field::AsString() const {
  const FieldDef& field = table_->layout_.fields[index_];
  if (field.type == 'D') {
    // Dates are read for every merged row: skip the Value round trip.
    table_->RequireOpen("read a column");
    const char* record = table_->ReadableRecord();
    if (record == nullptr) return std::string();
    try {
      const std::optional<Date> date = ParseDateField(
          std::string_view(record + field.offset, static_cast<std::size_t>(field.width)));
      return date ? FormatDateText(*date) : std::string();
    } catch (const ValueError& error) {
      table_->Fail(table_->FieldContext(index_) + ": " + error.what());
    }
  }
  if (field.type == 'C') {
    // Character columns are the common case; skip the Value round trip.
    table_->RequireOpen("read a column");
    const char* record = table_->ReadableRecord();
    if (record == nullptr) return std::string();
    const std::string_view text = TrimTrailing(
        std::string_view(record + field.offset, static_cast<std::size_t>(field.width)));
    return platform::DecodeToUtf8(text, table_->layout_.code_page);
  }
  return ValueText(AsValue());
}

double Field::AsFloat() const {
  table_->RequireOpen("read a column");
  const char* record = table_->ReadableRecord();
  if (record == nullptr) return 0;
  const FieldDef& field = table_->layout_.fields[index_];
  const std::string_view raw(record + field.offset, static_cast<std::size_t>(field.width));
  try {
    switch (field.type) {
      case 'D':
        if (ParseDateField(raw)) throw ValueError("a date is not a number");
        return 0;
      case 'L':
        return ParseLogicalField(raw[0]).value_or(false) ? 1 : 0;
      default:
        return ParseNumberField(raw).value_or(0);
    }
  } catch (const ValueError& error) {
    table_->Fail(table_->FieldContext(index_) + ": " + error.what());
  }
}

std::int64_t Field::AsInteger() const {
  const double value = std::round(AsFloat());
  if (!(std::fabs(value) < 9.2e18)) {
    table_->Fail(table_->FieldContext(index_) + ": the value is too large for an integer");
  }
  return static_cast<std::int64_t>(value);
}

void Field::SetValue(const Value& value) {
  const FieldDef& field = table_->layout_.fields[index_];
  char* record = table_->WritableRecord(field);
  try {
    EncodeField(field, value, record, table_->layout_.code_page);
  } catch (const ValueError& error) {
    table_->Fail("cannot write column '" + field.name + "': " + error.what());
  }
}

namespace {

bool IsDigitByte(char c) { return c >= '0' && c <= '9'; }

// True when `raw` is a number field exactly as FormatNumberField writes the value it holds:
// right-aligned, no leading zeros, exactly `decimals` decimals, no "-0", and few enough digits
// that the value reads back to the same digits.
bool IsCanonicalNumber(const char* raw, int width, int decimals) {
  int i = 0;
  while (i < width && raw[i] == ' ') ++i;
  if (i == width) return true;  // blank
  bool negative = false;
  if (raw[i] == '-') {
    negative = true;
    ++i;
  }
  const int whole_start = i;
  while (i < width && IsDigitByte(raw[i])) ++i;
  const int whole_digits = i - whole_start;
  if (whole_digits == 0 || (whole_digits > 1 && raw[whole_start] == '0')) return false;
  bool all_zero = whole_digits == 1 && raw[whole_start] == '0';
  int fraction_digits = 0;
  if (decimals > 0) {
    if (i == width || raw[i] != '.') return false;
    ++i;
    while (i < width && IsDigitByte(raw[i])) {
      all_zero = all_zero && raw[i] == '0';
      ++fraction_digits;
      ++i;
    }
    if (fraction_digits != decimals) return false;
  }
  return i == width && whole_digits + fraction_digits <= 15 && !(negative && all_zero);
}

bool IsCanonicalDate(const char* raw) {
  bool blank = true;
  for (int i = 0; i < 8; ++i) blank = blank && raw[i] == ' ';
  if (blank) return true;
  try {
    return ParseDateField(std::string_view(raw, 8)).has_value();
  } catch (const ValueError&) {
    return false;
  }
}

// Character bytes that decode and encode back unchanged: no NUL (trailing NULs become blanks),
// and bytes above ASCII only between tables of one code page, where every such byte but the
// unassigned 0x98 of Windows-1251 keeps its meaning.
bool IsCanonicalText(const char* raw, int width, bool same_code_page, platform::CodePage page) {
  for (int i = 0; i < width; ++i) {
    const auto byte = static_cast<unsigned char>(raw[i]);
    if (byte == 0) return false;
    if (byte >= 0x80 &&
        (!same_code_page || (page == platform::CodePage::kCp1251 && byte == 0x98))) {
      return false;
    }
  }
  return true;
}

}  // namespace

void Field::SetFrom(const Field& source) {
  const FieldDef& to = table_->layout_.fields[index_];
  const FieldDef& from = source.table_->layout_.fields[source.index_];
  source.table_->RequireOpen("read a column");
  const char* record = source.table_->ReadableRecord();
  if (record != nullptr && to.type == from.type && to.width == from.width &&
      to.decimals == from.decimals) {
    // Most columns of a report are copied between tables of one layout; where the stored bytes
    // are already what writing the value would produce, copying them is the same write.
    const char* raw = record + from.offset;
    bool canonical = false;
    switch (to.type) {
      case 'C':
        canonical = IsCanonicalText(raw, to.width,
                                    table_->layout_.code_page == source.table_->layout_.code_page,
                                    table_->layout_.code_page);
        break;
      case 'N':
      case 'F':
        canonical = IsCanonicalNumber(raw, to.width, to.decimals);
        break;
      case 'D':
        canonical = IsCanonicalDate(raw);
        break;
      case 'L':
        canonical = *raw == 'T' || *raw == 'F' || *raw == '?';
        break;
      default:
        break;
    }
    if (canonical) {
      std::memcpy(table_->WritableRecord(to) + to.offset, raw, static_cast<std::size_t>(to.width));
      return;
    }
  }
  SetValue(source.AsValue());
}

void Field::SetInteger(std::int64_t value) {
  const FieldDef& field = table_->layout_.fields[index_];
  if (field.type != 'N' && field.type != 'F') {
    SetValue(Value::Integer(value));
    return;
  }
  // Row numbers and income kinds are written for every row: skip the Value round trip.
  char* record = table_->WritableRecord(field);
  try {
    FormatIntegerField(value, field.width, field.decimals, record + field.offset);
  } catch (const ValueError& error) {
    table_->Fail("cannot write column '" + field.name + "': " + error.what());
  }
}

void Field::SetString(const std::string& value) { SetValue(Value::Text(value)); }

void Field::SetFloat(double value) {
  const FieldDef& field = table_->layout_.fields[index_];
  if (field.type != 'N' && field.type != 'F') {
    SetValue(Value::Float(value));
    return;
  }
  // Sums are written into number columns for every merged row: skip the Value round trip.
  char* record = table_->WritableRecord(field);
  try {
    FormatNumberField(value, field.width, field.decimals, record + field.offset);
  } catch (const ValueError& error) {
    table_->Fail("cannot write column '" + field.name + "': " + error.what());
  }
}

void Field::Clear() {
  ClearField(table_->layout_.fields[index_],
             table_->WritableRecord(table_->layout_.fields[index_]));
}

// ---------------------------------------------------------------------------------------------
// Table: settings and lifetime

Table::Table(std::string component_name) : component_name_(std::move(component_name)) {}

Table::~Table() {
  try {
    Close();
  } catch (...) {
    // A destructor must not throw; Close has released the file already.
  }
}

void Table::RequireClosed(const char* setting) const {
  if (active()) Fail(std::string("cannot change the ") + setting + " of an open table");
}

void Table::SetDirectory(const std::string& directory) {
  RequireClosed("directory");
  directory_ = directory;
}

void Table::SetFileName(const std::string& file_name) {
  RequireClosed("file name");
  file_name_ = file_name;
}

void Table::SetExclusive(bool exclusive) {
  RequireClosed("exclusive setting");
  exclusive_ = exclusive;
}

void Table::SetReadOnly(bool read_only) {
  RequireClosed("read-only setting");
  read_only_setting_ = read_only;
}

void Table::SetIndexName(const std::string& index_name) {
  RequireClosed("index");
  index_name_ = index_name;
}

bool Table::read_only() const { return file_ && (read_only_setting_ || file_->read_only()); }

void Table::Fail(const std::string& what) const {
  throw TableError(component_name_ + " '" + FilePath() + "': " + what);
}

void Table::RequireOpen(const char* operation) const {
  if (!active()) Fail(std::string("cannot ") + operation + ": the table is not open");
}

void Table::RequireWritable(const char* operation) const {
  RequireOpen(operation);
  if (read_only()) Fail(std::string("cannot ") + operation + ": the file is read-only");
}

std::string Table::FieldContext(int position) const {
  std::string context = "column '" + layout_.fields[static_cast<std::size_t>(position)].name + "'";
  if (state_ == State::kBrowse && current_ < kPendingFirst) {
    context += " of record " + std::to_string(current_ + 1);
  }
  return context;
}

void Table::Open() {
  if (active()) return;
  const std::string path = FilePath();
  std::unique_ptr<platform::LockedFile> file;
  DbfImage image;
  try {
    using Sharing = platform::LockedFile::Sharing;
    file = std::make_unique<platform::LockedFile>(
        path, exclusive_ ? Sharing::kExclusive
                         : (read_only_setting_ ? Sharing::kReading : Sharing::kShared));
    image = ParseDbf(file->ReadAll(), path);
  } catch (const platform::OsError& error) {
    throw TableError(component_name_ + ": " + error.what());
  }
  int index_field = -1;
  if (!index_name_.empty()) {
    for (std::size_t i = 0; i < image.layout.fields.size(); ++i) {
      if (EqualsIgnoringCase(image.layout.fields[i].name, index_name_)) {
        index_field = static_cast<int>(i);
      }
    }
    if (index_field < 0) Fail("the index '" + index_name_ + "' needs a column of that name");
  }
  Filter filter;
  if (!filter_text_.empty()) {
    filter = Filter::Parse(filter_text_, image.layout.fields, image.layout.code_page, path);
  }

  file_ = std::move(file);
  label_ = path;
  layout_ = std::move(image.layout);
  records_ = std::move(image.records);
  record_count_ = image.record_count;
  deleted_count_ = 0;
  for (std::uint32_t r = 0; r < record_count_; ++r) {
    if (IsDeleted(r)) ++deleted_count_;
  }
  dirty_ = false;
  filter_ = std::move(filter);
  has_filter_ = !filter_text_.empty();
  index_field_ = index_field;
  state_ = State::kBrowse;
  pending_.clear();
  records_examined_ = 0;
  BuildIndex();
  InvalidateView();
  current_ = kPendingFirst;
}

void Table::Close() {
  if (!active()) return;
  state_ = State::kBrowse;
  pending_.clear();
  std::string failure;
  if (dirty_ && !read_only()) {
    try {
      WriteBack();
    } catch (const platform::OsError& error) {
      failure = error.what();
    }
  }
  file_.reset();
  records_.clear();
  records_.shrink_to_fit();
  key_index_.Clear();
  index_order_.clear();
  index_order_valid_ = false;
  view_.clear();
  view_valid_ = false;
  current_ = kNoRecord;
  dirty_ = false;
  if (!failure.empty()) Fail("the table could not be written back: " + failure);
}

void Table::Flush() {
  if (!active() || !dirty_ || read_only()) return;
  try {
    WriteBack();
  } catch (const platform::OsError& error) {
    Fail(std::string("the table could not be written back: ") + error.what());
  }
  dirty_ = false;
}

void Table::WriteBack() {
  // In pieces: a large table is not copied into one buffer to be written.
  const std::string header = SerializeHeader(layout_, record_count_, platform::Now());
  const char end_mark = kEndOfFileMark;
  file_->ReplaceContents({header, records_, std::string_view(&end_mark, 1)});
}

void Table::Create(const std::string& path, const std::vector<FieldSpec>& columns,
                   std::uint8_t code_page_byte) {
  const DbfLayout layout = NewLayout(columns, code_page_byte);
  platform::WriteWholeFile(path, SerializeDbf(layout, 0, std::string_view(), platform::Now()));
}

// ---------------------------------------------------------------------------------------------
// Records and the index

const char* Table::RecordAt(std::uint32_t record) const {
  return records_.data() + static_cast<std::size_t>(record) * layout_.record_length;
}

char* Table::MutableRecordAt(std::uint32_t record) {
  return records_.data() + static_cast<std::size_t>(record) * layout_.record_length;
}

bool Table::IsDeleted(std::uint32_t record) const { return RecordAt(record)[0] == kDeletedFlag; }

std::string_view Table::KeyOf(const char* record) const {
  const FieldDef& field = layout_.fields[static_cast<std::size_t>(index_field_)];
  return TrimTrailing(
      std::string_view(record + field.offset, static_cast<std::size_t>(field.width)));
}

void Table::IndexInsert(std::uint32_t record) {
  key_index_.Insert(record);
  index_order_valid_ = false;
}

void Table::IndexRemove(std::uint32_t record, std::string_view key) {
  key_index_.Remove(record, key);
  index_order_valid_ = false;
}

void Table::BuildIndex() {
  index_order_.clear();
  index_order_valid_ = false;
  if (index_field_ < 0) return;
  const FieldDef& field = layout_.fields[static_cast<std::size_t>(index_field_)];
  key_index_.Bind(&records_, layout_.record_length, field.offset, field.width);
  for (std::uint32_t r = 0; r < record_count_; ++r) {
    if (!IsDeleted(r)) key_index_.Insert(r);
  }
}

bool Table::IndexOrderBefore(std::uint32_t a, std::uint32_t b) const {
  const int order = KeyOf(RecordAt(a)).compare(KeyOf(RecordAt(b)));
  return order < 0 || (order == 0 && a < b);
}

const std::vector<std::uint32_t>& Table::IndexOrder() {
  if (!index_order_valid_) {
    index_order_.clear();
    index_order_.reserve(record_count_ - deleted_count_);
    for (std::uint32_t r = 0; r < record_count_; ++r) {
      if (!IsDeleted(r)) index_order_.push_back(r);
    }
    // Byte order of the key text: the same order for every code page, and what a person
    // expects for taxpayer numbers made of digits.
    std::sort(index_order_.begin(), index_order_.end(),
              [this](std::uint32_t a, std::uint32_t b) { return IndexOrderBefore(a, b); });
    index_order_valid_ = true;
  }
  return index_order_;
}

// ---------------------------------------------------------------------------------------------
// What navigation sees

void Table::InvalidateView() {
  view_valid_ = false;
  view_.clear();
}

bool Table::Examine(std::uint32_t record) {
  ++records_examined_;
  try {
    return filter_.Matches(RecordAt(record));
  } catch (const ValueError& error) {
    Fail("record " + std::to_string(record + 1) + " cannot be checked against the filter \"" +
         filter_text_ + "\": " + error.what());
  }
}

const std::vector<std::uint32_t>& Table::View() {
  if (view_valid_) return view_;
  const bool filtering = filtered_ && has_filter_;
  if (filtering && index_field_ >= 0) {
    if (const auto key = filter_.IndexKey(index_field_)) {
      // Only records with this key can match: look at them alone, never at the whole table.
      view_.clear();
      const KeyIndex::Records candidates = key_index_.Find(*key);
      for (std::uint32_t r : candidates) {
        Prefetch(RecordAt(r));
        Prefetch(RecordAt(r) + layout_.record_length - 1);
      }
      for (std::uint32_t r : candidates) {
        if (Examine(r)) view_.push_back(r);
      }
      view_valid_ = true;
      Relocate();
      return view_;
    }
  }
  std::vector<std::uint32_t> base;
  if (index_field_ >= 0) {
    base = IndexOrder();
  } else {
    base.reserve(record_count_ - deleted_count_);
    for (std::uint32_t r = 0; r < record_count_; ++r) {
      if (!IsDeleted(r)) base.push_back(r);
    }
  }
  if (filtering) {
    view_.clear();
    for (std::uint32_t r : base) {
      if (Examine(r)) view_.push_back(r);
    }
  } else {
    view_ = std::move(base);
  }
  view_valid_ = true;
  Relocate();
  return view_;
}

// After the view was rebuilt, finds the current record in it again. The view is sorted (by
// record number, or by key then record number), so a binary search finds the record or, when
// it is no longer visible, the record that follows it.
void Table::Relocate() {
  if (current_ == kPendingFirst) {
    position_ = 0;
    current_ = view_.empty() ? kNoRecord : view_[0];
    return;
  }
  if (current_ == kNoRecord) {
    position_ = 0;
    return;
  }
  const std::uint32_t target = current_;
  auto at = index_field_ >= 0 ? std::lower_bound(view_.begin(), view_.end(), target,
                                                 [this](std::uint32_t a, std::uint32_t b) {
                                                   return IndexOrderBefore(a, b);
                                                 })
                              : std::lower_bound(view_.begin(), view_.end(), target);
  if (view_.empty()) {
    current_ = kNoRecord;
    position_ = 0;
    return;
  }
  if (at == view_.end()) --at;
  position_ = static_cast<std::size_t>(at - view_.begin());
  current_ = *at;
}

const char* Table::ReadableRecord() {
  if (state_ != State::kBrowse) return pending_.data();
  if (current_ == kPendingFirst) View();
  if (current_ == kNoRecord) return nullptr;
  return RecordAt(current_);
}

char* Table::WritableRecord(const FieldDef& field) {
  RequireOpen("write a column");
  if (state_ == State::kBrowse) {
    Fail("cannot write column '" + field.name + "': no record is being appended or edited");
  }
  return pending_.data();
}

// ---------------------------------------------------------------------------------------------
// Operations

void Table::Empty() {
  RequireWritable("empty the table");
  state_ = State::kBrowse;
  pending_.clear();
  records_.clear();
  record_count_ = 0;
  deleted_count_ = 0;
  key_index_.Clear();
  index_order_.clear();
  index_order_valid_ = false;
  InvalidateView();
  current_ = kNoRecord;
  dirty_ = true;
}

std::int64_t Table::RecordCount() {
  RequireOpen("count the records");
  if (filtered_ && has_filter_) return static_cast<std::int64_t>(View().size());
  return static_cast<std::int64_t>(record_count_ - deleted_count_);
}

void Table::PostPending() {
  if (state_ != State::kBrowse) Post();
}

void Table::First() {
  RequireOpen("move to the first record");
  PostPending();
  current_ = kPendingFirst;
  if (view_valid_) Relocate();
}

void Table::Next() {
  RequireOpen("move to the next record");
  PostPending();
  View();
  if (current_ == kNoRecord) return;
  if (position_ + 1 < view_.size()) current_ = view_[++position_];
}

void Table::Append() {
  RequireWritable("append a record");
  PostPending();
  pending_.assign(layout_.record_length, ' ');
  for (const FieldDef& field : layout_.fields) ClearField(field, pending_.data());
  state_ = State::kAppend;
}

void Table::Edit() {
  RequireWritable("edit a record");
  if (state_ == State::kEdit) return;
  PostPending();
  if (current_ == kPendingFirst) View();
  if (current_ == kNoRecord) Fail("cannot edit: there is no current record");
  pending_.assign(RecordAt(current_), layout_.record_length);
  edit_record_ = current_;
  state_ = State::kEdit;
}

void Table::Post() {
  RequireOpen("post a record");
  if (state_ == State::kBrowse) Fail("cannot post: no record is being appended or edited");
  RequireWritable("post a record");
  const bool filtering = filtered_ && has_filter_;
  if (state_ == State::kAppend) {
    if (record_count_ == 0xFFFFFFFEu) Fail("cannot append: the table is full");
    records_.append(pending_);
    const std::uint32_t record = record_count_++;
    if (index_field_ >= 0) IndexInsert(record);
    if (view_valid_ && !filtering && index_field_ < 0) {
      // File order without a filter: the new record simply comes last.
      view_.push_back(record);
      position_ = view_.size() - 1;
    } else {
      InvalidateView();
    }
    current_ = record;
  } else {
    char* stored = MutableRecordAt(edit_record_);
    if (index_field_ >= 0) {
      const std::string old_key(KeyOf(stored));
      std::memcpy(stored, pending_.data(), layout_.record_length);
      if (KeyOf(stored) != old_key) {
        IndexRemove(edit_record_, old_key);
        IndexInsert(edit_record_);
        InvalidateView();
      }
    } else {
      std::memcpy(stored, pending_.data(), layout_.record_length);
    }
    if (filtering) InvalidateView();
  }
  state_ = State::kBrowse;
  pending_.clear();
  dirty_ = true;
}

void Table::Cancel() {
  state_ = State::kBrowse;
  pending_.clear();
}

void Table::SetFilter(const std::string& text) {
  if (!BeginFilterChange(text)) return;
  if (!text.empty()) spare_filter_.ParseInto(text, layout_.fields, layout_.code_page, label_);
  InstallSpareFilter(text);
}

bool Table::BeginFilterChange(const std::string& text) {
  if (!active()) {
    filter_text_ = text;
    return false;
  }
  if (text == filter_text_) return false;
  if (index_field_ >= 0) {
    // Fetching the index slot now lets that memory access overlap with making the filter.
    const FieldDef& key_field = layout_.fields[static_cast<std::size_t>(index_field_)];
    if (const auto key = LeadingEquality(text, key_field.name)) key_index_.Prefetch(*key);
  }
  return true;
}

// The new filter is made in spare_filter_, so that a text that fails (or memory that runs out)
// leaves filter_ and its text as they were; swapping it in cannot fail, and the two filters
// keep their storage from row to row.
void Table::InstallSpareFilter(const std::string& text) {
  filter_text_ = text;
  if (text.empty()) {
    filter_ = Filter();
  } else {
    filter_.Swap(spare_filter_);
  }
  has_filter_ = !text.empty();
  if (filtered_) SetFiltered(true);
}

void Table::SetFiltered(bool filtered) {
  if (!active()) {
    filtered_ = filtered;
    return;
  }
  PostPending();
  filtered_ = filtered;
  InvalidateView();
  current_ = kPendingFirst;
  // A filter is applied at once, so that a record it cannot evaluate fails here, where the
  // caller switched it on; without a filter the first record is looked up when first needed.
  if (filtered_ && has_filter_) View();
}

// ---------------------------------------------------------------------------------------------
// Columns

int Table::FieldCount() const {
  RequireOpen("list the columns");
  return static_cast<int>(layout_.fields.size());
}

std::string Table::FieldName(int position) const {
  RequireOpen("list the columns");
  if (position < 0 || position >= FieldCount()) {
    Fail("there is no column at position " + std::to_string(position));
  }
  return layout_.fields[static_cast<std::size_t>(position)].name;
}

int Table::FindField(std::string_view name) const {
  RequireOpen("look up a column");
  for (std::size_t i = 0; i < layout_.fields.size(); ++i) {
    if (EqualsIgnoringCase(layout_.fields[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

Field Table::FieldAt(int position) {
  FieldName(position);  // validates
  return Field(this, position);
}

Field Table::FieldByName(std::string_view name) {
  const int position = FindField(name);
  if (position < 0) Fail("the table has no column '" + std::string(name) + "'");
  return Field(this, position);
}

}  // namespace tables
