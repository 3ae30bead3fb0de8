// Parse and match costs of a typical merge filter: a merge parses one such filter per input row
// and evaluates it against the work table's records.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "tables/filter.h"

namespace {

const std::vector<tables::FieldDef> kFields = {
    {"NP", 'N', 5, 0, 1},        {"TIN", 'C', 10, 0, 6},     {"S_DOX", 'N', 12, 2, 16},
    {"OZN_DOX", 'N', 3, 0, 28},  {"D_PRIYN", 'D', 8, 0, 31}, {"D_ZVILN", 'D', 8, 0, 39},
    {"OZN_PILG", 'N', 2, 0, 47}, {"FLAG", 'L', 1, 0, 49},
};

const char kMergeFilter[] =
    "TIN='0123456789' and OZN_PILG=1 AND D_PRIYN IS NULL  AND ((D_ZVILN IS NULL) OR "
    "(D_ZVILN='15.03.2010')) AND (OZN_DOX=1 OR OZN_DOX=2)";

// Field bytes laid out by hand; the layout above fixes the offsets.
std::string MakeRecord(const char* tin, const char* d_zviln, const char* ozn_dox) {
  std::string record(50, ' ');
  record.replace(1, 5, "    1");
  record.replace(6, 10, tin);
  record.replace(16, 12, "     1500.00");
  record.replace(28, 3, ozn_dox);
  record.replace(39, 8, d_zviln);
  record.replace(47, 2, " 1");
  record.replace(49, 1, "T");
  return record;
}

void BM_ParseMergeFilter(benchmark::State& state) {
  const std::string label = "work.dbf";
  for (auto _ : state) {
    tables::Filter filter =
        tables::Filter::Parse(kMergeFilter, kFields, platform::CodePage::kCp1251, label);
    benchmark::DoNotOptimize(filter);
  }
}
BENCHMARK(BM_ParseMergeFilter);

// Every condition is evaluated: the record matches through the last OR operand.
void BM_MatchMergeFilterHit(benchmark::State& state) {
  const tables::Filter filter =
      tables::Filter::Parse(kMergeFilter, kFields, platform::CodePage::kCp1251, "work.dbf");
  const std::string record = MakeRecord("0123456789", "20100315", "  2");
  for (auto _ : state) benchmark::DoNotOptimize(filter.Matches(record.data()));
}
BENCHMARK(BM_MatchMergeFilterHit);

// The usual case while scanning: the first condition already fails.
void BM_MatchMergeFilterMiss(benchmark::State& state) {
  const tables::Filter filter =
      tables::Filter::Parse(kMergeFilter, kFields, platform::CodePage::kCp1251, "work.dbf");
  const std::string record = MakeRecord("0123456788", "        ", "  1");
  for (auto _ : state) benchmark::DoNotOptimize(filter.Matches(record.data()));
}
BENCHMARK(BM_MatchMergeFilterMiss);

}  // namespace

BENCHMARK_MAIN();
