// What the simulated board's firmware (boot ROM, serial flasher, UBL, U-Boot, Linux) is written
// against. Firmware code runs sequentially, as the real firmware does: it prints, waits for a
// byte with a time-out, pauses for the time an operation takes. The board runtime runs it in
// lock-step with the line's clock (virtual in tests, real in devsim), so a 280-second boot costs
// no real time in tests and stays deterministic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/faults.h"

namespace sim {

using Micros = uint64_t;
constexpr Micros kNever = ~static_cast<Micros>(0);

// Thrown out of every Uart call when a break restarts the board; the runtime catches it at the
// top of the firmware thread and boots again. Firmware never catches it.
struct BoardReset {};

// The board's console UART as the firmware sees it.
class Uart {
 public:
  virtual ~Uart() = default;
  // Queues bytes for transmission; they reach the line at the line's pace (10 bits a byte at the
  // configured baud rate when line emulation is on, at once otherwise). Returns when queued.
  virtual void Send(const std::string& bytes) = 0;
  // The next received byte, or -1 when none arrived within timeout (kNever: wait for ever).
  virtual int Receive(Micros timeout) = 0;
  // True when a received byte is waiting.
  virtual bool HasInput() = 0;
  // Drops whatever was received and not yet read.
  virtual void DropInput() = 0;
  // Pauses for a device delay; the runtime scales it by the board's speed factor.
  virtual void Delay(Micros duration) = 0;
  // The line's clock.
  virtual Micros Now() = 0;
  // Whether the firmware polls the UART (U-Boot) instead of taking each character by interrupt
  // into a buffer of its own (Linux). Nobody reads a polled UART while the firmware is busy in a
  // device delay: its receive FIFO keeps 16 characters, and an overrun loses the rest. Off after
  // a reset.
  virtual void SetPolled(bool /*polled*/) {}
  // Whether the serial driver sends a carriage return before every line feed, as U-Boot's and
  // Linux's do: "\n" goes out as "\r\n" and "\r\n" as "\r\r\n". Off after a reset (the boot ROM,
  // the flasher and the UBL send their line ends as they are).
  virtual void SetCrBeforeLf(bool /*on*/) {}
};

// The UART's receive FIFO.
constexpr size_t kReceiveFifo = 16;

// One UDP datagram on the board's Ethernet; addresses in host order (192.168.102.30 is
// 0xC0A8661E). The simulated network carries datagrams, not frames: no ARP, no fragments.
struct Datagram {
  uint32_t sourceIp = 0;
  uint16_t sourcePort = 0;
  uint32_t destinationIp = 0;
  uint16_t destinationPort = 0;
  std::vector<uint8_t> payload;
};

// The board's Ethernet port as the firmware sees it: a 100 Mbit/s link.
class Ethernet {
 public:
  virtual ~Ethernet() = default;
  // Queues a datagram; it leaves after its time on the wire. Returns when queued.
  virtual void SendDatagram(const Datagram& datagram) = 0;
  // The next received datagram (true), or false when none arrived within timeout or when a
  // character is waiting on the console (U-Boot's network loop watches for Ctrl-C).
  virtual bool ReceiveDatagram(Datagram* datagram, Micros timeout) = 0;
};

// NAND flash: 128 MiB, 128 KiB erase blocks, 2 KiB pages, erased bytes 0xFF, sparse in memory.
constexpr uint32_t kNandSize = 128u << 20;
constexpr uint32_t kNandEraseBlock = 128u << 10;
constexpr uint32_t kNandPage = 2048;

class Nand {
 public:
  // Bytes at offset; 0xFF where erased. Reads past the end are cut.
  std::vector<uint8_t> Read(uint32_t offset, uint32_t length) const;
  // The same into out, which takes length bytes; false (nothing read) when the range leaves the device.
  bool ReadInto(uint32_t offset, uint32_t length, uint8_t* out) const;
  // Programs bytes: like real NAND a write can only clear bits (the result is old AND new).
  // False when the range leaves the device.
  bool Program(uint32_t offset, const std::vector<uint8_t>& data) { return Program(offset, data.data(), data.size()); }
  bool Program(uint32_t offset, const uint8_t* data, size_t length);
  // Erases every block the range touches; offset must be block-aligned. False otherwise.
  bool Erase(uint32_t offset, uint32_t length);
  bool IsErased(uint32_t offset, uint32_t length) const;
  // Whether the range reads back as data (Read(offset, data.size()) == data, without the copy).
  bool Holds(uint32_t offset, const std::vector<uint8_t>& data) const { return Holds(offset, data.data(), data.size()); }
  bool Holds(uint32_t offset, const uint8_t* data, size_t length) const;
  // Blocks that hold anything, for the state file and the dump.
  const std::map<uint32_t, std::vector<uint8_t>>& Blocks() const { return blocks_; }
  void Clear() { blocks_.clear(); }

