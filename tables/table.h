// A dBASE table: our own table component. A table is read into memory when opened, held under an
// operating-system lock while open, and written back to its file when closed if it was changed.
// Navigation follows the TIN-style index when one is set, else file order; a filter narrows what
// is visible. Records flagged as deleted are never visible and are written back untouched.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"
#include "tables/dbf_format.h"
#include "tables/filter.h"
#include "tables/key_index.h"
#include "tables/value.h"

namespace tables {

class Table;

// One column of an open table, addressed by position. Reads come from the current record (or
// the record being appended or edited); with no current record every column reads blank.
// Valid while its table stays open.
class Field {
 public:
  const std::string& name() const;
  char type() const;
  // The column's position in its table, counted from 0.
  int position() const { return index_; }

  // The value as an integer: numbers rounded half away from zero, blank is 0, a logical is 1
  // or 0. Raises TableError for malformed bytes, dates, or values beyond 64 bits.
  std::int64_t AsInteger() const;
  // The value as text: character columns without their trailing blanks, numbers in their
  // shortest decimal form, dates as "dd.mm.yyyy", logicals as "T"/"F"; blank is "".
  // Raises TableError for malformed bytes.
  std::string AsString() const;
  // The value as a float; blank is 0. Raises TableError as AsInteger does.
  double AsFloat() const;
  // The value of whatever type the column holds (see DecodeField). Raises TableError.
  Value AsValue() const;

  // Writes into the record being appended or edited, converted to the column's type; a blank
  // value or an empty text clears the column. Raise TableError when the table is not in append
  // or edit mode, or the value does not convert or fit.
  void SetInteger(std::int64_t value);
  void SetString(const std::string& value);
  void SetFloat(double value);
  void SetValue(const Value& value);
  void Clear();
  // Writes the value of `source`, a column of another table (or of this one), converted to
  // this column's type: the same as SetValue(source.AsValue()), but where both columns store
  // the value alike the bytes are copied without converting them. Raises as SetValue does.
  void SetFrom(const Field& source);

 private:
  friend class Table;
  Field(Table* table, int index) : table_(table), index_(index) {}
  Table* table_;
  int index_;
};

class Table {
 public:
  // `component_name` names the table in error messages ("TableSorted").
  explicit Table(std::string component_name);
  // Closes the table if it is open (dropping a record not posted); never raises.
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Settings, changeable only while the table is closed (raise TableError otherwise).
  // The file is the directory text joined directly with the file name.
  void SetDirectory(const std::string& directory);
  void SetFileName(const std::string& file_name);
  void SetExclusive(bool exclusive);
  // A table that is only read: it opens even where another program keeps others from writing
  // the file, and every change raises.
  void SetReadOnly(bool read_only);
  // The name of a column whose text orders the records ("" for file order). Opening raises
  // when the table has no such column.
  void SetIndexName(const std::string& index_name);

  const std::string& component_name() const { return component_name_; }
  const std::string& directory() const { return directory_; }
  const std::string& file_name() const { return file_name_; }
  std::string FilePath() const { return directory_ + file_name_; }
  bool exclusive() const { return exclusive_; }
  bool read_only_setting() const { return read_only_setting_; }
  const std::string& index_name() const { return index_name_; }
  bool active() const { return file_ != nullptr; }
  // True when the open table may not be changed: it was set read-only, or its file could only
  // be opened for reading.
  bool read_only() const;

  // Opens the file and moves to the first visible record; nothing when already open. Raises
  // TableError when the file is missing, is held by another program in a conflicting mode, is
  // no valid table, lacks the index column, or the stored filter text does not parse.
  void Open();
  // Drops a record not posted, writes the table back if it changed, releases the file.
  // Raises TableError when writing back fails; the table is closed all the same.
  void Close();
  // Writes the table back to its file now if it changed, and keeps it open and locked; a
  // record being appended or edited is not part of it. Nothing on a closed, unchanged or
  // read-only table. Raises TableError when writing fails; the file then keeps its old content.
  void Flush();

  // Removes every record, keeping the columns. Raises on a closed or read-only table.
  void Empty();

  // The number of visible records (only the matching ones while a filter is on).
  // Raises on a closed table.
  std::int64_t RecordCount();

  // Move to the first / next visible record (index order when an index is set, else file
  // order); Next on the last record stays there. A record being appended or edited is posted
  // first. Raise on a closed table.
  void First();
  void Next();

  // Append starts a blank record; Edit makes the current record changeable; Post stores it;
  // Cancel drops it. A pending record is posted before Append or Edit starts another.
  // Raise on a closed or read-only table; Edit raises with no current record, Post outside
  // append or edit mode.
  void Append();
  void Edit();
  void Post();
  void Cancel();

