#include "host/sequence/console_tail.h"

#include <vector>

namespace {

constexpr size_t kLinesKept = 8;
constexpr size_t kLongestLine = 300;

std::string Trimmed(const std::string& line) {
  const char* blanks = " \t\r\n";
  const size_t first = line.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return line.substr(first, line.find_last_not_of(blanks) - first + 1);
}

// "\t 050% [ ##---- ] ": a progress bar's redraw.
bool IsProgressBar(const std::string& line) { return line.find("% [ ") != std::string::npos; }

}  // namespace

ConsoleTail::ConsoleTail(std::ostream& stream) : stream_(stream), original_(stream.rdbuf()) {
  stream_.rdbuf(this);
}

ConsoleTail::~ConsoleTail() {
  stream_.flush();
  stream_.rdbuf(original_);
}

void ConsoleTail::Mark() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
  current_.clear();
}

std::string ConsoleTail::LastWords() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> last;
  const std::string unfinished = Trimmed(current_);
  if (!unfinished.empty() && !IsProgressBar(unfinished)) last.push_back(unfinished);
  for (auto line = lines_.rbegin(); line != lines_.rend() && last.size() < 2; ++line) last.push_back(*line);
  std::string words;
  for (auto line = last.rbegin(); line != last.rend(); ++line) words += (words.empty() ? "" : " / ") + *line;
  return words;
}

int ConsoleTail::overflow(int c) {
  if (c == traits_type::eof()) return traits_type::not_eof(c);
  const char character = static_cast<char>(c);
  Keep(&character, 1);
  return original_->sputc(character);
}

std::streamsize ConsoleTail::xsputn(const char* text, std::streamsize count) {
  Keep(text, static_cast<size_t>(count));
  return original_->sputn(text, count);
}

int ConsoleTail::sync() { return original_->pubsync(); }

void ConsoleTail::Keep(const char* text, size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i = 0; i < count; ++i) {
    const char c = text[i];
    // A carriage return alone starts the line again (a redrawn bar); one before a line feed ends it.
    if (c == '\n' || c == '\r') {
      const std::string line = Trimmed(current_);
      current_.clear();
      if (line.empty() || IsProgressBar(line)) continue;
      lines_.push_back(line);
      if (lines_.size() > kLinesKept) lines_.pop_front();
      continue;
    }
    if (current_.size() < kLongestLine) current_ += c;
  }
}
