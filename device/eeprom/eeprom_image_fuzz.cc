// The store reader, entry walk, split and update, fed arbitrary images. The header's CRC is made
// right first, so that the data gets past the check and into the walks.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "device/common/env_crc32.h"
#include "device/eeprom/eeprom_image.h"

namespace {

EepromImage image;
unsigned char file[kEepromHeaderSize + kEepromDataLimit + 64];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t length) {
  if (length < 10 || length > sizeof file) return 0;
  // The first two bytes choose the name and value lengths of the update; the rest is the image.
  const size_t nameLength = input[0] % 8;
  const size_t valueLength = input[1] % 16;
  memcpy(file, input + 2, length - 2);
  const size_t fileLength = length - 2;
  if (fileLength >= kEepromHeaderSize) {
    const uint32_t size = file[0] | (file[1] << 8) | (file[2] << 16) | (static_cast<uint32_t>(file[3]) << 24);
    const size_t dataLength = fileLength - kEepromHeaderSize;
    const uint32_t crc = EnvCrc32(file + kEepromHeaderSize, size < dataLength ? size : dataLength, 0, 0);
    for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<unsigned char>(crc >> (8 * i));
  }
  FILE* stream = fmemopen(file, fileLength, "rb");
  if (stream == 0) return 0;
  const PhxResult result = ReadImageFile(stream, 0, &image);
  fclose(stream);
  if (result != 0) return 0;
  if (image.size == 0 || image.size > kEepromDataLimit || image.data[image.size - 1] != 0) abort();

  char name[64];
  char value[1024];
  char updateName[8] = {0};
  char updateValue[16] = {0};
  for (unsigned long p = 0; HasEntryAt(image, p); p = NextEntry(image, p)) {
    SplitEntry(EntryText(image, p), name, value);
    if (strlen(name) > 63 || strlen(value) > 1023) abort();
    if (updateName[0] == 0 && nameLength > 0) strncpy(updateName, name, nameLength);
  }
  memset(updateValue, 'v', valueLength);
  if (updateName[0] == 0) strcpy(updateName, "n");
  const unsigned long before = image.size;
  const UpdateOutcome outcome = UpdateImage(&image, updateName, updateValue);
  if (outcome != kImageChanged && image.size != before) abort();
  if (image.size == 0 || image.size > kEepromDataLimit || image.data[image.size - 1] != 0) abort();
  for (unsigned long p = 0; HasEntryAt(image, p); p = NextEntry(image, p)) SplitEntry(EntryText(image, p), name, value);
  return 0;
}
