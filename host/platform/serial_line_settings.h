// The Windows mode string that RS232 hands its line ("baud=115200 data=8 parity=n stop=1 xon=off"),
// parsed once for the backends that cannot call BuildCommDCBA themselves (POSIX, RFC 2217).
#pragma once

#include <cstdint>

struct LineSettings {
  uint32_t baud = 115200;
  uint8_t dataBits = 8;
  char parity = 'n';       // n, o, e, m, s
  uint8_t stopBits = 1;    // 1 or 2; 15 stands for one and a half
  bool xonXoff = false;
  bool rtsCts = false;     // "octs=on" or "rts=hs"
};

// Fills *settings from a mode string, keeping the defaults for keys it does not name. False when a
// key or a value is not one BuildCommDCBA would take (the caller reports bad parameters).
bool ParseLineSettings(const char* text, LineSettings* settings);
