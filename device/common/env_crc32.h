// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320) for the board tools' stored environments,
// and a checksum kept as hexadecimal text inside a buffer.
#ifndef DEVICE_COMMON_ENV_CRC32_H
#define DEVICE_COMMON_ENV_CRC32_H

#include <stdint.h>

// CRC-32 of data[0 .. length-1], leaving out the skipLength bytes from the 1-based position
// skipStart (a skipStart of 0 acts as 1). With both skip values 0 it is the plain CRC-32.
uint32_t EnvCrc32(const unsigned char* data, uint32_t length, uint32_t skipStart, uint32_t skipLength);

// Writes the CRC-32 of buf (without the field itself) as width upper-case hexadecimal characters
// into the field at the 1-based position pos. Returns 0; -1 when width is below 8, -2 when it is
// above 99, -3 when the field does not lie inside the buffer. On failure buf is unchanged.
int EnvCrc32PutHex(char* buf, uint32_t length, uint32_t pos, uint32_t width);

// Returns 0 when the hexadecimal field at the 1-based position pos holds the CRC-32 of the rest of
// buf, -1 otherwise (also when the field does not lie inside the buffer).
int EnvCrc32CheckHex(const char* buf, uint32_t length, uint32_t pos, uint32_t width);

#endif  // DEVICE_COMMON_ENV_CRC32_H
