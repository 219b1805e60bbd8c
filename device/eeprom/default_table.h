// The 37 entries that "wdef" writes as the new user layer, in store order.
#ifndef DEVICE_EEPROM_DEFAULT_TABLE_H_
#define DEVICE_EEPROM_DEFAULT_TABLE_H_

extern const char* const kDefaultTable[];
extern const unsigned int kDefaultTableCount;

#endif  // DEVICE_EEPROM_DEFAULT_TABLE_H_
