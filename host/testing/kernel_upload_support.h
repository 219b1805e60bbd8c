// Test support for the steps that talk to U-Boot: a simulated board as the boot loader flashing
// leaves it (UBL and U-Boot in NAND, optionally a saved environment), and a line that stamps
// everything the host wrote and read with the virtual time, so that a time-out can be measured
// from the moment its wait began.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/platform/clock.h"
#include "host/platform/serial_line.h"
#include "sim/board.h"
#include "sim/images.h"
#include "sim/uboot_env.h"

namespace kernel_upload_test {

// Restarts the board on that port and stops U-Boot's countdown: the board waits at its prompt, as
// the environment step leaves it. False when the prompt did not come.
inline bool StopAtPrompt(const char* portName) {
  RS232 port;
  if (port.Open(portName, kPortSettings) != 1) return false;
  port.pacedWrite = 1;
  port.SendBreak();
  if (!WaitForText(nullptr, "Hit any key to stop autoboot:", &port, 10000)) return false;
  Type(&port, "\r\n");
  return WaitForText(nullptr, "B-Boot >", &port, 10000);
}

inline void PutBootImage(sim::Nand& nand, uint32_t blockOffset, uint32_t magic, uint32_t entry, uint32_t load,
                         const std::vector<uint8_t>& image) {
  sim::NandDescriptor d;
  d.magic = magic;
  d.entryPoint = entry;
  d.pageCount = static_cast<uint32_t>((image.size() + sim::kNandPage - 1) / sim::kNandPage);
  d.startBlock = blockOffset / sim::kNandEraseBlock;
  d.startPage = 1;
  d.loadAddress = load;
  d.byteCount = static_cast<uint32_t>(image.size());
  nand.Erase(blockOffset, sim::kNandPage * (d.pageCount + 1));
  nand.Program(blockOffset, sim::EncodeDescriptor(d));
  nand.Program(blockOffset + sim::kNandPage, image);
}

// The UBL in block 1 and U-Boot in block 4, as the flasher writes them.
inline void InstallBootLoaders(sim::BoardState& state) {
  PutBootImage(state.nand, sim::kUblOffset, sim::kUblMagic, sim::kUblEntryPoint, sim::kUblLoadAddress,
               sim::MakeBootImage(sim::ImageKind::kUbl, 14336, "UBL 1.50 test"));
  PutBootImage(state.nand, sim::kUbootOffset, sim::kUBootMagic, sim::kUBootEntryPoint, sim::kUBootLoadAddress,
               sim::MakeBootImage(sim::ImageKind::kUBoot, 204800, "U-Boot test"));
}

// A saved environment holding this identity (and a short boot delay, as a board in the field).
inline void SaveEnvironment(sim::BoardState& state, const std::string& serialno, const std::string& ethaddr) {
  sim::Environment env;
  env.Set("bootdelay", "3");
  env.Set("serialno", serialno);
  env.Set("ethaddr", ethaddr);
  state.nand.Erase(sim::kUbootEnvOffset, sim::kNandEraseBlock);
  state.nand.Program(sim::kUbootEnvOffset, env.ToBlock());
}

// The run's typing at U-Boot's prompt for the life of a test.
class ScopedUBootTyping {
 public:
  explicit ScopedUBootTyping(UBootTyping typing) : saved_(CurrentUBootTyping()) { SetUBootTyping(typing); }
  ~ScopedUBootTyping() { SetUBootTyping(saved_); }
  ScopedUBootTyping(const ScopedUBootTyping&) = delete;
  ScopedUBootTyping& operator=(const ScopedUBootTyping&) = delete;

 private:
  UBootTyping saved_;
};

// U-Boot's line editor as a test's line plays it: each byte typed at its prompt echoed, a CR as
// CR LF, and Ctrl-C answered with "<INTERRUPT>" and a fresh prompt. Type gives what U-Boot sends
// back for the bytes; lines gets each line a CR ended, for the line to answer.
class PromptEcho {
 public:
  std::string Type(const uint8_t* data, size_t length, std::vector<std::string>* lines) {
    std::string back;
    for (size_t i = 0; i < length; ++i) {
      const char c = static_cast<char>(data[i]);
      if (c == 0x03) {
        line_.clear();
        back += "<INTERRUPT>\nB-Boot > ";
      } else if (c == '\r') {
        back += "\r\n";
        lines->push_back(line_);
        line_.clear();
      } else {
        back += c;
        line_ += c;
      }
    }
    return back;
  }

