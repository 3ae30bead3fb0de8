#include "merge/result_pass.h"

#include <string>

#include "log/texts.h"
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
  for (std::int64_t row = 0; row < work.RecordCount(); ++row) {
    result.Append();
    for (int i = 0; i < result.FieldCount(); ++i) {
      const std::string name = result.FieldName(i);
      try {
        tables::Field target = result.FieldByName(name);
        target.SetValue(work.FieldByName(name).AsValue());
      } catch (...) {
        job.log.Add(texts::kLogResultColumnError + name);
      }
    }
    // The sums come from the new result record, so a money column the work table lacks adds 0.
    job.totals.dox += result.FieldByName(tables::kColumnS_DOX).AsFloat();
    job.totals.nar += result.FieldByName(tables::kColumnS_NAR).AsFloat();
    job.totals.taxn += result.FieldByName(tables::kColumnS_TAXN).AsFloat();
    job.totals.taxp += result.FieldByName(tables::kColumnS_TAXP).AsFloat();
    result.FieldByName(tables::kColumnNP).SetInteger(row + 1);
    result.FieldByName(tables::kColumnPERIOD).SetString(period);
    result.Post();
    work.Next();
  }
}

}  // namespace merge
