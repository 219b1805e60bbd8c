// The block's device: its size, the erase-and-write that NAND needs, and the advisory lock that keeps
// two runs from losing each other's change.
#ifndef DEVICE_NAND_FLASH_H
#define DEVICE_NAND_FLASH_H

#include <stdint.h>

#include "device/nand/tool_io.h"

// The total size of the MTD device at path; 0 when the path cannot be opened read-write or is no
// MTD device.
uint32_t MtdSize(const ToolIo& io, const char* path);

// Erases the device (when path is an MTD device) and writes the whole block from offset 0 with one
// write. Prints its own reason on io.err and gives false on failure.
bool FlashWrite(const ToolIo& io, const char* path, const unsigned char* data, uint32_t size);

// Takes an advisory lock (exclusive for a read-modify-write, shared for reading) on path and gives
// the descriptor that holds it; -1 when the path does not exist (there is nothing to guard). Gives
// -2 after printing the reason when the lock cannot be taken.
int EnvLock(const ToolIo& io, const char* path, bool exclusive);
void EnvUnlock(const ToolIo& io, int lockFd);

#endif  // DEVICE_NAND_FLASH_H
