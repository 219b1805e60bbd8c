// U-Boot's tftpboot: a TFTP client (RFC 1350) on the board's Ethernet port. It asks the server
// named by serverip for the file in octet mode, takes 512-byte data blocks in lock-step, each
// acknowledged, and ends at a short block. A lost packet costs a 5-second time-out ("T ") and the
// last packet again; ten time-outs, or an ERROR packet from the server, and it starts again
// from the request, for ever unless netretry says otherwise. Ctrl-C on the console stops it.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/network_faults.h"
#include "sim/uboot_commands.h"
#include "sim/uboot_memory.h"

namespace sim {

namespace {

constexpr uint16_t kRead = 1, kData = 3, kAck = 4, kError = 5;
constexpr size_t kBlockSize = 512;
constexpr int kTimeoutsBeforeRestart = 10;
constexpr int kBlocksPerHash = 10;
constexpr int kHashesPerLine = 65;
// Taking a block into memory and answering it, on the ARM926.
constexpr Micros kBlockHandlingTime = 100;

std::string DottedQuad(uint32_t ip) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, ip >> 16 & 0xFF, ip >> 8 & 0xFF, ip & 0xFF);
  return text;
}

bool ParseDottedQuad(const std::string& text, uint32_t* ip) {
  unsigned a, b, c, d;
  char end;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) != 4 || a > 255 || b > 255 ||
      c > 255 || d > 255)
    return false;
  *ip = a << 24 | b << 16 | c << 8 | d;
  return true;
}

uint16_t Get16(const std::vector<uint8_t>& p, size_t at) {
  return static_cast<uint16_t>(p[at] << 8 | p[at + 1]);
}

std::vector<uint8_t> Packet(uint16_t opcode, uint16_t number) {
  return {static_cast<uint8_t>(opcode >> 8), static_cast<uint8_t>(opcode), static_cast<uint8_t>(number >> 8),
          static_cast<uint8_t>(number)};
}

enum class Outcome { kDone, kStartAgain, kAborted, kFailed };

// One attempt: the request, then the blocks, into data.
class Transfer {
 public:
  Transfer(UBootContext& ctx, uint32_t ourIp, uint32_t serverIp, const std::string& file)
      : ctx_(ctx), net_(*ctx.board.ethernet), ourIp_(ourIp), serverIp_(serverIp), file_(file) {
    ourPort_ = static_cast<uint16_t>(1024 + (ctx.uart.Now() / 1000) % 3072);
  }

  Outcome Run(std::vector<uint8_t>* data) {
    std::vector<uint8_t> request = Packet(kRead, 0);
    request.resize(2);
    request.insert(request.end(), file_.begin(), file_.end());
    request.push_back(0);
    for (const char c : std::string("octet")) request.push_back(static_cast<uint8_t>(c));
    request.push_back(0);
    Send(kTftpServerPort, request);

    int timeouts = 0;
    const Micros timeout = ctx_.board.tftpTimeout;
    Micros deadline = ctx_.uart.Now() + timeout;
    for (;;) {
      if (ctx_.CtrlC()) {
        ctx_.uart.Send("\nAbort\n");
        return Outcome::kAborted;
      }
      Datagram in;
      const Micros now = ctx_.uart.Now();
      if (now >= deadline) {
        if (++timeouts >= kTimeoutsBeforeRestart) {
          ctx_.uart.Send("\nRetry count exceeded; starting again\n");
          return Outcome::kStartAgain;
        }
        ctx_.uart.Send("T ");
        Send(lastPort_, last_);
        deadline = ctx_.uart.Now() + timeout;
        continue;
      }
      if (!net_.ReceiveDatagram(&in, deadline - now)) continue;
      if (in.sourceIp != serverIp_ || in.destinationIp != ourIp_ || in.destinationPort != ourPort_ ||
          in.payload.size() < 4)
        continue;
      if (serverPort_ != 0 && in.sourcePort != serverPort_) {
        std::vector<uint8_t> error = Packet(kError, 5);
        for (const char c : std::string("Unknown transfer ID")) error.push_back(static_cast<uint8_t>(c));
        error.push_back(0);
        SendTo(in.sourcePort, error);
        continue;
      }
      const uint16_t opcode = Get16(in.payload, 0);
      if (opcode == kError) {
        const std::string message(in.payload.begin() + 4, in.payload.end());
        ctx_.uart.Send("\nTFTP error: '" + message.substr(0, message.find('\0')) + "' (" +
                       std::to_string(Get16(in.payload, 2)) + ")\nStarting again\n\n");
        return Outcome::kStartAgain;
      }
      if (opcode != kData) continue;
      const uint16_t number = Get16(in.payload, 2);
      if (serverPort_ == 0) serverPort_ = in.sourcePort;
      if (number == static_cast<uint16_t>(block_ + 1)) {
        ctx_.uart.Delay(kBlockHandlingTime);
        ++block_;
        ++blocks_;
        data->insert(data->end(), in.payload.begin() + 4, in.payload.end());
        if ((blocks_ - 1) % kBlocksPerHash == 0) ShowHash();
        timeouts = 0;
      } else if (number != block_ || blocks_ == 0) {
        continue;  // neither the next block nor the last one again
      }
      Send(serverPort_, Packet(kAck, number));
      deadline = ctx_.uart.Now() + timeout;
      if (number == block_ && in.payload.size() - 4 < kBlockSize) return Outcome::kDone;
    }
  }

