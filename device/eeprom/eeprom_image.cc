#include "device/eeprom/eeprom_image.h"

#include <stdio.h>
#include <string.h>

#include "device/common/env_crc32.h"
#include "device/eeprom/default_table.h"

const char kUserLayerPath[] = "/proc/eeprom/userspace";
const char kDefaultsLayerPath[] = "/proc/eeprom/defaults";

namespace {

bool ReadLe32(FILE* file, unsigned long* value) {
  unsigned char bytes[4];
  if (fread(bytes, 1, 4, file) != 4) return false;
  *value = static_cast<unsigned long>(bytes[0]) | (static_cast<unsigned long>(bytes[1]) << 8) |
           (static_cast<unsigned long>(bytes[2]) << 16) | (static_cast<unsigned long>(bytes[3]) << 24);
  return true;
}

void PutLe32(unsigned char* at, unsigned long value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}

unsigned long ImageCrc(const EepromImage& image) {
  return EnvCrc32(image.data, static_cast<uint32_t>(image.size), 0, 0);
}

}  // namespace

PhxResult ReadImage(const char* path, int verbose, EepromImage* image) {
  FILE* file = fopen(path, "rb");
  if (file == 0) return PHX_ERROR_CALL_FAILED;
  const PhxResult result = ReadImageFile(file, verbose, image);
  fclose(file);
  return result;
}

PhxResult ReadImageFile(FILE* file, int verbose, EepromImage* image) {
  if (!ReadLe32(file, &image->size)) return PHX_ERROR_CALL_FAILED;
  if (verbose) printf("EEPROM data size: %lu\n", image->size);
  if (!ReadLe32(file, &image->crc)) return PHX_ERROR_CALL_FAILED;
  if (verbose) printf("EEPROM CRC: 0x%lx\n", image->crc);
  if (image->size == 0) {
    // Read as a store without variables: its data is the final NUL alone.
    image->size = 1;
    image->data[0] = '\0';
    return PHX_OK;
  }
  // A size beyond the data limit is a damaged header, not a reason to read past the buffer.
  if (image->size > kEepromDataLimit) return PHX_ERROR_CALL_FAILED;
  if (fread(image->data, 1, image->size, file) != image->size) return PHX_ERROR_CALL_FAILED;
  if (verbose) printf("Read %lu bytes from EEPROM\n", image->size);

  if (ImageCrc(*image) != image->crc) {
    fprintf(stderr, "CRC Error!\n");
    return PHX_ERROR_CALL_FAILED;
  }
  if (verbose) printf("CRC ok\n");
  // The last data byte ends the store; a damaged one must not let a walk run past the data.
  image->data[image->size - 1] = '\0';
  return PHX_OK;
}

bool HasEntryAt(const EepromImage& image, unsigned long position) {
  return image.size > 0 && position < image.size - 1;
}

unsigned long NextEntry(const EepromImage& image, unsigned long position) {
  const void* end = memchr(image.data + position, '\0', image.size - position);
  if (end == 0) return image.size;
  return static_cast<unsigned long>(static_cast<const unsigned char*>(end) - image.data) + 1;
}

void SplitEntry(const char* entry, char* nameBuffer, char* valueBuffer) {
  unsigned int copied = 0;
  while (entry[copied] != '\0' && entry[copied] != '=' && copied < kNameFieldSize - 1) {
    nameBuffer[copied] = entry[copied];
    ++copied;
  }
  nameBuffer[copied] = '\0';
  const char* rest = entry + copied;
  if (*rest != '=' && copied == kNameFieldSize - 1) rest = strchr(rest, '=');  // a cut name
  valueBuffer[0] = '\0';
  if (rest != 0 && *rest == '=') {
    // Values too long for the buffer are cut, so that printing never runs past it.
    strncpy(valueBuffer, rest + 1, kValueFieldSize - 1);
    valueBuffer[kValueFieldSize - 1] = '\0';
  }
}

UpdateOutcome UpdateImage(EepromImage* image, const char* name, const char* value) {
  char entryName[kNameFieldSize];
  char entryValue[kValueFieldSize];
  const unsigned long nameLength = strlen(name);
  const unsigned long valueLength = strlen(value);

  // The entries end where the final NUL sits (S - 1); in a damaged store whose last entry's NUL is
  // the final one, they end at S.
  unsigned long entriesEnd = image->size - 1;
  bool found = false;
  unsigned long matchAt = 0;
  unsigned long matchLength = 0;
  for (unsigned long p = 0; HasEntryAt(*image, p); p = NextEntry(*image, p)) {
    if (NextEntry(*image, p) > entriesEnd) entriesEnd = NextEntry(*image, p);
    if (found) continue;
    SplitEntry(EntryText(*image, p), entryName, entryValue);
    if (strcmp(entryName, name) == 0) {
      found = true;
      matchAt = p;
      matchLength = NextEntry(*image, p) - p - 1;
    }
  }
  if (!found && valueLength == 0) return kImageUnchanged;

  // A changed or new variable is written behind all others; a deleted one closes its gap.
  const unsigned long writeAt = found ? entriesEnd - matchLength - 1 : entriesEnd;
  const unsigned long newSize = writeAt + (valueLength == 0 ? 0 : nameLength + valueLength + 2) + 1;
  if (newSize > kEepromDataLimit) return kImageTooLarge;
  if (found) {
    const unsigned long after = matchAt + matchLength + 1;
    memmove(image->data + matchAt, image->data + after, entriesEnd - after);
  }
  if (valueLength != 0) {
    memcpy(image->data + writeAt, name, nameLength);
    image->data[writeAt + nameLength] = '=';
    memcpy(image->data + writeAt + nameLength + 1, value, valueLength);
    image->data[writeAt + nameLength + 1 + valueLength] = '\0';
  }
  image->data[newSize - 1] = '\0';
  image->size = newSize;
  return kImageChanged;
}

void BuildDefaultImage(EepromImage* image) {
  unsigned long at = 0;
  for (unsigned int i = 0; i < kDefaultTableCount; ++i) {
    const unsigned long length = strlen(kDefaultTable[i]);
    memcpy(image->data + at, kDefaultTable[i], length + 1);
    at += length + 1;
  }
  image->data[at] = '\0';
  image->size = at + 1;
}

unsigned long SerializeImage(const EepromImage& image, unsigned char* bytes) {
  PutLe32(bytes, image.size);
  PutLe32(bytes + 4, image.crc);
  memcpy(bytes + kEepromHeaderSize, image.data, image.size);
  return image.size + kEepromHeaderSize;
}
