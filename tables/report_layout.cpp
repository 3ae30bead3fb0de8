#include "tables/report_layout.h"

namespace tables {

std::vector<FieldSpec> ReportColumns() {
  return {
      {kColumnNP, 'N', 5, 0},      {kColumnPERIOD, 'N', 1, 0},   {kColumnRIK, 'N', 4, 0},
      {kColumnKOD, 'C', 10, 0},    {kColumnTYP, 'N', 1, 0},      {kColumnTIN, 'C', 10, 0},
      {kColumnS_NAR, 'N', 12, 2},  {kColumnS_DOX, 'N', 12, 2},   {kColumnS_TAXN, 'N', 12, 2},
      {kColumnS_TAXP, 'N', 12, 2}, {kColumnOZN_DOX, 'N', 3, 0},  {kColumnD_PRIYN, 'D', 8, 0},
      {kColumnD_ZVILN, 'D', 8, 0}, {kColumnOZN_PILG, 'N', 2, 0}, {"OZNAKA", 'N', 1, 0},
  };
}

}  // namespace tables
