// Step 5: uImage to U-Boot's loady by YModem-1K.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "host/link/target_console.h"

class RS232;

constexpr char kKernelImageName[] = "uImage";

struct KernelFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using KernelFile = std::unique_ptr<std::FILE, KernelFileCloser>;

// Opens uImage in the working directory and reads its size; null, with the reason printed, when
// it cannot be opened or is larger than 4 GiB.
KernelFile OpenKernelImage(uint32_t* fileSize);

// Opens uImage in the working directory and the port, sends the file to loady and waits for
// U-Boot's "## Total Size". 1 on success, 0 on failure (reason printed).
int UploadKernel(const char* portName);

// The transfer itself on an open port: types loady, sends the header, the data blocks and the
// EOT. file is read from its current position for fileSize bytes. 1 on success, 0 on failure.
int SendFileToLoady(RS232* port, std::FILE* file, const char* fileName, uint32_t fileSize,
                    const TransferProgress& progress = TransferProgress());
