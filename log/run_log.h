// The run log: the account of one run, kept as lines in memory and saved at the end of the job
// to "Zuvrex5.LOG" and to the first free numbered log file, in Windows-1251 with CR LF.
#pragma once

#include <string>
#include <vector>

namespace runlog {

class RunLog {
 public:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
};

// The bytes of a log file: every line in Windows-1251 (a character it cannot hold becomes '?'),
// each followed by CR LF.
std::string LogFileBytes(const RunLog& log);

// The name of the n-th numbered log file: "ZuvrLOG.TXT" for 0, else "ZuvrLOG<n>.TXT".
std::string NumberedLogName(int n);

// Adds the closing line, writes "Zuvrex5.LOG" in `directory` (created or replaced), then the
// first of the numbered log files that does not exist yet; none when all 1000 exist.
// `directory` ends in a path separator. Raises platform::OsError when a file cannot be written;
// the numbered file is then not attempted after a failing fixed-name file.
void SaveRunLog(RunLog& log, const std::string& directory);

}  // namespace runlog
