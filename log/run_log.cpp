#include "log/run_log.h"

#include "log/texts.h"
#include "platform/codepage.h"
#include "platform/os.h"

namespace runlog {

std::string LogFileBytes(const RunLog& log) {
  // Encoding never lengthens a line, so one reservation holds the whole file: a merge logs a
  // line for most rows, and a temporary string per line would cost more than the encoding.
  std::size_t capacity = 0;
  for (const std::string& line : log.lines()) capacity += line.size() + 2;
  std::string bytes;
  bytes.reserve(capacity);
  for (const std::string& line : log.lines()) {
    // A log must be written whatever a report held (a TIN decoded from another code page may
    // carry a character Windows-1251 lacks), so such characters are replaced, not refused.
    platform::AppendFromUtf8Lossy(line, platform::CodePage::kCp1251, &bytes);
    bytes.append("\r\n", 2);
  }
  return bytes;
}

std::string NumberedLogName(int n) {
  std::string name = texts::kNumberedLogStem;
  if (n > 0) name += std::to_string(n);
  return name + texts::kNumberedLogExtension;
}

void SaveRunLog(RunLog& log, const std::string& directory) {
  log.Add(texts::kLogSaving);
  const std::string bytes = LogFileBytes(log);
  platform::WriteWholeFile(directory + texts::kLogFileName, bytes);
  for (int n = 0; n <= texts::kNumberedLogLimit; ++n) {
    const std::string path = directory + NumberedLogName(n);
    if (!platform::FileExists(path)) {
      platform::WriteWholeFile(path, bytes);
      return;
    }
  }
}

}  // namespace runlog
