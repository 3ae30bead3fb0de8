// gen_reports: writes synthetic 1DF report tables with the installed layout, for benchmarks.
//
//   gen_reports --rows N --files F --records R [--seed S] --out DIR
//
// Writes F files DIR/REP001.DBF ... (N rows in all, spread evenly; at most 99,990 rows a file,
// as the row numbers allow) whose rows are drawn from R distinct payment records, so that a
// merge of all files yields R records when every one of them is drawn (N much larger than R).
// Values look like real reports: 10-digit taxpayer numbers, income kinds such as 101, 102,
// 126, some benefit codes, some hire and dismissal dates, money with two decimals.
// The same arguments always give the same files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/os.h"
#include "tables/dbf_format.h"
#include "tables/field_codec.h"
#include "tables/report_layout.h"

namespace {

constexpr long kMaxRowsPerFile = 99990;

struct PaymentRecord {
  std::string tin;
  int kind = 101;
  int benefit = 0;    // 0: none
  std::string hired;  // YYYYMMDD or blank
  std::string dismissed;
};

struct Options {
  long rows = 10000;
  long files = 1;
  long records = 900;
  unsigned seed = 1;
  std::string out = ".";
};

[[noreturn]] void Usage() {
  std::fputs("usage: gen_reports --rows N --files F --records R [--seed S] --out DIR\n", stderr);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--rows") {
      options.rows = std::atol(value);
    } else if (name == "--files") {
      options.files = std::atol(value);
    } else if (name == "--records") {
      options.records = std::atol(value);
    } else if (name == "--seed") {
      options.seed = static_cast<unsigned>(std::atol(value));
    } else if (name == "--out") {
      options.out = value;
    } else {
      Usage();
    }
  }
  if (argc % 2 == 0 || options.rows < 0 || options.files < 1 || options.records < 1) Usage();
  if ((options.rows + options.files - 1) / options.files > kMaxRowsPerFile) {
    std::fprintf(stderr, "gen_reports: at most %ld rows a file; use more files\n", kMaxRowsPerFile);
    std::exit(2);
  }
  return options;
}

std::string DateText(std::mt19937& random, int first_year, int years) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d",
                first_year + static_cast<int>(random() % static_cast<unsigned>(years)),
                1 + static_cast<int>(random() % 12), 1 + static_cast<int>(random() % 28));
  return buffer;
}

// Records come in pairs that share a person: the main income of one kind (wages and the like)
// and one of another kind, so that every record stays distinct after the merge.
std::vector<PaymentRecord> MakeRecords(long count, std::mt19937& random) {
  static const int kMainKinds[] = {101, 101, 101, 102, 1, 2};
  static const int kOtherKinds[] = {126, 128, 157};
  std::vector<PaymentRecord> records;
  records.reserve(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) {
    PaymentRecord record;
    char tin[16];
    // Distinct 10-digit numbers in a scattered order.
    const unsigned long person = static_cast<unsigned long>(i / 2);
    std::snprintf(tin, sizeof tin, "%010lu", 1000000000ul + (person * 2654435761ul) % 8999999999ul);
    record.tin = tin;
    record.kind = i % 2 == 0 ? kMainKinds[random() % 6] : kOtherKinds[random() % 3];
    if (random() % 10 == 0) record.benefit = 1 + static_cast<int>(random() % 3);
    if (random() % 5 == 0) record.hired = DateText(random, 2000, 10);
    if (random() % 20 == 0) record.dismissed = DateText(random, 2010, 1);
    records.push_back(std::move(record));
  }
  return records;
}

void Put(const tables::FieldDef& field, const std::string& text, char* record, bool right) {
  char* out = record + field.offset;
  std::memset(out, ' ', static_cast<std::size_t>(field.width));
  const std::size_t length = std::min(text.size(), static_cast<std::size_t>(field.width));
  std::memcpy(right ? out + field.width - length : out, text.data(), length);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  try {
    std::mt19937 random(options.seed);
    const std::vector<PaymentRecord> records = MakeRecords(options.records, random);
    const tables::DbfLayout layout =
        tables::NewLayout(tables::ReportColumns(), tables::kReportCodePageByte);
    auto field = [&](const char* name) -> const tables::FieldDef& {
      for (const tables::FieldDef& f : layout.fields) {
        if (f.name == name) return f;
      }
      throw std::runtime_error(std::string("no column ") + name);
    };
    const platform::LocalTime today{2010, 4, 15, 0, 0, 0};
    std::string directory = options.out;
    if (directory.back() != '/') directory += '/';

    long written = 0;
    for (long f = 0; f < options.files; ++f) {
      const long rows = options.rows / options.files + (f < options.rows % options.files ? 1 : 0);
      std::string data(static_cast<std::size_t>(rows) * layout.record_length, ' ');
      for (long r = 0; r < rows; ++r) {
        char* row = data.data() + static_cast<std::size_t>(r) * layout.record_length;
        // Every record is drawn at least once when there are enough rows, then at random.
        const long pick =
            written < options.records
                ? written
                : static_cast<long>(random() % static_cast<unsigned>(options.records));
        const PaymentRecord& record = records[static_cast<std::size_t>(pick)];
        ++written;
        char money[32];
        Put(field("NP"), std::to_string(r + 1), row, true);
        Put(field("PERIOD"), "1", row, true);
        Put(field("RIK"), "2010", row, true);
        Put(field("KOD"), "1234567890", row, false);
        Put(field("TYP"), "0", row, true);
        Put(field("TIN"), record.tin, row, false);
        // Small enough amounts that the total of a million rows still fits its N(12,2) column.
        const double income = static_cast<double>(random() % 150000) / 100.0;
        std::snprintf(money, sizeof money, "%.2f", income);
        Put(field("S_NAR"), money, row, true);
        Put(field("S_DOX"), money, row, true);
        std::snprintf(money, sizeof money, "%.2f", income * 0.15);
        Put(field("S_TAXN"), money, row, true);
        Put(field("S_TAXP"), money, row, true);
        Put(field("OZN_DOX"), std::to_string(record.kind), row, true);
        Put(field("D_PRIYN"), record.hired, row, false);
        Put(field("D_ZVILN"), record.dismissed, row, false);
        if (record.benefit > 0) Put(field("OZN_PILG"), std::to_string(record.benefit), row, true);
      }
      char name[32];
      std::snprintf(name, sizeof name, "REP%03ld.DBF", f + 1);
      platform::WriteWholeFile(
          directory + name,
          tables::SerializeDbf(layout, static_cast<std::uint32_t>(rows), data, today));
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "gen_reports: %s\n", error.what());
    return 1;
  }
  return 0;
}
