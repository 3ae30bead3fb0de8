#include "merge/result_pass.h"

#include <optional>
#include <string>

#include "log/texts.h"
#include "merge/report_columns.h"
#include "tables/report_layout.h"

namespace merge {

void WriteResultTable(JobContext& job) {
  tables::Table& work = job.data.TableSorted;
  tables::Table& result = job.data.TableRez;

  result.SetDirectory(job.executable_directory);
  result.Open();
  result.Empty();

  work.First();
  job.totals = ResultTotals();
  const std::string period = std::to_string(job.PeriodNumber);
  std::optional<ColumnCopy> columns;
  for (std::int64_t row = 0; row < work.RecordCount(); ++row) {
    result.Append();
    if (!columns) columns.emplace(result, work, result);
    columns->CopyRecord(
        [&](const std::string& name) { job.log.Add(texts::kLogResultColumnError + name); });
    // The sums come from the new result record, so a money column the work table lacks adds 0.
    job.totals.dox += job.result[Column::kS_DOX].AsFloat();
    job.totals.nar += job.result[Column::kS_NAR].AsFloat();
    job.totals.taxn += job.result[Column::kS_TAXN].AsFloat();
    job.totals.taxp += job.result[Column::kS_TAXP].AsFloat();
    job.result[Column::kNP].SetInteger(row + 1);
    job.result[Column::kPERIOD].SetString(period);
    result.Post();
    work.Next();
  }
}

}  // namespace merge
