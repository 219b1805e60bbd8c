// Step 5: uImage to U-Boot's loady by YModem-1K.
#pragma once

int UploadKernel(const char* portName);
