#include "device/eeprom/eeprom_words.h"

#include <stdio.h>

#include "device/common/env_crc32.h"
#include "device/eeprom/boardlib/phx_driver.h"
#include "device/eeprom/error_report.h"

namespace {

PhxResult SelectWord(long device, unsigned long first, unsigned long k) {
  return PhxDrvSendCommand(device, ((kUserAreaWordAddress + first + k) << 16) | kSelectWord);
}

unsigned long Le32(const unsigned char* at) {
  return static_cast<unsigned long>(at[0]) | (static_cast<unsigned long>(at[1]) << 8) |
         (static_cast<unsigned long>(at[2]) << 16) | (static_cast<unsigned long>(at[3]) << 24);
}

}  // namespace

PhxResult WriteEepromWords(long device, unsigned long first, const unsigned char* bytes,
                           unsigned long count) {
  for (unsigned long k = 0; k < (count + 1) / 2; ++k) {
    PhxResult result = SelectWord(device, first, k);
    if (result < 0) return result;
    // The high byte of an odd count's last word lies outside the image: write 0 there.
    const unsigned long high = 2 * k + 1 < count ? bytes[2 * k + 1] : 0;
    const unsigned long word = bytes[2 * k] | (high << 8);
    result = PhxDrvSendCommand(device, (word << 16) | kWriteWord);
    if (result < 0) return result;
  }
  return PHX_OK;
}

PhxResult ReadEepromWords(long device, unsigned long first, unsigned char* destination, unsigned long count) {
  for (unsigned long k = 0; k < count / 2; ++k) {
    PhxResult result = SelectWord(device, first, k);
    if (result < 0) return result;
    result = PhxDrvSendCommand(device, kReadWord);
    if (result < 0) return result;
    destination[2 * k] = static_cast<unsigned char>(result & 0xFF);
    destination[2 * k + 1] = static_cast<unsigned char>((result >> 8) & 0xFF);
  }
  return PHX_OK;
}

CommitOutcome CommitImage(EepromImage* image, long device, int verbose) {
  image->crc = EnvCrc32(image->data, static_cast<uint32_t>(image->size), 0, 0);
  unsigned char bytes[kEepromHeaderSize + kEepromDataLimit];
  const unsigned long count = SerializeImage(*image, bytes);
  ExitOnError(WriteEepromWords(device, 0, bytes, count));
  if (verbose) printf("Written %lu bytes into the EEPROM\n", image->size);

  // Filled only when the reads succeed, and ExitOnError ends the run when they do not; cleared
  // all the same, so that no path can compare bytes that were never read.
  unsigned char readSize[4] = {0, 0, 0, 0};
  unsigned char readCrc[4] = {0, 0, 0, 0};
  ExitOnError(ReadEepromWords(device, 0, readSize, 4));
  ExitOnError(ReadEepromWords(device, 2, readCrc, 4));
  if (Le32(readSize) == image->size && Le32(readCrc) == image->crc) {
    if (verbose) printf("Saved into the EEPROM: OK\n");
    return kCommitSaved;
  }
  // A header that reads back different is a failed write, whether or not -v was given.
  printf("*** ERROR: EEPROM Save: Failed to write the data, Verify Read failed\n");
  return kCommitVerifyFailed;
}
