#include "host/link/kernel_tftp.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "host/link/rs232.h"
#include "host/link/target_console.h"

namespace {

constexpr char kBytesTransferred[] = "Bytes transferred = ";
constexpr uint32_t kStartAndRetriesMs = 60000;
constexpr uint32_t kSlowestBytesPerMs = 100;
constexpr uint32_t kPromptTimeoutMs = 5000;
constexpr char kCtrlC = 0x03;

// The number after "Bytes transferred = " on the last line that holds it; false when none does.
bool TransferredBytes(const std::vector<std::string>& lines, unsigned long* count) {
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    const size_t at = line->find(kBytesTransferred);
    if (at == std::string::npos) continue;
    const char* digits = line->c_str() + at + sizeof kBytesTransferred - 1;
    char* end = nullptr;
    *count = std::strtoul(digits, &end, 10);
    return end != digits;
  }
  return false;
}

}  // namespace

uint32_t TftpTimeoutMs(uint32_t fileSize) { return kStartAndRetriesMs + fileSize / kSlowestBytesPerMs; }

int LoadKernelOverTftp(RS232* port, const char* server, const char* fileName, uint32_t fileSize) {
  const int32_t paced = port->pacedWrite;
  port->pacedWrite = 1;
  if (!TypeCommand(port, std::string("setenv serverip ") + server) ||
      !TypeCommand(port, std::string("tftpboot 0x80700000 ") + fileName)) {
    port->pacedWrite = paced;
    return 0;
  }
  // The number after the text is what counts: the line is judged once U-Boot has ended it.
  std::vector<std::string> lines;
  bool loaded = WaitForLine({"TFTP error", "Retry count exceeded"}, kBytesTransferred, port,
                            TftpTimeoutMs(fileSize), &lines);
  unsigned long transferred = 0;
  if (loaded && (!TransferredBytes(lines, &transferred) || transferred != fileSize)) {
    std::cout << "\nError: the TFTP server sent " << transferred << " bytes, " << fileName << " has "
              << fileSize << "." << std::endl;
    loaded = false;
  }
  if (!loaded) {
    // U-Boot starts a failed transfer again by itself; Ctrl-C ends that, and the prompt follows.
    Type(port, std::string(1, kCtrlC));
    WaitForText(nullptr, "B-Boot >", port, kPromptTimeoutMs);
  }
  port->pacedWrite = paced;
  return loaded ? 1 : 0;
}
