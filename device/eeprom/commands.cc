#include "device/eeprom/commands.h"

#include <stdio.h>
#include <string.h>

#include "device/eeprom/eeprom_image.h"
#include "device/eeprom/eeprom_words.h"
#include "device/eeprom/error_report.h"
#include "device/eeprom/store_lock.h"

namespace {

// The run's one variable image.
EepromImage image;

void PrintEntries() {
  for (unsigned long p = 0; HasEntryAt(image, p); p = NextEntry(image, p)) printf("%s\n", EntryText(image, p));
}

// Prints the value of the first entry with that name; false when there is none.
bool PrintValueOf(const char* name) {
  char entryName[kNameFieldSize];
  char entryValue[kValueFieldSize];
  for (unsigned long p = 0; HasEntryAt(image, p); p = NextEntry(image, p)) {
    SplitEntry(EntryText(image, p), entryName, entryValue);
    if (strcmp(entryName, name) == 0) {
      printf("%s\n", entryValue);
      return true;
    }
  }
  return false;
}

}  // namespace

int EepromCmdGet(const ToolOptions& options, const char* name) {
  // The user layer is read at every level, so a damaged one stops even a defaults lookup.
  ExitOnError(ReadImage(kUserLayerPath, options.verbose, &image));
  const bool named = name[0] != '\0';
  if (options.level == 0 || options.level == 1) {
    if (!named) {
      PrintEntries();
    } else if (PrintValueOf(name)) {
      return 0;
    }
  }
  if ((options.level == 0 && named) || options.level == 2) {
    ExitOnError(ReadImage(kDefaultsLayerPath, options.verbose, &image));
    if (!named) {
      PrintEntries();
      return 1;
    }
    if (PrintValueOf(name)) return 0;
  }
  return 1;
}

int EepromCmdList(const ToolOptions& options) {
  ExitOnError(ReadImage(kUserLayerPath, options.verbose, &image));
  char entryName[kNameFieldSize];
  char entryValue[kValueFieldSize];
  for (unsigned long p = 0; HasEntryAt(image, p); p = NextEntry(image, p)) {
    SplitEntry(EntryText(image, p), entryName, entryValue);
    printf("%s\n", entryName);
  }
  return 0;
}

int EepromCmdSet(const ToolOptions& options, long eepromDevice, const char* name, const char* value) {
  const int lock = LockEepromStore();
  if (lock == -1) return 1;
  ExitOnError(ReadImage(kUserLayerPath, options.verbose, &image));
  int status = 0;
  switch (UpdateImage(&image, name, value)) {
    case kImageUnchanged:  // deleting a variable that is not there
      break;
    case kImageTooLarge:
      fprintf(stderr, "Error: cannot set %s: the variables would take more than %lu bytes\n", name,
              kEepromDataLimit);
      status = 1;
      break;
    case kImageChanged:
      status = CommitImage(&image, eepromDevice, options.verbose) == kCommitSaved ? 0 : 1;
      break;
  }
  UnlockEepromStore(lock);
  return status;
}

int EepromCmdWriteDefaults(const ToolOptions& options, long eepromDevice) {
  const int lock = LockEepromStore();
  if (lock == -1) return 1;
  BuildDefaultImage(&image);
  const int status = CommitImage(&image, eepromDevice, options.verbose) == kCommitSaved ? 0 : 1;
  UnlockEepromStore(lock);
  return status;
}
