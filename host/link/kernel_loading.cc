#include "host/link/kernel_loading.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include "host/link/kernel_check.h"
#include "host/link/kernel_tftp.h"
#include "host/link/kernel_upload.h"
#include "host/link/log_file.h"
#include "host/link/rs232.h"
#include "host/platform/clock.h"

namespace {

// The environment's kernel_size, which is also the distance between two kernel slots in NAND.
constexpr uint32_t kKernelSlotSize = 0x400000;

// "Kernel uImage (2134915 bytes) loaded by TFTP from 192.168.102.134 in 1.4 s." for the console and log.
std::string LoadedLine(const std::string& way, uint32_t fileSize, uint32_t elapsedMs) {
  std::ostringstream line;
  line << "Kernel " << kKernelImageName << " (" << fileSize << " bytes) loaded by " << way << " in "
       << elapsedMs / 1000 << "." << elapsedMs % 1000 / 100 << " s.";
  return line.str();
}

}  // namespace

int LoadKernel(const char* portName, const char* tftpServer, const TransferProgress& progress) {
  const bool overTftp = tftpServer && *tftpServer;
  uint32_t fileSize = 0;
  const KernelFile file = OpenKernelImage(&fileSize);
  if (!file) return 0;
  KernelImageHeader header;
  if (!ReadKernelImageHeader(file.get(), kKernelImageName, &header)) return 0;
  // Step 6 copies kernel_size bytes into slots as far apart: a longer kernel would be cut short
  // ten times over.
  if (fileSize > kKernelSlotSize) {
    std::cout << "Error: " << kKernelImageName << " is " << fileSize << " bytes; a kernel slot holds "
              << kKernelSlotSize << "." << std::endl;
    return 0;
  }

  std::unique_ptr<RS232> port(new RS232());
  if (port->Open(portName, kPortSettings) != 1) return 0;
  std::cout << "\nFile open: " << kKernelImageName << ", size: " << fileSize << std::endl;

  const uint32_t started = HostClock().TickMs();
  int result = overTftp ? LoadKernelOverTftp(port.get(), tftpServer, kKernelImageName, fileSize)
                        : SendFileToLoady(port.get(), file.get(), kKernelImageName, fileSize, progress);
  if (result) {
    // U-Boot's TFTP client tells the host nothing on the way: its transfer is known only whole.
    if (overTftp && progress) progress(fileSize, fileSize);
    const std::string way = overTftp ? std::string("TFTP from ") + tftpServer : "YModem";
    const std::string line = LoadedLine(way, fileSize, HostClock().TickMs() - started);
    std::cout << "\n" << line << std::endl;
    WriteLog(line + "\n");
    result = CheckKernelInMemory(port.get(), header);
  }
  std::cout << std::endl;
  port->Close();
  return result;
}
