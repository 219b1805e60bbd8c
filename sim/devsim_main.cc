// devsim: the simulated DM6446 board as a process. Serves the board's console on an RFC 2217 port
// (and on a pty when asked) at real time, writes the kit's image files, dumps a saved state.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <utility>
#include <string>

#include "sim/board.h"
#include "sim/devsim_server.h"
#include "sim/faults.h"
#include "sim/images.h"
#include "sim/state_dump.h"
#include "sim/state_file.h"

namespace {

void PrintUsage() {
  std::printf(
      "Usage: devsim [options]          serve the simulated board\n"
      "       devsim make-images DIR    write sft_DM6446_NAND.bin, ubl_DM6446_NAND.bin, uboot.large.bin, "
      "uImage\n"
      "       devsim dump --state FILE  describe a saved board: NAND regions, environment, kernel copies\n"
      "Options:\n"
      "  --port N            RFC 2217 port on 127.0.0.1 (default 2217; 0: any free port)\n"
      "  --port-file FILE    write the port number to FILE once listening\n"
      "  --pty               also serve the console on a pseudo-terminal (no break there)\n"
      "  --baud-emulation    the line carries 10 bits a byte at 115200 baud both ways; the host's\n"
      "                      bytes wait behind a network serial server's buffer of 64 KiB\n"
      "  --unpaced-input     with --baud-emulation, the host's bytes reach the board at once\n"
      "  --speed X           divide device delays (boot, NAND, countdown) by X; 0: none (default 1)\n"
      "  --state FILE        keep NAND, RAM and the MMC card in FILE across runs\n"
      "  --flashed           start with the kit's UBL and U-Boot in NAND (a blank board otherwise)\n"
      "  --user NAME         the Linux login name (default root)\n"
      "  --password TEXT     its password (default brenlo; empty: none asked)\n"
      "  --motd TEXT         the board's /etc/motd, shown after each login (default none)\n"
      "  --tftp-port N       the station's TFTP server: the board's requests to port 69 go to 127.0.0.1:N\n"
      "  --station ADDR      the station's address on the board's network (default 192.168.102.134)\n"
      "  --tftp-timeout MS   U-Boot's wait for each TFTP answer before it asks again (default 5000)\n"
      "  --jig SOCKET        a jig boards are put on and taken off, by commands on the Unix socket\n"
      "                      SOCKET: off, on blank, on flashed [MAC,SERIAL], on, state (empty at start)\n"
      "  --lost-environment  U-Boot finds its saved environment lost (bad CRC) and runs on its defaults,\n"
      "                      which hold no identity (as --fault lost-environment)\n"
      "  --uboot-protect-ethaddr  U-Boot refuses to change a set ethaddr (as --fault protect-ethaddr)\n"
      "  --fault NAME[=N]    switch on a failure (repeatable):\n");
  for (const std::string& line : sim::FaultNames()) std::printf("      %s\n", line.c_str());
}

int MakeImages(const std::string& dir) {
  for (const sim::ImageFile& file : sim::MakeImageFiles()) {
    std::string path = dir + "/" + file.name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.bytes.data()),
              static_cast<std::streamsize>(file.bytes.size()));
    if (!out.flush()) {
      std::fprintf(stderr, "Error: cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s %zu bytes\n", path.c_str(), file.bytes.size());
  }
  return 0;
}

int Dump(int argc, char** argv) {
  if (argc != 4 || std::strcmp(argv[2], "--state") != 0) {
    PrintUsage();
    return 2;
  }
  sim::BoardState state;
  std::string error;
  if (!sim::LoadBoardState(&state, argv[3], &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::fputs(sim::DescribeBoardState(state).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "make-images") == 0) {
    if (argc != 3) {
      PrintUsage();
      return 2;
    }
    return MakeImages(argv[2]);
  }
  if (argc >= 2 && std::strcmp(argv[1], "dump") == 0) return Dump(argc, argv);

  // Serve: read the options, build the board, load its state, serve until stopped.
  sim::BoardOptions board;
  sim::ServeOptions serve;
  bool flashed = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--port" && hasValue) {
      char* end = nullptr;
      long port = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || port < 0 || port > 65535) {
        std::fprintf(stderr, "Error: bad port %s\n", argv[i]);
        return 2;
      }
      serve.port = static_cast<uint16_t>(port);
    } else if (arg == "--tftp-port" && hasValue) {
      char* end = nullptr;
      long port = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || port < 1 || port > 65535) {
        std::fprintf(stderr, "Error: bad TFTP port %s\n", argv[i]);
        return 2;
      }
      serve.tftpPort = static_cast<uint16_t>(port);
    } else if (arg == "--station" && hasValue) {
      unsigned a, b, c, d;
      char rest;
      if (std::sscanf(argv[++i], "%u.%u.%u.%u%c", &a, &b, &c, &d, &rest) != 4 || a > 255 || b > 255 ||
          c > 255 || d > 255) {
        std::fprintf(stderr, "Error: bad station address %s\n", argv[i]);
        return 2;
      }
      serve.stationIp = a << 24 | b << 16 | c << 8 | d;
    } else if (arg == "--tftp-timeout" && hasValue) {
      char* end = nullptr;
      const long ms = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || ms < 1 || ms > 600000) {
        std::fprintf(stderr, "Error: bad TFTP time-out %s\n", argv[i]);
        return 2;
      }
      board.tftpTimeoutMs = static_cast<uint32_t>(ms);
    } else if (arg == "--port-file" && hasValue) {
      serve.portFile = argv[++i];
    } else if (arg == "--jig" && hasValue) {
      serve.jigPath = argv[++i];
    } else if (arg == "--pty") {
      serve.pty = true;
    } else if (arg == "--baud-emulation") {
      board.baudEmulation = true;
    } else if (arg == "--unpaced-input") {
      serve.unpacedInput = true;
    } else if (arg == "--speed" && hasValue) {
      char* end = nullptr;
      board.speed = std::strtod(argv[++i], &end);
      if (*end != '\0' || board.speed < 0) {
        std::fprintf(stderr, "Error: bad speed %s\n", argv[i]);
        return 2;
      }
    } else if (arg == "--state" && hasValue) {
      serve.statePath = argv[++i];
    } else if (arg == "--flashed") {
      flashed = true;
    } else if (arg == "--lost-environment") {
      board.faults.lostEnvironment = true;
    } else if (arg == "--uboot-protect-ethaddr") {
      board.faults.protectEthaddr = true;
    } else if (arg == "--user" && hasValue) {
      board.login.user = argv[++i];
    } else if (arg == "--password" && hasValue) {
      board.login.password = argv[++i];
    } else if (arg == "--motd" && hasValue) {
      board.login.motd = argv[++i];
    } else if (arg == "--fault" && hasValue) {
      if (!sim::SetFault(board.faults, argv[++i])) {
        std::fprintf(stderr, "Error: unknown fault %s (see devsim --help)\n", argv[i]);
        return 2;
      }
    } else {
      PrintUsage();
      return arg == "--help" || arg == "-h" ? 0 : 2;
    }
  }

  auto target = std::make_unique<sim::Board>(board);
  if (!serve.statePath.empty()) {
    std::ifstream exists(serve.statePath);
    std::string error;
    if (exists && !sim::LoadBoardState(&target->state(), serve.statePath, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  if (flashed && target->state().nand.IsErased(sim::kUblOffset, sim::kNandEraseBlock))
    sim::InstallBootLoaders(target->state().nand);
  return sim::Serve(std::move(target), board, serve);
}
