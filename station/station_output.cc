#include "station/station_output.h"

#include <unistd.h>

#include <cerrno>

void Say(const std::string& text) {
  const std::string line = text + "\n";
  for (size_t at = 0; at < line.size();) {
    const ssize_t put = write(1, line.data() + at, line.size() - at);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    at += static_cast<size_t>(put);
  }
}
