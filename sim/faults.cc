#include "sim/faults.h"

#include <cstdlib>

namespace sim {

namespace {

enum class Kind { kFlag, kNumber, kSlotList };

struct Switch {
  const char* name;
  Kind kind;
  bool Faults::*flag;
  int Faults::*number;
  int min;
  int max;
  const char* help;
  unsigned Faults::*slots = nullptr;
};

const Switch kSwitches[] = {
    {"silent", Kind::kFlag, &Faults::silent, nullptr, 0, 0, "the board never says anything"},
    {"no-repeat", Kind::kFlag, &Faults::noAnnounceRepeat, nullptr, 0, 0,
     "\" BOOTME\", \"BOOTUBL\" and loady's C are sent only once"},
    {"bootme-for-begin", Kind::kFlag, &Faults::bootmeForBegin, nullptr, 0, 0,
     "the boot ROM answers \" BOOTME\" instead of \"  BEGIN\""},
    {"corrupt-table", Kind::kFlag, &Faults::corruptAfterTable, nullptr, 0, 0,
     "the boot ROM answers \"CORRUPT\" after the CRC table"},
    {"corrupt-image", Kind::kFlag, &Faults::corruptAfterImage, nullptr, 0, 0,
     "the boot ROM answers \"CORRUPT\" after the image"},
    {"fail-header", Kind::kFlag, &Faults::failHeader, nullptr, 0, 0,
     "the serial flasher answers \"   FAIL\" to an image header"},
    {"flasher-stall", Kind::kFlag, &Faults::flasherStall, nullptr, 0, 0,
     "once, the serial flasher stops halfway through U-Boot's image and waits for the rest"},
    {"ubl-bad", Kind::kFlag, &Faults::ublBad, nullptr, 0, 0, "the UBL reports \"Bad\" for U-Boot"},
    {"no-ethaddr", Kind::kFlag, &Faults::missingEthaddr, nullptr, 0, 0, "the environment lacks ethaddr"},
    {"no-serialno", Kind::kFlag, &Faults::missingSerialno, nullptr, 0, 0, "the environment lacks serialno"},
    {"lost-environment", Kind::kFlag, &Faults::lostEnvironment, nullptr, 0, 0,
     "U-Boot's saved environment fails its CRC at the first start; its defaults hold no identity"},
    {"protect-ethaddr", Kind::kFlag, &Faults::protectEthaddr, nullptr, 0, 0,
     "U-Boot refuses to change ethaddr once set (\"Can't overwrite \"ethaddr\"\")"},
    {"erase-fail", Kind::kFlag, &Faults::eraseFail, nullptr, 0, 0, "nand erase ends with \"ERROR\""},
    {"clones", Kind::kNumber, nullptr, &Faults::clonesWritten, 0, 10,
     "clones=N: only N of the ten kernel copies are written"},
    {"clone-fail", Kind::kFlag, &Faults::cloneFail, nullptr, 0, 0,
     "a nand write of the kernel copies fails (\"written: ERROR\")"},
    {"clone-error", Kind::kFlag, &Faults::cloneError, nullptr, 0, 0,
     "a nand write fails in the words of newer U-Boots (\"written: ERROR\")"},
    {"bad-slots", Kind::kSlotList, nullptr, nullptr, 1, kKernelSlotCount,
     "bad-slots=K,L,..: kernel slots K, L (1-10, as nand_kern_offs names them) go bad when written",
     &Faults::badKernelSlots},
    {"flaky-slots", Kind::kSlotList, nullptr, nullptr, 1, kKernelSlotCount,
     "flaky-slots=K,L,..: kernel slots K, L go bad at their first write after devsim starts; written "
     "again they hold",
     &Faults::flakyKernelSlots},
    {"nak-block", Kind::kNumber, nullptr, &Faults::nakBlock, 0, 1 << 20,
     "nak-block=N: loady answers NAK to data block N (0: the header block)"},
    {"no-ack-block", Kind::kNumber, nullptr, &Faults::noAckBlock, -2, 1 << 20,
     "no-ack-block=N: loady does not answer block N (-2: the EOT)"},
    {"c-for-ack", Kind::kFlag, &Faults::cForAck, nullptr, 0, 0,
     "loady answers the header block with C instead of ACK"},
    {"no-total-size", Kind::kFlag, &Faults::noTotalSize, nullptr, 0, 0, "loady prints no \"## Total Size\""},
    {"panic", Kind::kNumber, nullptr, &Faults::panicAtMilestone, 1, 18,
     "panic=K: \"kernel panic\" instead of boot milestone K (1-18)"},
    {"missing", Kind::kNumber, nullptr, &Faults::missingMilestone, 1, 18,
     "missing=K: boot milestone K is never printed"},
    {"wrong-password", Kind::kFlag, &Faults::wrongPassword, nullptr, 0, 0, "every password is refused"},
    {"no-password", Kind::kFlag, &Faults::noPassword, nullptr, 0, 0, "the login asks no password"},
    {"already-newest", Kind::kFlag, &Faults::alreadyNewest, nullptr, 0, 0,
     "apt-get finds linux-kernel-modules already the newest version"},
    {"no-extra", Kind::kFlag, &Faults::noExtraPackages, nullptr, 0, 0, "apt-get lists no extra packages"},
    {"download-fail", Kind::kFlag, &Faults::downloadFail, nullptr, 0, 0,
     "apt-get prints a \"Fail\" line while downloading"},
    {"drop-faster", Kind::kNumber, nullptr, &Faults::dropFasterThanMs, 1, 10000,
     "drop-faster=N: characters typed less than N ms apart at a console are lost"},
    {"lose-char", Kind::kNumber, nullptr, &Faults::loseCharacter, 1, 1 << 30,
     "lose-char=N: the N-th character typed at U-Boot's prompt is lost, as in a UART overrun"},
    {"double-char", Kind::kNumber, nullptr, &Faults::doubleCharacter, 1, 1 << 30,
     "double-char=N: the N-th character typed at U-Boot's prompt arrives twice"},
    {"change-char", Kind::kNumber, nullptr, &Faults::changeCharacter, 1, 1 << 30,
     "change-char=N: the N-th character typed at U-Boot's prompt arrives with its lowest bit flipped"},
    {"hang-at-char", Kind::kNumber, nullptr, &Faults::hangAtCharacter, 1, 1 << 30,
     "hang-at-char=N: U-Boot's console hangs at the N-th character typed at its prompt: it takes and "
     "echoes nothing more until the next reset"},
    {"tftp-no-server", Kind::kFlag, &Faults::tftpNoServer, nullptr, 0, 0,
     "no TFTP server answers: U-Boot's tftpboot times out and retries"},
    {"tftp-not-found", Kind::kFlag, &Faults::tftpNotFound, nullptr, 0, 0,
     "the TFTP server lacks the file U-Boot asks for (\"File not found\")"},
    {"tftp-other-file", Kind::kFlag, &Faults::tftpOtherFile, nullptr, 0, 0,
     "the TFTP server sends another kernel of the same size (another image name)"},
};

bool ParseInt(const std::string& text, int* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < -(1L << 30) || v > (1L << 30)) return false;
  *value = static_cast<int>(v);
  return true;
}

// "1,2,3" as bits 0, 1 and 2; every number within min and max, none twice.
bool ParseSlotList(const std::string& text, int min, int max, unsigned* slots) {
  unsigned bits = 0;
  size_t at = 0;
  for (;;) {
    const size_t comma = text.find(',', at);
    int slot = 0;
    if (!ParseInt(text.substr(at, comma - at), &slot) || slot < min || slot > max) return false;
    const unsigned bit = 1u << (slot - 1);
    if (bits & bit) return false;
    bits |= bit;
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  *slots = bits;
  return true;
}

}  // namespace

bool SetFault(Faults& faults, const std::string& setting) {
  size_t eq = setting.find('=');
  std::string name = setting.substr(0, eq);
  for (const Switch& s : kSwitches) {
    if (name != s.name) continue;
    if (s.kind == Kind::kFlag) {
      if (eq != std::string::npos) return false;
      faults.*s.flag = true;
      return true;
    }
    if (eq == std::string::npos) return false;
    if (s.kind == Kind::kSlotList)
      return ParseSlotList(setting.substr(eq + 1), s.min, s.max, &(faults.*s.slots));
    int value = 0;
    if (!ParseInt(setting.substr(eq + 1), &value)) return false;
    if (value < s.min || value > s.max) return false;
    faults.*s.number = value;
    return true;
  }
  return false;
}

std::vector<std::string> FaultNames() {
  std::vector<std::string> names;
  for (const Switch& s : kSwitches) {
    std::string name = s.name;
    if (s.kind == Kind::kNumber) name += "=N";
    if (s.kind == Kind::kSlotList) name += "=K,L,..";
    names.push_back(name + "  " + s.help);
  }
  return names;
}

}  // namespace sim
