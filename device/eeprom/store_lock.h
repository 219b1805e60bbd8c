// Two runs that change the store at the same time would each write their own copy of what they
// read, and one change would be lost. A run that writes holds an exclusive flock on the board
// driver's entry from reading the store until the write is verified.
#ifndef DEVICE_EEPROM_STORE_LOCK_H_
#define DEVICE_EEPROM_STORE_LOCK_H_

// Waits for the lock; gives its descriptor, or -1 after printing the reason.
int LockEepromStore();

void UnlockEepromStore(int lock);

#endif  // DEVICE_EEPROM_STORE_LOCK_H_
