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

PortWatch::PortWatch(std::string port, bool quietFirst, int wakeFd) : state_(std::make_shared<State>()) {
  state_->port = std::move(port);
  state_->wakeFd = wakeFd;
  thread_ = std::thread([state = state_, quietFirst] { Watch(state, quietFirst); });
}

PortWatch::~PortWatch() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->ending = true;
  }
  if (state_->heard) {
    thread_.join();  // done, or about to return
  } else {
    thread_.detach();
  }
}

std::string PortWatch::Trouble() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->trouble;
}

void PortWatch::Watch(const std::shared_ptr<State>& state, bool quietFirst) {
  using Clock = std::chrono::steady_clock;
  // Quiet: nothing heard for a while, the port open or not (a board taken off with its adapter).
  bool quiet = !quietFirst;
  Clock::time_point lastHeard = Clock::now();
  auto notice = [&](Clock::time_point now) {
    if (!quiet && now - lastHeard >= kQuietBeforeNextBoard) quiet = true;
  };
  while (!state->ending) {
    int error = 0;
    std::unique_ptr<SerialLine> line = OpenSerialLine(state->port, &error);
    if (line && line->ApplySettings("baud=115200 data=8 parity=n stop=1 xon=off") != LineSettingsResult::kApplied) {
      error = line->LastError();
      line.reset();
    }
    if (!line || !line->SetTimeouts(kReadSliceMs, kReadSliceMs)) {
      {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->trouble = "cannot open the port: " + std::string(error ? std::strerror(error) : "no answer");
      }
      for (int slice = 0; slice < 5 && !state->ending; ++slice) usleep(kReadSliceMs * 1000);
      notice(Clock::now());
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      state->trouble.clear();
    }
    std::string heard;
    while (!state->ending) {
      uint8_t buffer[256];
      size_t count = 0;
      if (!line->Read(buffer, sizeof buffer, &count)) break;  // opened again after a pause
      const Clock::time_point now = Clock::now();
      notice(now);
      if (count == 0) continue;
      lastHeard = now;
      if (!quiet) continue;  // what a board left on the jig still says
      heard.append(reinterpret_cast<const char*>(buffer), count);
      if (HoldsFirstWords(heard)) {
        line.reset();  // closed before anyone is told, so BrenloFix finds it free
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->ending) return;
        state->heard = true;
        const char byte = 1;
        if (write(state->wakeFd, &byte, 1) < 0) {
          // A full pipe already wakes the loop.
        }
        return;
      }
      if (heard.size() > kHeardKept) heard.erase(0, heard.size() - kHeardKept);
    }
    if (!state->ending) usleep(kReadSliceMs * 1000);
  }
}
