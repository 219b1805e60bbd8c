#include "station/page/run_capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

std::optional<std::string> ReadRunCapture(const std::string& records, const std::string& recordPath,
                                          std::size_t from, std::size_t most) {
  // record-PORT-STAMP.json, with the port's safe name and the stamp: letters, digits, '_' and '-'.
  const std::string prefix = records + "/record-", suffix = ".json";
  if (records.empty() || recordPath.size() <= prefix.size() + suffix.size() ||
      recordPath.compare(0, prefix.size(), prefix) != 0 ||
      recordPath.compare(recordPath.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return std::nullopt;
  }
  const std::string name = recordPath.substr(prefix.size(), recordPath.size() - prefix.size() - suffix.size());
  for (const char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return std::nullopt;
  }
  const std::string path = records + "/console-" + name + ".txt";
  const int file = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (file < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> text;
  if (fstat(file, &info) == 0 && S_ISREG(info.st_mode)) {
    text.emplace();
    const auto size = static_cast<std::size_t>(info.st_size);
    if (from < size) {
      text->resize(std::min(most, size - from));
      std::size_t got = 0;
      while (got < text->size()) {
        const ssize_t n = pread(file, &(*text)[got], text->size() - got, static_cast<off_t>(from + got));
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
      }
      text->resize(got);
    }
  }
  close(file);
  return text;
}
