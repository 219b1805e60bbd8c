// Writing and reading the EEPROM user area word by word through the board library. Word k of the
// image (image bytes 2k and 2k + 1, low byte first) sits at word address 0x2000 + k.
#ifndef DEVICE_EEPROM_EEPROM_WORDS_H_
#define DEVICE_EEPROM_EEPROM_WORDS_H_

#include "device/eeprom/boardlib/phx_result.h"
#include "device/eeprom/eeprom_image.h"

const unsigned long kUserAreaWordAddress = 0x2000;
const unsigned long kSelectWord = 0x0FFD;  // operand: word address
const unsigned long kWriteWord = 0x0FFF;   // operand: the word
const unsigned long kReadWord = 0x0FFE;    // result: the word

// Two requests a word (select, write), from word `first` on. An odd count writes a last word whose
// high byte is 0. Gives the result of the first failing request, or 0.
PhxResult WriteEepromWords(long device, unsigned long first, const unsigned char* bytes, unsigned long count);

// count / 2 words from word `first` on into destination, low byte first. Gives the result of the
// first failing request, or 0.
PhxResult ReadEepromWords(long device, unsigned long first, unsigned char* destination, unsigned long count);

enum CommitOutcome { kCommitSaved = 0, kCommitVerifyFailed = 1 };

// Sets the CRC, writes header and data, reads the header back. A failing word access ends the run
// through ExitOnError; a header that reads back different is reported and given as
// kCommitVerifyFailed.
CommitOutcome CommitImage(EepromImage* image, long device, int verbose);

#endif  // DEVICE_EEPROM_EEPROM_WORDS_H_
