// The variable image that the EEPROM and both layer files hold:
//   offset 0  data size S (32-bit little-endian)
//   offset 4  CRC-32 of the S data bytes
//   offset 8  entries "name=value", each with its NUL, and one more NUL as the last data byte
#ifndef DEVICE_EEPROM_EEPROM_IMAGE_H_
#define DEVICE_EEPROM_EEPROM_IMAGE_H_

#include <stdio.h>

#include "device/eeprom/boardlib/phx_result.h"
#include "device/eeprom/tool_options.h"

const unsigned long kEepromDataLimit = 16384;
const unsigned long kEepromHeaderSize = 8;

extern const char kUserLayerPath[];      // "/proc/eeprom/userspace"
extern const char kDefaultsLayerPath[];  // "/proc/eeprom/defaults"

struct EepromImage {
  unsigned long size;  // S; at least 1 once an image has been read or built
  unsigned long crc;
  unsigned char data[kEepromDataLimit];
};

// Reads and checks a layer file. 0, or 0x8000000D when the file cannot be opened or read, its size
// field exceeds the limit or its CRC differs (that one also prints "CRC Error!").
PhxResult ReadImage(const char* path, int verbose, EepromImage* image);

// The same on a file already open, from its start position.
PhxResult ReadImageFile(FILE* file, int verbose, EepromImage* image);

// Entry walk: for (p = 0; HasEntryAt(image, p); p = NextEntry(image, p)).
bool HasEntryAt(const EepromImage& image, unsigned long position);
unsigned long NextEntry(const EepromImage& image, unsigned long position);
inline const char* EntryText(const EepromImage& image, unsigned long position) {
  return reinterpret_cast<const char*>(image.data + position);
}

// Name up to the first '=' (at most 63 characters), value after it (at most 1023 characters).
void SplitEntry(const char* entry, char* nameBuffer, char* valueBuffer);

enum UpdateOutcome { kImageUnchanged, kImageChanged, kImageTooLarge };

// Moves the variable to the end of the store with its new value, appends it when new, deletes it
// when value is empty. Nothing changes when the result would not fit the data limit.
UpdateOutcome UpdateImage(EepromImage* image, const char* name, const char* value);

// The image of the default table.
void BuildDefaultImage(EepromImage* image);

// The header and data as stored: size, CRC, data, byte by byte. Gives the byte count (S + 8).
unsigned long SerializeImage(const EepromImage& image, unsigned char* bytes);

#endif  // DEVICE_EEPROM_EEPROM_IMAGE_H_
