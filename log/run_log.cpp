#include "log/run_log.h"

#include <algorithm>
#include <utility>

#include "log/texts.h"
#include "platform/codepage.h"
#include "platform/os.h"

namespace runlog {

LogText::LogText(std::string_view utf8) {
  bytes_.resize(utf8.size());
  bytes_.resize(platform::EncodeFromUtf8LossyInto(utf8, platform::CodePage::kCp1251, &bytes_[0]));
}

void RunLog::Add(std::string_view line) { AddLine(&line, &line + 1); }

void RunLog::Add(const LogText& prefix, std::string_view utf8, const LogText& suffix) {
  const std::string_view head = prefix.bytes();
  const std::string_view tail = suffix.bytes();
  char* const start = Room(head.size() + utf8.size() + tail.size() + 2);
  char* out = start;
  out = std::copy(head.begin(), head.end(), out);
  out += platform::EncodeFromUtf8LossyInto(utf8, platform::CodePage::kCp1251, out);
  out = std::copy(tail.begin(), tail.end(), out);
  EndLine(start, out);
}

void RunLog::Add(std::initializer_list<std::string_view> pieces) {
  AddLine(pieces.begin(), pieces.end());
}

void RunLog::AddLine(const std::string_view* begin, const std::string_view* end) {
  // Encoding never lengthens a text, so room for the UTF-8 bytes and the line end suffices.
  std::size_t most = 2;
  for (const std::string_view* piece = begin; piece != end; ++piece) most += piece->size();
  char* const start = Room(most);
  char* out = start;
  for (const std::string_view* piece = begin; piece != end; ++piece) {
    // A log must be written whatever a report held (a TIN decoded from another code page may
    // carry a character Windows-1251 lacks), so such characters are replaced, not refused.
    out += platform::EncodeFromUtf8LossyInto(*piece, platform::CodePage::kCp1251, out);
  }
  EndLine(start, out);
}

void RunLog::EndLine(char* start, char* out) {
  *out++ = '\r';
  *out++ = '\n';
  chunks_.back().used += static_cast<std::size_t>(out - start);
}

char* RunLog::Room(std::size_t bytes) {
  if (chunks_.empty() || chunks_.back().capacity - chunks_.back().used < bytes) {
    // The chunk is left uninitialised: its memory is first touched when lines are written into
    // it, not once more beforehand. It is made and the list grown before anything changes, so
    // that running out of memory leaves the log as it was.
    Chunk chunk;
    chunk.capacity = std::max(kChunkBytes, bytes);
    chunk.bytes.reset(new char[chunk.capacity]);
    platform::AdviseLargeBuffer(chunk.bytes.get(), chunk.capacity);
    chunks_.reserve(chunks_.size() + 1);
    chunks_.push_back(std::move(chunk));
  }
  Chunk& last = chunks_.back();
  return last.bytes.get() + last.used;
}

void RunLog::Clear() { chunks_.clear(); }

std::vector<std::string_view> RunLog::Pieces() const {
  std::vector<std::string_view> pieces;
  pieces.reserve(chunks_.size());
  for (const Chunk& chunk : chunks_) {
    if (chunk.used != 0) pieces.emplace_back(chunk.bytes.get(), chunk.used);
  }
  return pieces;
}

std::string LogFileBytes(const RunLog& log) {
  const std::vector<std::string_view> pieces = log.Pieces();
  std::size_t size = 0;
  for (const std::string_view piece : pieces) size += piece.size();
  std::string bytes;
  bytes.reserve(size);
  for (const std::string_view piece : pieces) bytes.append(piece);
  return bytes;
}

std::string NumberedLogName(int n) {
  std::string name = texts::kNumberedLogStem;
  if (n > 0) name += std::to_string(n);
  return name + texts::kNumberedLogExtension;
}

void SaveRunLog(RunLog& log, const std::string& directory) {
  log.Add(texts::kLogSaving);
  // Both files get the chunks as they are; the numbered one is written again from memory
  // rather than copied from the file just written, so that it fails with the same messages.
  const std::vector<std::string_view> pieces = log.Pieces();
  platform::WriteWholeFile(directory + texts::kLogFileName, pieces);
  for (int n = 0; n <= texts::kNumberedLogLimit; ++n) {
    const std::string path = directory + NumberedLogName(n);
    if (!platform::FileExists(path)) {
      platform::WriteWholeFile(path, pieces);
      return;
    }
  }
}

}  // namespace runlog
