// Test helpers for the U-Boot and Linux models: a Uart on a virtual clock that plays typed input
// at given times and records what the firmware sends, and a uImage builder.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sim/crc.h"
#include "sim/firmware.h"

namespace sim::testing {

// Thrown when the firmware would wait with nothing more to come: the scripted session is over.
struct Idle {};

constexpr Micros kMs = 1000;
constexpr Micros kSec = 1000000;

class ScriptedUart : public Uart {
 public:
  // Characters one every pace, the first at time at (the host types at 10 ms a character).
  void Type(const std::string& text, Micros at, Micros pace = 10 * kMs) {
    for (char c : text) {
      Inject(std::string(1, c), at);
      at += pace;
    }
  }
  // Bytes all arriving at time at (after whatever is queued).
  void Inject(const std::string& bytes, Micros at) {
    for (char c : bytes) {
      if (!input_.empty() && input_.back().first > at) at = input_.back().first;
      input_.emplace_back(at, static_cast<uint8_t>(c));
    }
  }
  // Called when the firmware waits for input and none is queued: a reactive peer.
  std::function<void(ScriptedUart&)> peer;
  // The firmware is stopped (Idle) when it would wait past this time.
  Micros stopAt = 2000 * kSec;

  void Send(const std::string& bytes) override {
    output += bytes;
    sends.emplace_back(now, bytes);
  }
  int Receive(Micros timeout) override {
    if (input_.empty() && peer) peer(*this);
    const Micros limit = timeout == kNever ? kNever : now + timeout;
    if (!input_.empty() && input_.front().first <= limit) {
      if (input_.front().first > now) now = input_.front().first;
      const uint8_t b = input_.front().second;
      input_.pop_front();
      return b;
    }
    if (limit == kNever || limit > stopAt) throw Idle{};
    now = limit;
    return -1;
  }
  bool HasInput() override { return !input_.empty() && input_.front().first <= now; }
  void DropInput() override {
    while (HasInput()) input_.pop_front();
  }
  void Delay(Micros d) override { now += d; }
  Micros Now() override { return now; }

  // When the firmware first sent text (searching the whole output), or kNever.
  Micros TimeOf(const std::string& text, size_t from = 0) const {
    const size_t at = output.find(text, from);
    if (at == std::string::npos) return kNever;
    size_t seen = 0;
    for (const auto& [time, bytes] : sends) {
      seen += bytes.size();
      if (seen > at) return time;
    }
    return kNever;
  }
  size_t Count(const std::string& text) const {
    size_t n = 0;
    for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++n;
    return n;
  }

  Micros now = 0;
  std::string output;
  std::vector<std::pair<Micros, std::string>> sends;

 private:
  std::deque<std::pair<Micros, uint8_t>> input_;
};

inline void PutBigEndian(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A uImage: ARM Linux kernel, uncompressed, with valid header and data CRCs.
inline std::vector<uint8_t> MakeUImage(size_t dataSize, const std::string& name = "Linux-2.6.10_mvl401") {
  std::vector<uint8_t> data(dataSize);
  for (size_t i = 0; i < dataSize; ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
  std::vector<uint8_t> header(64, 0);
  PutBigEndian(header, 0, 0x27051956u);
  PutBigEndian(header, 8, 0x4B9A1C00u);
  PutBigEndian(header, 12, static_cast<uint32_t>(dataSize));
  PutBigEndian(header, 16, 0x80008000u);
  PutBigEndian(header, 20, 0x80008000u);
  PutBigEndian(header, 24, Crc32(data.data(), dataSize));
  // Linux, ARM, kernel, uncompressed
  PutBigEndian(header, 28, 0x05020200u);
  for (size_t i = 0; i < name.size() && i < 32; ++i) header[32 + i] = static_cast<uint8_t>(name[i]);
  PutBigEndian(header, 4, Crc32(header.data(), 64));
  header.insert(header.end(), data.begin(), data.end());
  return header;
}

// The 28 default commands the host types (its default environment), exactly as typed.
inline std::vector<std::string> HostEnvironmentCommands() {
  return {
      "setenv ipaddr 192.168.102.30",
      "setenv netmask 255.255.255.0",
      "setenv gateway 192.168.102.60",
      "setenv serverip 192.168.102.134",
      "setenv hostip 192.168.102.134",
      "setenv nfsserver 192.168.102.93",
      "setenv nfsdir /davinci",
      "setenv fsimage ramdisk.iso",
      "setenv fsimage_offset 0x00500000",
      "setenv fsimage_size 0x2D00000",
      "setenv fstype auto",
      "setenv kernel_size 0x400000",
      "setenv kernel_offset 0x00200000",
      "setenv nand_kern_offs '0x00200000 0x3200000 0x3600000 0x4000000 0x4400000 0x4800000 0x5200000 0x5600000 0x6000000 0x6400000'",
      "setenv mmcroot '/dev/mmcblk0p1 rw'",
      "setenv mmcrootfstype 'ext3 rootwait rootdelay=4 nohz=off'",
      "setenv bootcmd 'run bootmmc2'",
      "setenv safeboot 'setenv mmcroot /dev/mmcblk0p2 ro; run bootmmc'",
      "setenv bootnfs 'setenv bootargs mem=120M console=ttyS0,115200n8 root=/dev/nfs rw noinitrd nfsroot=$nfsserver:$nfsdir,nolock; run setipaddr; bootm 0x80700000;'",
      "setenv bootmmc 'setenv bootargs mem=120M console=ttyS0,115200n8 root=$mmcroot rootfstype=$mmcrootfstype noinitrd eth=$ethaddr init=/sbin/init;run setipaddr; run try_boot_kernel'",
      "setenv bootmmc2 'setenv bootargs mem=120M console=ttyS0,115200n8 root=$mmcroot rootfstype=$mmcrootfstype noinitrd eth=$ethaddr init=/sbin/init;run setipaddr; run try_boot_mmc'",
      "setenv setipstatic 'set bootargs $bootargs ip=$ipaddr:$serverip:$gateway:$netmask:::off'",
      "setenv setipaddr 'run setipstatic'",
      "setenv updatekernel 'tftpboot 0x80700000 $bootfile; run make_nand_kernel_clones;'",
      "setenv updaterootfs 'tftpboot 0x85000000 $fsimage; nand erase $fsimage_offset $fsimage_size; nand write 0x$fileaddr $fsimage_offset $fsimage_size;'",
      "setenv make_nand_kernel_clones 'for clone_offs in ${nand_kern_offs}; do echo \"Make kernel clone on nand offset = ${clone_offs}\"; nand erase ${clone_offs} ${kernel_size}; nand write 0x80700000 ${clone_offs} ${kernel_size}; done;'",
      "setenv try_boot_kernel 'for clone_offs in ${nand_kern_offs}; do echo \"Trying offset ${clone_offs}\"; nand read 0x80700000 ${clone_offs} ${kernel_size}; if iminfo 0x80700000; then bootm 0x80700000; fi; done;'",
      "setenv try_boot_mmc 'mmc rescan; ext2load mmc 0:1 0x80700000 /boot/uImage; bootm 0x80700000; echo \"Try boot from NAND\"; run try_boot_kernel;'",
  };
}

}  // namespace sim::testing
