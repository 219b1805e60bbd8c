// The last lines the program printed, kept while they go on to the console unchanged: the words
// of a step's failure for whoever follows the run (the link code prints its reasons as it meets
// them). Lines that are only a progress bar's redraw are left out.
#pragma once

#include <deque>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>

class ConsoleTail : private std::streambuf {
 public:
  // Puts itself between the stream and its buffer until destroyed.
  explicit ConsoleTail(std::ostream& stream);
  ~ConsoleTail() override;
  ConsoleTail(const ConsoleTail&) = delete;
  ConsoleTail& operator=(const ConsoleTail&) = delete;

  // Forgets every line printed so far.
  void Mark();
  // The last two lines printed since the mark (an unfinished one included), without their
  // blanks at either end, joined by " / "; "" when nothing was printed.
  std::string LastWords() const;

 private:
  int overflow(int c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;
  void Keep(const char* text, size_t count);

  std::ostream& stream_;
  std::streambuf* original_;
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;  // finished lines, the newest last
  std::string current_;
};
