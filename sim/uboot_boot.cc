// U-Boot's commands that load and start the kernel: iminfo, bootm, mmc, ext2load, loady.
#include <cstdio>

#include "sim/linux_boot.h"
#include "sim/uboot_commands.h"
#include "sim/uboot_image.h"
#include "sim/uboot_loady.h"
#include "sim/uboot_memory.h"

namespace sim {

namespace {

constexpr Micros kMmcMicrosPerKiB = 250;    // about 4 MB/s from the card
constexpr Micros kGunzipMicrosPerKiB = 200;  // about 5 MB/s
constexpr Micros kCardInitTime = 150000;

std::string Hex(uint32_t value) {
  char t[16];
  std::snprintf(t, sizeof t, "%X", value);
  return t;
}

// The address argument at index i, else U-Boot's load address.
bool AddressArgument(UBootContext& ctx, const std::vector<std::string>& argv, size_t i,
                     uint32_t* address) {
  *address = kRamLoadAddress;
  if (argv.size() <= i) return true;
  if (ParseHex(argv[i], address)) return true;
  ctx.uart.Send("'" + argv[i] + "' is not a number\n");
  return false;
}

void Loaded(UBootContext& ctx, uint32_t size) {
  ctx.board.lastLoadSize = size;
  ctx.env.Set("filesize", Hex(size));
}

int ImInfo(UBootContext& ctx, Shell&, const std::vector<std::string>& argv) {
  uint32_t address;
  if (!AddressArgument(ctx, argv, 1, &address)) return 1;
  ctx.uart.Send("\n");
  return CheckImage(ctx.uart, ctx.board.ram, address, "Checking Image", nullptr) ? 0 : 1;
}

int Bootm(UBootContext& ctx, Shell&, const std::vector<std::string>& argv) {
  uint32_t address;
  if (!AddressArgument(ctx, argv, 1, &address)) return 1;
  ImageHeader h;
  if (!CheckImage(ctx.uart, ctx.board.ram, address, "Booting image", &h)) return 1;
  if (h.arch != kImageArchArm) {
    ctx.uart.Send("Unsupported Architecture 0x" + Hex(h.arch) + "\n");
    return 1;
  }
  if (h.type != kImageTypeKernel || h.os != kImageOsLinux) {
    ctx.uart.Send("Wrong Image Type for bootm command\nERROR: can't get kernel image!\n");
    return 1;
  }
  if (h.comp == kImageCompNone) {
    ctx.uart.Send("   Loading Kernel Image ... OK\n");
  } else if (h.comp == kImageCompGzip) {
    ctx.uart.Send("   Uncompressing Kernel Image ... ");
    ctx.uart.Delay(kGunzipMicrosPerKiB * (h.size / 1024 + 1));
    ctx.uart.Send("OK\n");
  } else {
    ctx.uart.Send("Unimplemented compression type " + std::to_string(h.comp) + "\n");
    return 1;
  }
  ctx.uart.Send("OK\n");
  WriteBootTags(ctx.board.ram, ctx.env.Get("bootargs"));
  ctx.board.events.push_back("u-boot: bootm " + h.name);
  const Faults& faults = ctx.board.faults;
  if (faults.panicAtMilestone == 5) {
    ctx.uart.Send(kKernelPanicLine);
    Halt(ctx.uart);
  }
  if (faults.missingMilestone != 5) ctx.uart.Send("\nStarting kernel ...\n\n");
  RunLinux(ctx.uart, ctx.board);
  return 1;  // Linux does not come back
}

int MmcCommand(UBootContext& ctx, Shell& shell, const std::vector<std::string>& argv) {
  if (argv.size() < 2 || (argv[1] != "rescan" && argv[1] != "init")) return PrintUsage(ctx, shell, "mmc");
  ctx.uart.Delay(kCardInitTime);
  ctx.mmcReady = ctx.board.mmc.present;
  if (!ctx.mmcReady) {
    ctx.uart.Send("No MMC card found\n");
    return 1;
  }
  return 0;
}

int Ext2Load(UBootContext& ctx, Shell& shell, const std::vector<std::string>& argv) {
  if (argv.size() < 3) return PrintUsage(ctx, shell, "ext2load");
  const std::string& device = argv[2];
  if (argv[1] != "mmc" || device.empty() || device[0] != '0' ||
      (device.size() > 1 && device[1] != ':')) {
    ctx.uart.Send("** Block device " + argv[1] + " " + device + " not supported\n");
    return 1;
  }
  const std::string partition = device.size() > 2 ? device.substr(2) : "1";
  if (!ctx.mmcReady) {
    ctx.uart.Send("** Block device mmc 0 not supported\n");
    return 1;
  }
  if (partition != "1") {
    ctx.uart.Send("** Bad partition - mmc 0:" + partition + " **\n");
    return 1;
  }
  uint32_t address;
  if (!AddressArgument(ctx, argv, 3, &address)) return 1;
  const std::string path = argv.size() > 4 ? argv[4] : ctx.env.Get("bootfile").value_or("");
  ctx.uart.Send("Loading file \"" + path + "\" from mmc device 0:1 (xxa1)\n");
  const auto file = ctx.board.mmc.files.find(path);
  if (file == ctx.board.mmc.files.end()) {
    ctx.uart.Send("** File not found " + path + "\n");
    return 1;
  }
  std::vector<uint8_t> data = file->second;
  uint32_t limit;
  if (argv.size() > 5 && ParseHex(argv[5], &limit) && limit > 0 && limit < data.size()) data.resize(limit);
  if (!InDdr(address, data.size())) {
    ctx.uart.Send("** Load address 0x" + Hex(address) + " is outside the DDR\n");
    return 1;
  }
  ctx.uart.Delay(kMmcMicrosPerKiB * (data.size() / 1024 + 1));
  WriteRam(ctx.board.ram, address, data);
  Loaded(ctx, static_cast<uint32_t>(data.size()));
  ctx.uart.Send(std::to_string(data.size()) + " bytes read\n");
  return 0;
}

int Loady(UBootContext& ctx, Shell&, const std::vector<std::string>& argv) {
  uint32_t address;
  if (!AddressArgument(ctx, argv, 1, &address)) return 1;
  if (!InDdr(address, 1)) {
    ctx.uart.Send("## Bad load address 0x" + Hex(address) + "\n");
    return 1;
  }
  char text[96];
  std::snprintf(text, sizeof text, "## Ready for binary (ymodem) download to 0x%08X at %s bps...\n",
                address, ctx.env.Get("baudrate").value_or("115200").c_str());
  ctx.uart.Send(text);
  YmodemResult result = ReceiveYmodem(ctx.uart, ctx.board.faults);
  if (!result.complete) {
    ctx.uart.Send(result.error + "\n");
    ctx.board.events.push_back("u-boot: loady failed: " + result.error);
    return 1;
  }
  const uint32_t size = static_cast<uint32_t>(result.data.size());
  if (!InDdr(address, size)) {
    ctx.uart.Send("## Bad load address 0x" + Hex(address) + "\n");
    return 1;
  }
  WriteRam(ctx.board.ram, address, result.data);
  Loaded(ctx, size);
  if (!ctx.board.faults.noTotalSize) {
    std::snprintf(text, sizeof text, "## Total Size      = 0x%08x = %u Bytes\n", size, size);
    ctx.uart.Send(text);
  }
  ctx.board.events.push_back("u-boot: loady " + result.fileName + " " + std::to_string(size) + " bytes");
  return 0;
}

}  // namespace

std::vector<Command> BootCommands() {
  return {
      {"bootm", "bootm   - boot application image from memory", Bootm},
      {"ext2load", "ext2load- load binary file from a Ext2 filesystem", Ext2Load, false},
      {"iminfo", "iminfo  - print header information for application image", ImInfo},
      {"loady", "loady   - load binary file over serial line (ymodem mode)", Loady, false},
      {"mmc", "mmc     - MMC sub-system: mmc rescan", MmcCommand},
  };
}

}  // namespace sim