  // Device time of the operations, before the speed factor.
  static Micros EraseTime(uint32_t length);   // about 2 ms a block
  static Micros ProgramTime(uint32_t length); // about 200 us a page

 private:
  std::map<uint32_t, std::vector<uint8_t>> blocks_;  // block offset -> 128 KiB
};

// Where things live in NAND.
constexpr uint32_t kUblOffset = 0x20000;        // block 1: what the boot ROM looks for
constexpr uint32_t kUbootEnvOffset = 0x60000;   // block 3: U-Boot's saved environment
constexpr uint32_t kUbootEnvSize = 0x4000;      // CRC-32 (little-endian) + NUL-separated entries
constexpr uint32_t kUbootOffset = 0x80000;      // block 4: what the UBL looks for
constexpr uint32_t kRamLoadAddress = 0x80700000;  // U-Boot's default load address

// The MMC card of the board: a few files in its first partition.
struct Mmc {
  bool present = true;
  std::map<std::string, std::vector<uint8_t>> files;  // "/boot/uImage" -> bytes
};

// The login the simulated Linux accepts.
struct Login {
  std::string user = "root";
  std::string password = "brenlo";  // empty: no password is asked
  // The board's /etc/motd, which the login shows after the system's banner, once a user is
  // accepted (empty: none). Its text is the board's own: whatever a board's image put there.
  std::string motd;
};

// Everything that survives a reset (and, in devsim, is kept in the state file).
struct BoardState {
  Nand nand;
  Mmc mmc;
  Login login;
  Faults faults;
  // The network port, given by the board runtime (null: no cable), and U-Boot's wait for each TFTP
  // answer (BoardOptions). Not saved.
  Ethernet* ethernet = nullptr;
  Micros tftpTimeout = 5000000;
  // RAM survives a reset here as on the real board; U-Boot's loady and nand read fill it.
  std::map<uint32_t, std::vector<uint8_t>> ram;  // address -> bytes
  uint32_t lastLoadSize = 0;                      // filesize of the last loady / nand read
  // Fault bookkeeping, kept until the board model is started again (not in the state file).
  unsigned long promptCharacters = 0;  // characters U-Boot's line editor has read (lose-char)
  bool flasherStalled = false;         // flasher-stall has happened
  unsigned flakySlotsWritten = 0;      // flaky-slots that went bad once already (bit 0: slot 1)
  bool environmentLost = false;        // lost-environment has damaged the saved environment
  // Counters the tests and the dump read (kept in the state file).
  unsigned resets = 0;
  unsigned long repeatedCommands = 0;  // empty lines on which U-Boot ran its last command again
  unsigned long lostCharacters = 0;    // received characters lost (an overrun, a line fault)
  std::map<std::string, unsigned long> scriptRuns;  // U-Boot's "run NAME", by NAME
  std::vector<std::string> events;  // "boot rom: BOOTME", "flasher: wrote UBL 14336 bytes", ...
};

// Firmware entry points. Each runs until the board resets (BoardReset) or, for Linux, for ever;
// only the UBL returns, to the boot ROM, when it has no U-Boot to start.
void RunBootRom(Uart& uart, BoardState& board);       // boot ROM: UBL from NAND, else UART boot
void RunSerialFlasher(Uart& uart, BoardState& board); // started by the boot ROM's UART boot
void RunUbl(Uart& uart, BoardState& board);           // started by the boot ROM from NAND
void RunUBoot(Uart& uart, BoardState& board);         // started by the UBL
// Started by U-Boot's bootm with a verified uImage at kRamLoadAddress.
void RunLinux(Uart& uart, BoardState& board);

}  // namespace sim
