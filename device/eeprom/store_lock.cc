#include "device/eeprom/store_lock.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>

#include "device/eeprom/boardlib/osa_calls.h"
#include "device/eeprom/boardlib/phx_driver.h"

int LockEepromStore() {
  // A descriptor of our own: the lock then belongs to this run alone and ends with it.
  const int lock = OpenOsaDriver("PHXDRV");
  if (lock == -1) {
    fprintf(stderr, "Error: cannot lock the EEPROM store: %s\n", strerror(errno));
    return -1;
  }
  int result;
  do {
    result = flock(lock, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    fprintf(stderr, "Error: cannot lock the EEPROM store: %s\n", strerror(errno));
    CurrentOsaCalls().closeEntry(lock);
    return -1;
  }
  return lock;
}

void UnlockEepromStore(int lock) {
  if (lock != -1) CurrentOsaCalls().closeEntry(lock);  // closing the descriptor releases the lock
}