  // The filter text. On a closed table it is only stored (parsed at Open). On an open table a
  // changed text is parsed at once, raising TableError when it does not parse; a filter that
  // is on is then applied anew.
  void SetFilter(const std::string& text);
  // The same as SetFilter(text), but the filter is not parsed from `text`: `build` is called
  // with a Filter::Builder (for an open table and a new, non-empty text) and writes the filter
  // that `text` stands for, for callers that set a filter of one shape for every row. Raises
  // what `build` raises; the filter then stays as it was.
  template <typename Build>
  void SetFilter(const std::string& text, Build&& build) {
    if (!BeginFilterChange(text)) return;
    if (!text.empty()) {
      Filter::Builder builder(&spare_filter_, text, layout_.fields, layout_.code_page, label_);
      build(builder);
      builder.Finish();
    }
    InstallSpareFilter(text);
  }
  const std::string& filter() const { return filter_text_; }
  // Switches the filter on or off. On a closed table it is only stored; on an open one it
  // applies or removes the filter and moves to the first visible record, raising TableError
  // when a record cannot be evaluated. An empty filter text filters nothing.
  void SetFiltered(bool filtered);
  bool filtered() const { return filtered_; }

  // The columns, in file order. Raise on a closed table; FieldAt raises for a bad position,
  // FieldByName (ignoring letter case) when the table has no such column.
  int FieldCount() const;
  std::string FieldName(int position) const;
  Field FieldAt(int position);
  Field FieldByName(std::string_view name);
  // The position of a column (ignoring letter case), or -1. Raises on a closed table.
  int FindField(std::string_view name) const;

  // Writes a new, empty table file with these columns (dBASE III, the given code page byte).
  // Raises TableError for invalid columns and platform::OsError when writing fails.
  static void Create(const std::string& path, const std::vector<FieldSpec>& columns,
                     std::uint8_t code_page_byte);

  // How many records filters have examined since the table was opened: lets tests see that
  // a filter answered from the index does not look at other records.
  std::uint64_t records_examined() const { return records_examined_; }

 private:
  friend class Field;
  enum class State { kBrowse, kAppend, kEdit };
  static constexpr std::uint32_t kNoRecord = 0xFFFFFFFFu;

  // Replaces the file's content with the table as it is now. Raises platform::OsError.
  void WriteBack();
  void RequireOpen(const char* operation) const;
  void RequireClosed(const char* setting) const;
  void RequireWritable(const char* operation) const;
  [[noreturn]] void Fail(const std::string& what) const;
  void PostPending();
  const char* RecordAt(std::uint32_t record) const;
  char* MutableRecordAt(std::uint32_t record);
  // The bytes that column reads see: the pending record, else the current one, else none.
  const char* ReadableRecord();
  char* WritableRecord(const FieldDef& field);
  bool IsDeleted(std::uint32_t record) const;
  std::string_view KeyOf(const char* record) const;
  void IndexInsert(std::uint32_t record);
  void IndexRemove(std::uint32_t record, std::string_view key);
  void BuildIndex();
  bool IndexOrderBefore(std::uint32_t a, std::uint32_t b) const;
  const std::vector<std::uint32_t>& IndexOrder();
  void InvalidateView();
  const std::vector<std::uint32_t>& View();
  void Relocate();
  // Evaluates the filter on one record, counting it in records_examined_.
  bool Examine(std::uint32_t record);
  // SetFilter in two halves around making the new filter in spare_filter_. The first stores the
  // text of a closed table, and returns false when there is nothing more to do.
  bool BeginFilterChange(const std::string& text);
  void InstallSpareFilter(const std::string& text);
  std::string FieldContext(int position) const;

  // Settings.
  std::string component_name_;
  std::string directory_;
  std::string file_name_;
  bool exclusive_ = false;
  bool read_only_setting_ = false;
  std::string index_name_;
  std::string filter_text_;
  bool filtered_ = false;

  // Open state.
  std::unique_ptr<platform::LockedFile> file_;
  std::string label_;  // the file path, for messages
  DbfLayout layout_;
  std::string records_;
  std::uint32_t record_count_ = 0;  // records in the file, deleted ones included
  std::uint32_t deleted_count_ = 0;
  bool dirty_ = false;
  Filter filter_;
  bool has_filter_ = false;  // a non-empty filter text is parsed into filter_
  // Where SetFilter makes the new filter before swapping it with filter_: a text that fails
  // leaves filter_ as it was, and the merge's filter per row reuses the storage of the two.
  Filter spare_filter_;

  // The index: records by key, and the full order when asked for.
  int index_field_ = -1;
  KeyIndex key_index_;
  std::vector<std::uint32_t> index_order_;
  bool index_order_valid_ = false;

  // What navigation sees, built when first needed after a change.
  std::vector<std::uint32_t> view_;
  bool view_valid_ = false;
  std::size_t position_ = 0;  // in view_, meaningful when current_ != kNoRecord
  std::uint32_t current_ = kNoRecord;

  State state_ = State::kBrowse;
  std::string pending_;  // the record being appended or edited
  // The record that Edit started on: Post stores there even when rebuilding the view (a count
  // under a filter, say) has moved current_ meanwhile.
  std::uint32_t edit_record_ = kNoRecord;
  std::uint64_t records_examined_ = 0;
};

}  // namespace tables
