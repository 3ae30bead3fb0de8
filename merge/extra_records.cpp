#include "merge/extra_records.h"

#include <string>

#include "log/texts.h"
#include "platform/ini_file.h"
#include "tables/report_layout.h"

namespace merge {

void AppendExtraRecords(JobContext& job) {
  tables::Table& work = job.data.TableSorted;
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
    result.FieldByName(tables::kColumnRIK)
        .SetString(work.FieldByName(tables::kColumnRIK).AsString());
    result.FieldByName(tables::kColumnKOD)
        .SetString(work.FieldByName(tables::kColumnKOD).AsString());
    result.FieldByName(tables::kColumnPERIOD).SetString(period);
    result.FieldByName(tables::kColumnTYP)
        .SetString(work.FieldByName(tables::kColumnTYP).AsString());
    result.FieldByName(tables::kColumnTIN).SetString(tin);
    result.FieldByName(tables::kColumnNP).SetInteger(np);
    result.FieldByName(tables::kColumnS_DOX).SetFloat(amount);
    result.FieldByName(tables::kColumnS_NAR).SetFloat(0);
    result.FieldByName(tables::kColumnS_TAXN).SetFloat(0);
    result.FieldByName(tables::kColumnS_TAXP).SetFloat(0);
    result.Post();
    job.log.Add(texts::kLogExtraAdded + std::to_string(np));
  }
}

}  // namespace merge
