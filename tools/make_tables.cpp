// Writes the installed report tables "template.dbf" and "sorted.DBF" into the given directory.
// The build runs it, so the tables always carry the layout of the code that reads them.
#include <cstdio>
#include <exception>
#include <string>

#include "platform/os.h"
#include "tables/report_layout.h"
#include "tables/table.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_tables OUTPUT_DIRECTORY\n");
    return 2;
  }
  try {
    std::string directory = argv[1];
    if (directory.back() != '/' && directory.back() != platform::PathSeparator()) {
      directory += platform::PathSeparator();
    }
    for (const char* name : {tables::kTemplateFileName, tables::kSortedFileName}) {
      tables::Table::Create(directory + name, tables::ReportColumns(), tables::kReportCodePageByte);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_tables: %s\n", error.what());
    return 1;
  }
  return 0;
}
