#include "merge/delivery.h"

#include <string>

#include "log/texts.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "tables/report_layout.h"

namespace merge {

void AppendTotalRecord(JobContext& job) {
  tables::Table& work = job.data.TableSorted;
  tables::Table& result = job.data.TableRez;

  job.log.Add(texts::kLogAddingTotal);
  result.Append();
  result.FieldByName(tables::kColumnRIK).SetString(work.FieldByName(tables::kColumnRIK).AsString());
  result.FieldByName(tables::kColumnKOD).SetString(work.FieldByName(tables::kColumnKOD).AsString());
  result.FieldByName(tables::kColumnPERIOD).SetString(std::to_string(job.PeriodNumber));
  result.FieldByName(tables::kColumnTYP).SetString(work.FieldByName(tables::kColumnTYP).AsString());
  result.FieldByName(tables::kColumnTIN).SetString(tables::kTotalRowTin);
  result.FieldByName(tables::kColumnNP).SetInteger(tables::kTotalRowNumber);
  result.FieldByName(tables::kColumnS_DOX).SetFloat(job.totals.dox);
  result.FieldByName(tables::kColumnS_TAXN).SetFloat(job.totals.taxn);
  result.FieldByName(tables::kColumnS_TAXP).SetFloat(job.totals.taxp);
  result.FieldByName(tables::kColumnS_NAR).SetFloat(job.totals.nar);
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
