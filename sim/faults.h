// Fault switches of the simulated board: each one a failure path the host must survive.
// devsim and the demo take them as --fault NAME or --fault NAME=VALUE (see FaultNames()).
#pragma once

#include <string>
#include <vector>

namespace sim {

struct Faults {
  // Line and boot ROM
  bool silent = false;              // "silent": the board never says anything
  bool noAnnounceRepeat = false;    // "no-repeat": " BOOTME", "BOOTUBL" and loady's C only once
  bool bootmeForBegin = false;      // "bootme-for-begin": " BOOTME" instead of "  BEGIN"
  bool corruptAfterTable = false;   // "corrupt-table": "CORRUPT" after the CRC table
  bool corruptAfterImage = false;   // "corrupt-image": "CORRUPT" after the image
  // Serial flasher
  bool failHeader = false;          // "fail-header": "   FAIL" on an image header
  bool flasherStall = false;        // "flasher-stall": once, stops halfway through U-Boot's image
  // UBL and U-Boot
  bool ublBad = false;              // "ubl-bad": the UBL reports "Bad" for U-Boot
  bool missingEthaddr = false;      // "no-ethaddr": the environment lacks ethaddr
  bool missingSerialno = false;     // "no-serialno": the environment lacks serialno
  bool lostEnvironment = false;     // "lost-environment": the saved environment fails its CRC once
  bool protectEthaddr = false;      // "protect-ethaddr": setenv refuses to change a set ethaddr
  bool eraseFail = false;           // "erase-fail": "ERROR" on nand erase
  int clonesWritten = 10;           // "clones=N": only N of the ten kernel copies are written
  bool cloneFail = false;           // "clone-fail": a copy's write fails ("written: ERROR")
  bool cloneError = false;          // "clone-error": the copies' writes end "written: ERROR"
  unsigned badKernelSlots = 0;      // "bad-slots=1,2,3": slots 1 to 3 (bits 0 to 2) go bad when written
  unsigned flakyKernelSlots = 0;    // "flaky-slots=1,2": ... go bad at their first write only
  // YModem receiver
  int nakBlock = -1;                // "nak-block=N": NAK data block N (0: the header block)
  int noAckBlock = -1;              // "no-ack-block=N": no answer to block N (-2: the EOT)
  bool cForAck = false;             // "c-for-ack": a C where an ACK is due (header block)
  bool noTotalSize = false;         // "no-total-size": no "## Total Size" line
  // Linux
  int panicAtMilestone = 0;         // "panic=K": "kernel panic" instead of milestone K (1-18)
  int missingMilestone = 0;         // "missing=K": milestone K is never printed
  bool wrongPassword = false;       // "wrong-password": every password is refused
  bool noPassword = false;          // "no-password": the login asks no password
  bool alreadyNewest = false;       // "already-newest": the package is up to date
  bool noExtraPackages = false;     // "no-extra": no "The following extra packages" line
  bool downloadFail = false;        // "download-fail": a "Fail" line while downloading
  // Typing
  int dropFasterThanMs = 0;         // "drop-faster=MS": characters typed faster than MS apart are lost
  int loseCharacter = 0;            // "lose-char=N": the N-th character typed at U-Boot's prompt is lost
  int doubleCharacter = 0;          // "double-char=N": ... arrives twice
  int changeCharacter = 0;          // "change-char=N": ... arrives with one bit flipped
  int hangAtCharacter = 0;          // "hang-at-char=N": from the N-th on, U-Boot takes and echoes nothing
  // Network and the station's TFTP server
  bool tftpNoServer = false;        // "tftp-no-server": nothing answers the board's datagrams
  bool tftpNotFound = false;        // "tftp-not-found": the server lacks the file asked for
  bool tftpOtherFile = false;       // "tftp-other-file": another kernel of the same size is served
};

// The number of kernel slots that nand_kern_offs names, counted from 1 in bad-slots.
constexpr int kKernelSlotCount = 10;

// Sets a switch by its name ("nak-block=3", "silent", "bad-slots=1,2,3"); false for an unknown
// name or a bad value.
bool SetFault(Faults& faults, const std::string& setting);

// The switch names with a line of explanation each, for --help and the docs.
std::vector<std::string> FaultNames();

}  // namespace sim
