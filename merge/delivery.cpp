#include "merge/delivery.h"

#include <string>

#include "log/texts.h"
#include "merge/report_columns.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "tables/report_layout.h"

namespace merge {

void AppendTotalRecord(JobContext& job) {
  tables::Table& result = job.data.TableRez;

  job.log.Add(texts::kLogAddingTotal);
  result.Append();
  job.result[Column::kRIK].SetString(job.work[Column::kRIK].AsString());
  job.result[Column::kKOD].SetString(job.work[Column::kKOD].AsString());
  job.result[Column::kPERIOD].SetString(std::to_string(job.PeriodNumber));
  job.result[Column::kTYP].SetString(job.work[Column::kTYP].AsString());
  job.result[Column::kTIN].SetString(tables::kTotalRowTin);
  job.result[Column::kNP].SetInteger(tables::kTotalRowNumber);
  job.result[Column::kS_DOX].SetFloat(job.totals.dox);
  job.result[Column::kS_TAXN].SetFloat(job.totals.taxn);
  job.result[Column::kS_TAXP].SetFloat(job.totals.taxp);
  job.result[Column::kS_NAR].SetFloat(job.totals.nar);
  result.Post();
  result.Close();
}

void DeliverResult(JobContext& job) {
  const tables::Table& result = job.data.TableRez;
  const std::string source = result.directory() + result.file_name();
  const std::string& target = job.arguments.at(1);
  try {
    // The copy goes beside the target and is renamed over it, so the first input is either
    // untouched or the complete result, never a half-written file.
    platform::ReplaceFileWithCopy(source, target);
    job.delivered = true;
    job.log.Add(texts::kLogDelivered);
  } catch (...) {
    job.log.Add(texts::kLogNotDelivered);
    platform::WriteErrorLine(platform::CurrentFailureMessage());
  }
}

}  // namespace merge
