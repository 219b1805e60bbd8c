// Step 2: the boot ROM's UART boot of the serial flasher sft_DM6446_NAND.bin.
#pragma once

int UploadFlasher(const char* portPath);
