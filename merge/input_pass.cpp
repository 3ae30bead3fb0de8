#include "merge/input_pass.h"

#include <string>

#include "log/texts.h"
#include "merge/match_filter.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "tables/report_layout.h"
#include "tables/table_error.h"

namespace merge {
namespace {

using tables::Table;

// A row's amount that the work record cannot take. Raised through the guard of the accumulation,
// which lets every other failure go with a beep.
class LostAmount : public tables::TableError {
 public:
  using tables::TableError::TableError;
};

void LogColumnError(JobContext& job, const std::string& tin, const std::string& column) {
  job.log.Add({texts::kLogRowIdPrefix, tin, texts::kLogRowColumnError, column});
}

// A row without a match becomes a new work record: every input column that the work table has
// too is copied by name; a column the work table lacks is logged and left out. A value that
// cannot be carried over ends the job (ColumnCopy::CopyRecord).
void AppendNewRecord(JobContext& job, const std::string& tin) {
  Table& input = job.data.Table1;
  Table& work = job.data.TableSorted;
  ++job.AddedCount;
  work.Append();
  if (!job.input_copy) job.input_copy.emplace(input, input, work);
  job.input_copy->CopyRecord([&](const std::string& name) { LogColumnError(job, tin, name); });
}

// Adds a matching row into the work record. Each write is tried on its own: one column that
// fails must not cost the tax amounts of the columns after it. An amount that cannot be read,
// or a sum too large for its work column, ends the job instead: the report would miss money.
void AccumulateIntoRecord(JobContext& job, const MatchKey& key) {
  Table& work = job.data.TableSorted;
  std::int64_t kind = job.work[Column::kOZN_DOX].AsInteger();
  if (kind != key.income_kind) kind = 1;  // only kinds 1 and 2 can differ here; together they are 1
  ++job.EditedCount;
  // Logged for most rows of a merge: the fixed parts are encoded once.
  static const runlog::LogText kPrefix(texts::kLogFoundAgainPrefix);
  static const runlog::LogText kSuffix(texts::kLogFoundAgainSuffix);
  job.log.Add(kPrefix, key.tin, kSuffix);
  work.Edit();

  auto attempt = [&](Column column, auto&& write) {
    try {
      write();
    } catch (const LostAmount&) {
      throw;
    } catch (...) {
      platform::Beep();
      LogColumnError(job, key.tin, ColumnName(column));
    }
  };
  attempt(Column::kOZN_DOX, [&] { job.work[Column::kOZN_DOX].SetInteger(kind); });
  for (Column column : {Column::kS_NAR, Column::kS_DOX, Column::kS_TAXN, Column::kS_TAXP}) {
    attempt(column, [&] {
      tables::Field sum = job.work[column];
      tables::Field amount = job.input[column];
      try {
        sum.SetFloat(sum.AsFloat() + amount.AsFloat());
      } catch (const tables::TableError& error) {
        throw LostAmount(error.what());
      }
    });
  }
  attempt(Column::kD_ZVILN, [&] {
    tables::Field dismissal = job.work[Column::kD_ZVILN];
    if (TrimControlCharacters(dismissal.AsString()).empty()) {
      dismissal.SetString(job.input[Column::kD_ZVILN].AsString());
    }
  });
}

}  // namespace

void MergeInputFile(JobContext& job, const std::string& argument) {
  Table& input = job.data.Table1;
  job.log.Add(texts::kLogAddingFrom + std::string("\"") + argument + "\"");
  job.input.Reset();
  job.input_copy.reset();

  // The directory part ends at the last backslash or colon, as Windows paths are written; a
  // name without either (forward slashes included) is taken relative to the current directory.
  const std::size_t split = argument.find_last_of("\\:");
  const std::string directory = split == std::string::npos ? "" : argument.substr(0, split + 1);
  const std::string file_name = split == std::string::npos ? argument : argument.substr(split + 1);
  try {
    input.Close();
    input.SetDirectory(directory);
    input.SetFileName(file_name);
    input.Open();
  } catch (...) {
    platform::ShowMessageBox(texts::kErrorCaption, texts::kCannotOpenInput,
                             platform::BoxIcon::kNone);
    platform::WriteErrorLine(platform::CurrentFailureMessage());
  }

  if (input.RecordCount() > 0) input.First();
  for (std::int64_t row = 0; row < input.RecordCount(); ++row) {
    if (MergeInputRecord(job)) break;
    input.Next();
  }
}

bool MergeInputRecord(JobContext& job) {
  Table& work = job.data.TableSorted;

  const std::int64_t np = job.input[Column::kNP].AsInteger();
  if (np > tables::kHighestOrdinaryRow) {
    job.log.Add(texts::kLogSkippingRow + std::to_string(np));
    return false;
  }

  const MatchKey key = ReadMatchKey(job.input);
  work.SetFiltered(false);
  if (!job.match_columns) job.match_columns = FindMatchColumns(job.work);
  BuildMatchFilter(key, &job.match_filter);
  work.SetFilter(job.match_filter, [&](tables::Filter::Builder& filter) {
    WriteMatchFilter(key, *job.match_columns, filter);
  });
  try {
    work.SetFiltered(true);
  } catch (...) {
    platform::ShowMessageBox(texts::kFilterErrorCaption, texts::kFilterErrorText,
                             platform::BoxIcon::kError);
    platform::WriteErrorLine(platform::CurrentFailureMessage());
    return true;
  }

  if (work.RecordCount() <= 0) {
    AppendNewRecord(job, key.tin);
  } else {
    AccumulateIntoRecord(job, key);
  }
  if (job.work[Column::kOZN_DOX].AsInteger() == 22) job.work[Column::kOZN_PILG].Clear();
  work.Post();
  work.SetFiltered(false);
  return false;
}

}  // namespace merge
