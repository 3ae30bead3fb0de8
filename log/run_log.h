// The run log: the account of one run, kept in memory already encoded as its files hold it and
// saved at the end of the job to "Zuvrex5.LOG" and to the first free numbered log file.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace runlog {

// A fixed text of the log encoded once, for lines that are added for most rows of a merge.
class LogText {
 public:
  // `utf8` encoded as the log stores it. Never raises but for lack of memory.
  explicit LogText(std::string_view utf8);
  std::string_view bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// The lines of a log, each stored as it is written to the file: in Windows-1251 (a character
// the code page cannot hold, or a malformed UTF-8 byte, becomes '?'), followed by CR LF. The
// bytes live in chunks of about kChunkBytes, so that adding a line neither allocates for it nor
// copies what the log holds already.
class RunLog {
 public:
  // The size of a chunk; a line longer than that gets a chunk of its own.
  static constexpr std::size_t kChunkBytes = std::size_t{8} << 20;

  // Adds one line (UTF-8). Never raises but for lack of memory.
  void Add(std::string_view line);
  // Adds one line made of `pieces` that follow each other (UTF-8), without joining them first.
  // Each piece is encoded on its own, so a character must not be split between two pieces.
  // Never raises but for lack of memory.
  void Add(std::initializer_list<std::string_view> pieces);
  // Adds one line: `prefix`, then `utf8`, then `suffix`. Never raises but for lack of memory.
  void Add(const LogText& prefix, std::string_view utf8, const LogText& suffix);
  // Forgets every line.
  void Clear();

  // The encoded log in order, one view per non-empty chunk; joined they are the bytes of a log
  // file. The views are valid until the log is changed.
  std::vector<std::string_view> Pieces() const;

 private:
  void AddLine(const std::string_view* begin, const std::string_view* end);
  // Returns where `bytes` more bytes may be written, starting a new chunk if the last one lacks
  // the room.
  char* Room(std::size_t bytes);
  // Ends the line written from `start` to `out` (within Room's answer, two bytes left over).
  void EndLine(char* start, char* out);

  struct Chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t capacity = 0;
    std::size_t used = 0;
  };
  std::vector<Chunk> chunks_;
};

// Returns the bytes of a log file: every line in Windows-1251 (a character it cannot hold
// becomes '?'), each followed by CR LF. Raises nothing but for lack of memory.
std::string LogFileBytes(const RunLog& log);

// Returns the name of the n-th numbered log file: "ZuvrLOG.TXT" for 0, else "ZuvrLOG<n>.TXT".
std::string NumberedLogName(int n);

// Adds the closing line, writes "Zuvrex5.LOG" in `directory` (created or replaced), then the
// first of the numbered log files that does not exist yet with the same bytes; none when all
// 1000 exist. `directory` ends in a path separator. Raises platform::OsError when a file cannot
// be written; the numbered file is then not attempted after a failing fixed-name file.
void SaveRunLog(RunLog& log, const std::string& directory);

}  // namespace runlog
