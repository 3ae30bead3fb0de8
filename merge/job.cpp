#include "merge/job.h"

#include <cstdio>

#include "log/texts.h"
#include "merge/delivery.h"
#include "merge/extra_records.h"
#include "merge/input_pass.h"
#include "merge/job_context.h"
#include "merge/result_pass.h"
#include "platform/failure.h"
#include "platform/int_conversion.h"

namespace merge {

std::string TimeStampLine(const platform::LocalTime& time) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d  %02d:%02d:%02d", time.day, time.month,
                time.year, time.hour, time.minute, time.second);
  return buffer;
}

bool MergeReports(tables::TDataModule1& data, runlog::RunLog& log,
                  const std::vector<std::string>& arguments) {
  JobContext job{data, log, arguments, platform::ExecutableDirectory()};

  log.Clear();
  log.Add(TimeStampLine(platform::Now()));

  try {
    data.TableSorted.SetDirectory(job.executable_directory);
    data.TableSorted.Open();
    data.TableSorted.Empty();
  } catch (...) {
    platform::ShowMessageBox(texts::kErrorCaption, texts::kCannotOpenSorted,
                             platform::BoxIcon::kNone);
    platform::WriteErrorLine(platform::CurrentFailureMessage());
  }
  log.Add(texts::kLogWorkTableCleared);

  job.AddedCount = 0;
  job.EditedCount = 0;
  try {
    job.PeriodNumber = platform::StrToInt(arguments.back());
  } catch (const platform::ConversionError& error) {
    throw platform::ConversionError(std::string("the period number (the last argument): ") +
                                    error.what());
  }

  for (std::size_t i = 1; i + 1 < arguments.size(); ++i) MergeInputFile(job, arguments[i]);

  data.Table1.Close();
  log.Add(texts::kLogAddedCount + std::to_string(job.AddedCount));
  log.Add(texts::kLogEditedCount + std::to_string(job.EditedCount));
  log.Add(texts::kLogWritingSorted);

  // The work table goes to disk now, while the first input is still untouched: a disk that
  // cannot take it ends the run here rather than unnoticed when the table is closed at exit.
  data.TableSorted.Flush();
  // A run that could not open the work table (another run holds it, site A) ends here, before
  // the result pass empties the result table that the other run may be about to deliver.
  data.TableSorted.RecordCount();

  WriteResultTable(job);
  AppendExtraRecords(job);
  AppendTotalRecord(job);
  DeliverResult(job);
  // The numbered log takes the first free name. Two runs cannot pick the same one: only a run
  // holding the work table gets here, and the work table stays locked until its process ends.
  runlog::SaveRunLog(log, job.executable_directory);
  return job.delivered;
}

}  // namespace merge
