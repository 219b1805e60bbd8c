// Step 3: the serial flasher writes the UBL and U-Boot into NAND.
#pragma once

int FlashBootLoaders(const char* portPath);
