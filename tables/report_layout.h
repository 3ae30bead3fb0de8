// The 1DF report: the columns the tool addresses by name, the reserved row numbers, the
// installed table files, and the column layout those files are generated with.
#pragma once

#include <cstdint>
#include <vector>

#include "tables/dbf_format.h"

namespace tables {

// Report columns, always addressed by name.
inline constexpr char kColumnNP[] = "NP";
inline constexpr char kColumnPERIOD[] = "PERIOD";
inline constexpr char kColumnRIK[] = "RIK";
inline constexpr char kColumnKOD[] = "KOD";
inline constexpr char kColumnTYP[] = "TYP";
inline constexpr char kColumnTIN[] = "TIN";
inline constexpr char kColumnS_NAR[] = "S_NAR";
inline constexpr char kColumnS_DOX[] = "S_DOX";
inline constexpr char kColumnS_TAXN[] = "S_TAXN";
inline constexpr char kColumnS_TAXP[] = "S_TAXP";
inline constexpr char kColumnOZN_DOX[] = "OZN_DOX";
inline constexpr char kColumnD_PRIYN[] = "D_PRIYN";
inline constexpr char kColumnD_ZVILN[] = "D_ZVILN";
inline constexpr char kColumnOZN_PILG[] = "OZN_PILG";

// Row numbers: 99990 is the highest ordinary row; from 99991 on a row is a `ServiceRecord`
// that the tool produced itself (extra rows, the total row) and never merges again.
inline constexpr std::int64_t kHighestOrdinaryRow = 99990;
inline constexpr std::int64_t kServiceRecord = 99991;
inline constexpr std::int64_t kDefaultExtraRowNumber = 99991;
inline constexpr std::int64_t kTotalRowNumber = 99999;
inline constexpr char kTotalRowTin[] = "XXXXXXXXXX";

// True for rows the tool produced itself.
inline bool IsServiceRecord(std::int64_t np) { return np >= kServiceRecord; }

// The installed tables next to the executable, and the index of the work table.
inline constexpr char kTemplateFileName[] = "template.dbf";
inline constexpr char kSortedFileName[] = "sorted.DBF";
inline constexpr char kTinIndexName[] = "TIN";

// Language-driver byte of the installed tables: Windows-1251.
inline constexpr std::uint8_t kReportCodePageByte = 0xC9;

// The columns of the installed tables, in file order.
std::vector<FieldSpec> ReportColumns();

}  // namespace tables
