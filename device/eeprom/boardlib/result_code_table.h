// The result code string lookup table: one row per (facility, location), sorted by key in strictly
// ascending order so that ResultCode2Str can bisect it.
#ifndef DEVICE_EEPROM_BOARDLIB_RESULT_CODE_TABLE_H_
#define DEVICE_EEPROM_BOARDLIB_RESULT_CODE_TABLE_H_

struct ResultCodeRow {
  unsigned int key;  // facility << 23 | location << 8; failure bit and generic code zero
  unsigned int facility;
  unsigned int location;
  const char* text;
};

extern const ResultCodeRow kResultCodeTable[];
extern const unsigned int kResultCodeCount;

#endif  // DEVICE_EEPROM_BOARDLIB_RESULT_CODE_TABLE_H_
