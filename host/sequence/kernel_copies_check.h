// Step 6's proof of the ten kernel copies: "written: OK" says only that U-Boot's write went through,
// not that the slot holds the kernel afterwards (a worn block loses a bit of it). So each slot is
// read back into the board's memory, well clear of the kernel the copies were written from, and
// its image checked there as the loaded kernel is: iminfo verifies its header and data checksums,
// and the header shown by md must be uImage's own. A bad copy is written again, at most twice.
#pragma once

#include <cstdint>
#include <vector>

class RS232;

// Where a slot is read back to: past the kernel at 0x80700000 (up to kernel_size, 4 MiB) and past
// U-Boot at 0x81080000 with its heap and stack, in the board's 128 MiB of DDR.
constexpr uint32_t kReadBackAddress = 0x82000000u;
// How often a bad copy is written again before the step gives up.
constexpr int kKernelCopyRewrites = 2;

struct KernelSlots {
  std::vector<uint32_t> offsets;  // NAND offsets, in the order nand_kern_offs names them
  uint32_t size = 0;              // kernel_size: the bytes each slot is erased and written with
};

// The slots as the environment the run programs names them (nand_kern_offs, kernel_size).
KernelSlots ProgrammedKernelSlots();

// At U-Boot's prompt after the copies, with the kernel still at 0x80700000: checks every slot of
// slots against the local uImage, writing a bad one again. 1 when all hold the kernel; 0 when one
// stays bad or the board stops answering, with a line that names the slot.
int ProveKernelCopies(RS232* port, const KernelSlots& slots);
