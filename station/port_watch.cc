#include "station/port_watch.h"

#include <unistd.h>

#include <cstring>

#include "host/platform/serial_line.h"

namespace {

// Each read waits this long at most, so that the watch ends promptly when the station closes it.
constexpr uint32_t kReadSliceMs = 200;
constexpr size_t kHeardKept = 64;

}  // namespace

bool HoldsFirstWords(const std::string& text) {
  return text.find(" BOOTME") != std::string::npos || text.find("DM644x initialization passed") != std::string::npos ||
         text.find("UBL Version") != std::string::npos;
}

PortWatch::PortWatch(std::string port, bool quietFirst, int wakeFd) : port_(std::move(port)), wakeFd_(wakeFd) {
  thread_ = std::thread([this, quietFirst] { Watch(quietFirst); });
}

PortWatch::~PortWatch() {
  ending_ = true;
  thread_.join();
}

std::string PortWatch::Trouble() {
  std::lock_guard<std::mutex> lock(mutex_);
  return trouble_;
}

void PortWatch::Watch(bool quietFirst) {
  using Clock = std::chrono::steady_clock;
  bool quiet = !quietFirst;
  while (!ending_) {
    int error = 0;
    std::unique_ptr<SerialLine> line = OpenSerialLine(port_, &error);
    if (line && line->ApplySettings("baud=115200 data=8 parity=n stop=1 xon=off") != LineSettingsResult::kApplied) {
      error = line->LastError();
      line.reset();
    }
    if (!line || !line->SetTimeouts(kReadSliceMs, kReadSliceMs)) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        trouble_ = "cannot open the port (" + std::string(error ? std::strerror(error) : "no answer") + ")";
      }
      for (int slice = 0; slice < 5 && !ending_; ++slice) usleep(kReadSliceMs * 1000);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      trouble_.clear();
    }
    std::string heard;
    Clock::time_point lastByte = Clock::now();
    while (!ending_) {
      uint8_t buffer[256];
      size_t count = 0;
      if (!line->Read(buffer, sizeof buffer, &count)) break;  // opened again after a pause
      const Clock::time_point now = Clock::now();
      if (count == 0) {
        if (!quiet && now - lastByte >= kQuietBeforeNextBoard) quiet = true;
        continue;
      }
      lastByte = now;
      if (!quiet) continue;  // what a board left on the jig still says
      heard.append(reinterpret_cast<const char*>(buffer), count);
      if (HoldsFirstWords(heard)) {
        heard_ = true;
        const char byte = 1;
        if (write(wakeFd_, &byte, 1) < 0) {
          // A full pipe already wakes the loop.
        }
        return;
      }
      if (heard.size() > kHeardKept) heard.erase(0, heard.size() - kHeardKept);
    }
  }
}
