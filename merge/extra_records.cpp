#include "merge/extra_records.h"

#include <string>

#include "log/texts.h"
#include "merge/report_columns.h"
#include "platform/ini_file.h"
#include "tables/report_layout.h"

namespace merge {

void AppendExtraRecords(JobContext& job) {
  tables::Table& result = job.data.TableRez;

  job.log.Add(texts::kLogCheckingIni);
  const platform::IniFile settings(job.executable_directory + texts::kSettingsFileName);
  const std::int32_t count = settings.ReadInteger(texts::kIniMainSection, texts::kIniAddCount, 0);
  job.log.Add(texts::kLogExtraCountPrefix + std::to_string(count) + texts::kLogExtraCountSuffix);

  const std::string period = std::to_string(job.PeriodNumber);
  for (std::int32_t n = 1; n <= count; ++n) {
    const std::string section = texts::kIniAddSectionPrefix + std::to_string(n);
    const std::int32_t np = settings.ReadInteger(
        section, tables::kColumnNP, static_cast<std::int32_t>(tables::kDefaultExtraRowNumber));
    const std::string tin = settings.ReadString(section, tables::kColumnTIN, texts::kIniDefaultTin);
    const double amount =
        settings.ReadInteger(section, tables::kColumnS_DOX, texts::kIniDefaultAmount);

    result.Append();
    job.result[Column::kRIK].SetString(job.work[Column::kRIK].AsString());
    job.result[Column::kKOD].SetString(job.work[Column::kKOD].AsString());
    job.result[Column::kPERIOD].SetString(period);
    job.result[Column::kTYP].SetString(job.work[Column::kTYP].AsString());
    job.result[Column::kTIN].SetString(tin);
    job.result[Column::kNP].SetInteger(np);
    job.result[Column::kS_DOX].SetFloat(amount);
    job.result[Column::kS_NAR].SetFloat(0);
    job.result[Column::kS_TAXN].SetFloat(0);
    job.result[Column::kS_TAXP].SetFloat(0);
    result.Post();
    job.log.Add(texts::kLogExtraAdded + std::to_string(np));
  }
}

}  // namespace merge
