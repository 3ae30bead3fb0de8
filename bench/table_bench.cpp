// Table component benchmark: builds a work table of 1,000,000 records over about 300,000
// taxpayers, then measures writing it, reading it back (with the TIN index), and 1,000,000
// lookups of the kind the merge makes (one match filter set and one record count per lookup).
// Usage: table_bench [RECORDS [TAXPAYERS [LOOKUPS]]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "merge/match_filter.h"
#include "platform/os.h"
#include "tables/report_layout.h"
#include "tables/table.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Tin(std::uint32_t person) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%010u", 1000000000u + person * 7919u % 900000000u);
  return buffer;
}

}  // namespace

int main(int argc, char** argv) {
  const long records = argc > 1 ? std::atol(argv[1]) : 1000000;
  const long people = argc > 2 ? std::atol(argv[2]) : 300000;
  const long lookups = argc > 3 ? std::atol(argv[3]) : 1000000;
  char pattern[] = "/tmp/table_bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string path = std::string(pattern) + "/work.dbf";
  tables::Table::Create(path, tables::ReportColumns(), tables::kReportCodePageByte);

  tables::Table table("TableSorted");
  table.SetFileName(path);
  table.SetExclusive(true);
  table.SetIndexName(tables::kTinIndexName);
  table.Open();

  std::mt19937 random(42);
  const int kinds[] = {101, 102, 126, 1, 2};
  std::vector<merge::MatchKey> keys;
  keys.reserve(static_cast<std::size_t>(records));
  auto start = Clock::now();
  for (long i = 0; i < records; ++i) {
    merge::MatchKey key;
    key.tin = Tin(static_cast<std::uint32_t>(random() % people));
    key.income_kind = kinds[random() % 5];
    if (random() % 10 == 0) key.benefit_code = "1";
    if (random() % 4 == 0) key.hire_date = "01.02.2009";
    table.Append();
    table.FieldByName("NP").SetInteger(i % 99990 + 1);
    table.FieldByName("TIN").SetString(key.tin);
    table.FieldByName("OZN_DOX").SetInteger(key.income_kind);
    table.FieldByName("S_DOX").SetFloat(1234.56);
    table.FieldByName("S_TAXP").SetFloat(185.18);
    if (!key.benefit_code.empty()) table.FieldByName("OZN_PILG").SetString(key.benefit_code);
    if (!key.hire_date.empty()) table.FieldByName("D_PRIYN").SetString(key.hire_date);
    table.Post();
    keys.push_back(std::move(key));
  }
  const double append_seconds = SecondsSince(start);

  start = Clock::now();
  table.Close();
  const double write_seconds = SecondsSince(start);
  const double megabytes = static_cast<double>(platform::ReadWholeFile(path).size()) / 1e6;

  start = Clock::now();
  table.Open();
  const double read_seconds = SecondsSince(start);

  std::vector<std::string> filters;
  filters.reserve(static_cast<std::size_t>(lookups));
  for (long i = 0; i < lookups; ++i) {
    filters.push_back(merge::BuildMatchFilter(keys[static_cast<std::size_t>(random() % records)]));
  }
  std::int64_t found = 0;
  start = Clock::now();
  for (const std::string& filter : filters) {
    table.SetFiltered(false);
    table.SetFilter(filter);
    table.SetFiltered(true);
    found += table.RecordCount();
  }
  const double lookup_seconds = SecondsSince(start);
  table.Close();
  std::remove(path.c_str());
  std::remove(pattern);

  std::printf("records %ld, taxpayers %ld, file %.1f MB\n", records, people, megabytes);
  std::printf("append+post      %8.3f s  %8.0f records/s\n", append_seconds,
              records / append_seconds);
  std::printf("write (close)    %8.3f s  %8.1f MB/s\n", write_seconds, megabytes / write_seconds);
  std::printf("read (open+index)%8.3f s  %8.1f MB/s\n", read_seconds, megabytes / read_seconds);
  std::printf("lookups %ld      %8.3f s  %8.0f ns each (%lld records matched)\n", lookups,
              lookup_seconds, lookup_seconds * 1e9 / lookups, static_cast<long long>(found));
  return 0;
}
