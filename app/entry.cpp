#include "app/entry.h"

#include <memory>
#include <string>
#include <vector>

#include "log/run_log.h"
#include "log/texts.h"
#include "merge/job.h"
#include "platform/failure.h"
#include "platform/os.h"
#include "tables/table_set.h"

namespace app {
namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

void ShowUsage() {
  platform::WriteStandardOutputText(std::string(texts::kBanner) + "\r\n");
  platform::ShowMessageBox(texts::kUsageCaption, texts::kUsageText,
                           platform::BoxIcon::kInformation);
}

}  // namespace

int RunEntry(int argc, char** argv) {
  platform::InitCommandLine(argc, argv);
  const std::string command_line = platform::RawCommandLine();
  const std::vector<std::string> arguments = platform::Arguments();
  if (command_line.find('?') != std::string::npos || arguments.size() < 3) {
    ShowUsage();
    return kExitSuccess;
  }

  platform::RaisePriority();
  auto data = std::make_unique<tables::TDataModule1>();
  auto log = std::make_unique<runlog::RunLog>();
  int status = kExitSuccess;
  try {
    // A result that could not be delivered is a failed run for whoever called the tool.
    if (!merge::MergeReports(*data, *log, arguments)) status = kExitFailure;
  } catch (...) {
    const std::string failure = platform::CurrentFailureMessage();
    platform::ShowMessageBox(texts::kEntryErrorCaption, command_line, platform::BoxIcon::kError);
    platform::WriteErrorLine(failure);
    status = kExitFailure;
  }
  log.reset();
  data.reset();
  return status;
}

}  // namespace app