 private:
  std::string line_;
};

struct TimedBytes {
  uint32_t atMs;
  std::string bytes;
  uint64_t order;  // writes and reads together, in the order the host made them
};

// What the host did on the line, with the host clock's time of each write and read.
struct LineRecord {
  std::vector<TimedBytes> writes;
  std::vector<TimedBytes> reads;
  uint64_t events = 0;

  // The time the n-th (from 1) occurrence of text was complete in what the host read; 0 if never.
  uint32_t TimeRead(const std::string& text, int n = 1) const {
    std::string all;
    std::vector<uint32_t> times;
    for (const TimedBytes& r : reads) {
      all += r.bytes;
      times.insert(times.end(), r.bytes.size(), r.atMs);
    }
    size_t at = 0;
    for (int i = 0; i < n; ++i) {
      at = all.find(text, i == 0 ? 0 : at + 1);
      if (at == std::string::npos) return 0;
    }
    return times[at + text.size() - 1];
  }
  // The time the write that ends with text finished; 0 if never.
  uint32_t TimeWritten(const std::string& text) const {
    std::string all;
    for (const TimedBytes& w : writes) {
      all += w.bytes;
      if (all.size() >= text.size() && all.compare(all.size() - text.size(), text.size(), text) == 0)
        return w.atMs;
    }
    return 0;
  }
  std::string Written() const {
    std::string all;
    for (const TimedBytes& w : writes) all += w.bytes;
    return all;
  }
};

class RecordingLine : public SerialLine {
 public:
  RecordingLine(std::unique_ptr<SerialLine> inner, LineRecord* record)
      : inner_(std::move(inner)), record_(record) {}
  LineSettingsResult ApplySettings(const char* settings) override { return inner_->ApplySettings(settings); }
  bool SetTimeouts(uint32_t readMs, uint32_t writeMs) override {
    return inner_->SetTimeouts(readMs, writeMs);
  }
  bool Read(uint8_t* data, size_t length, size_t* count) override {
    bool ok = inner_->Read(data, length, count);
    if (*count)
      record_->reads.push_back(
          {HostClock().TickMs(), std::string(reinterpret_cast<char*>(data), *count), record_->events++});
    return ok;
  }
  bool Write(const uint8_t* data, size_t length, size_t* count) override {
    bool ok = inner_->Write(data, length, count);
    record_->writes.push_back(
        {HostClock().TickMs(), std::string(reinterpret_cast<const char*>(data), length), record_->events++});
    return ok;
  }
  bool SetBreak(bool on) override { return inner_->SetBreak(on); }
  bool Purge(unsigned flags) override { return inner_->Purge(flags); }
  int LastError() const override { return inner_->LastError(); }

 private:
  std::unique_ptr<SerialLine> inner_;
  LineRecord* record_;
};

// Port "REC1" is the simulated board's "SIM1" seen through a RecordingLine, for the life of the
// object.
class RecordedPort {
 public:
  RecordedPort() {
    RegisterSerialLineOpener("REC", [this](const std::string&, int* error) -> std::unique_ptr<SerialLine> {
      std::unique_ptr<SerialLine> inner = OpenSerialLine("SIM1", error);
      if (!inner) return nullptr;
      return std::unique_ptr<SerialLine>(new RecordingLine(std::move(inner), &record));
    });
  }
  ~RecordedPort() { UnregisterSerialLineOpener("REC"); }
  RecordedPort(const RecordedPort&) = delete;
  RecordedPort& operator=(const RecordedPort&) = delete;
  const char* name() const { return "REC1"; }
  LineRecord record;
};

}  // namespace kernel_upload_test
