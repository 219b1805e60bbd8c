#include "host/link/boot_loader_flashing.h"

#include <memory>

#include "host/link/boot_image.h"
#include "host/link/boot_image_header.h"
#include "host/link/log_file.h"
#include "host/link/rs232.h"
#include "host/link/target_console.h"

int FlashBootLoaders(const char* portPath, const TransferProgress& progress) {
  // The port is closed and released on every return. No break here: it would restart the
  // target into the boot ROM and lose the flasher that step 2 started.
  auto port = std::make_unique<RS232>();
  if (!port->Open(portPath, kPortSettings)) return 0;

  // " BOOTME" means the boot ROM is back, the flasher is not running.
  if (!WaitForText(" BOOTME", "BOOTUBL", port.get(), kFlasherWaitMs)) return 0;
  if (!SendProtocolText(port.get(), "    CMD", true)) return 0;
  if (!SendProtocolText(port.get(), HexDigits(kFlashCommandWord, 8, false), false)) return 0;
  if (!WaitForText("BOOTUBL", "   DONE", port.get(), kFlasherWaitMs)) return 0;

  WriteLog("Upload UBL image\n");
  if (!SendBootImage(kUblImageFile, kUblMagic, kUblStartAddress, kUblLoadAddress, port.get(), progress))
    return 0;
  WriteLog("Upload UBoot image\n");
  if (!SendBootImage(kUbootImageFile, kUbootMagic, kUbootStartAddress, kUbootLoadAddress,
                     port.get(), progress))
    return 0;

  port->Close();
  return 1;
}