 private:
  void ShowHash() {
    if (hashes_ > 0 && hashes_ % kHashesPerLine == 0) ctx_.uart.Send("\n\t ");
    ctx_.uart.Send("#");
    ++hashes_;
  }
  // Sends a packet and keeps it for a resend after a time-out.
  void Send(uint16_t port, const std::vector<uint8_t>& payload) {
    last_ = payload;
    lastPort_ = port;
    SendTo(port, payload);
  }
  void SendTo(uint16_t port, const std::vector<uint8_t>& payload) {
    Datagram out;
    out.sourceIp = ourIp_;
    out.sourcePort = ourPort_;
    out.destinationIp = serverIp_;
    out.destinationPort = port;
    out.payload = payload;
    net_.SendDatagram(out);
  }

  UBootContext& ctx_;
  Ethernet& net_;
  uint32_t ourIp_, serverIp_;
  std::string file_;
  uint16_t ourPort_ = 0;
  uint16_t serverPort_ = 0;  // the server's transfer ID, from its first data block
  uint16_t block_ = 0;       // the last block taken (wraps after 65535)
  uint64_t blocks_ = 0;
  int hashes_ = 0;
  std::vector<uint8_t> last_;
  uint16_t lastPort_ = kTftpServerPort;
};

// The IP address in an environment variable, or an error line.
bool AddressFromEnvironment(UBootContext& ctx, const char* name, uint32_t* ip) {
  const auto text = ctx.env.Get(name);
  if (text && ParseDottedQuad(*text, ip) && *ip != 0) return true;
  ctx.uart.Send(std::string("*** ERROR: `") + name + "' not set\n");
  return false;
}

int TftpBoot(UBootContext& ctx, Shell& shell, const std::vector<std::string>& argv) {
  if (argv.size() > 3) return PrintUsage(ctx, shell, "tftpboot");
  uint32_t address = kRamLoadAddress;
  std::string file = ctx.env.Get("bootfile").value_or("");
  if (argv.size() == 3) {
    if (!ParseHex(argv[1], &address)) {
      ctx.uart.Send("'" + argv[1] + "' is not a number\n");
      return 1;
    }
    file = argv[2];
  } else if (argv.size() == 2 && !ParseHex(argv[1], &address)) {
    file = argv[1];
  }
  uint32_t ourIp = 0, serverIp = 0;
  if (!ctx.env.Get("ethaddr")) {
    ctx.uart.Send("*** ERROR: `ethaddr' not set\n");
    return 1;
  }
  if (!AddressFromEnvironment(ctx, "ipaddr", &ourIp) || !AddressFromEnvironment(ctx, "serverip", &serverIp))
    return 1;
  if (file.empty()) {
    char name[16];
    std::snprintf(name, sizeof name, "%08X.img",
                  ourIp >> 24 | (ourIp >> 8 & 0xFF00) | (ourIp << 8 & 0xFF0000) | ourIp << 24);
    file = name;
    ctx.uart.Send("*** Warning: no boot file name; using '" + file + "'\n");
  }
  if (!ctx.board.ethernet) {
    ctx.uart.Send("No ethernet found.\n");
    return 1;
  }
  const std::string retry = ctx.env.Get("netretry").value_or("");
  for (;;) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Using DaVinci EMAC device\nTFTP from server %s; our IP address is %s\nFilename '%s'.\n"
                  "Load address: 0x%x\nLoading: ",
                  DottedQuad(serverIp).c_str(), DottedQuad(ourIp).c_str(), file.c_str(), address);
    ctx.uart.Send(text);
    std::vector<uint8_t> data;
    const Outcome outcome = Transfer(ctx, ourIp, serverIp, file).Run(&data);
    if (!data.empty() && InDdr(address, data.size())) WriteRam(ctx.board.ram, address, data);
    if (outcome == Outcome::kAborted) return 1;
    if (outcome == Outcome::kDone) {
      if (!InDdr(address, data.size())) {
        std::snprintf(text, sizeof text, "\n## Bad load address 0x%X\n", address);
        ctx.uart.Send(text);
        return 1;
      }
      const uint32_t size = static_cast<uint32_t>(data.size());
      std::snprintf(text, sizeof text, "\ndone\nBytes transferred = %u (%x hex)\n", size, size);
      ctx.uart.Send(text);
      ctx.board.lastLoadSize = size;
      std::snprintf(text, sizeof text, "%X", size);
      ctx.env.Set("filesize", text);
      std::snprintf(text, sizeof text, "%X", address);
      ctx.env.Set("fileaddr", text);
      ctx.board.events.push_back("u-boot: tftpboot " + file + " " + std::to_string(size) + " bytes");
      return 0;
    }
    ctx.board.events.push_back("u-boot: tftpboot " + file + " starts again");
    if (retry == "no" || retry == "once") return 1;
  }
}

}  // namespace

std::vector<Command> NetworkCommands() {
  return {{"tftpboot", "tftpboot- boot image via network using TFTP protocol", TftpBoot}};
}

}  // namespace sim
