// Fields of the driver request records, encoded byte by byte (little-endian) so that the code
// needs no aligned access and does not depend on the host's byte order.
#ifndef DEVICE_EEPROM_BOARDLIB_RECORD_FIELDS_H_
#define DEVICE_EEPROM_BOARDLIB_RECORD_FIELDS_H_

inline void PutLe16(unsigned char* at, unsigned int value) {
  at[0] = static_cast<unsigned char>(value & 0xFF);
  at[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

inline void PutLe32(unsigned char* at, unsigned long value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
}

inline unsigned long GetLe32(const unsigned char* at) {
  return static_cast<unsigned long>(at[0]) | (static_cast<unsigned long>(at[1]) << 8) |
         (static_cast<unsigned long>(at[2]) << 16) | (static_cast<unsigned long>(at[3]) << 24);
}

// A user-space address as a record field: one 32-bit word on the board; a 64-bit host build of
// the library (tests only) carries the whole pointer.
const unsigned int kAddressFieldSize = sizeof(void*);

inline void PutAddress(unsigned char* at, const void* pointer) {
  unsigned long value = reinterpret_cast<unsigned long>(pointer);
  for (unsigned int i = 0; i < kAddressFieldSize; ++i) {
    at[i] = static_cast<unsigned char>(value & 0xFF);
    value >>= 4;
    value >>= 4;  // two steps: a single shift by the full width of a 32-bit long is undefined
  }
}

#endif  // DEVICE_EEPROM_BOARDLIB_RECORD_FIELDS_H_
