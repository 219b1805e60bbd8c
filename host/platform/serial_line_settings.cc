#include "host/platform/serial_line_settings.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool ParseNumber(const std::string& text, uint32_t* number) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  *number = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  return true;
}

bool ParseOnOff(const std::string& text, bool* on) {
  if (text == "on") {
    *on = true;
    return true;
  }
  if (text == "off") {
    *on = false;
    return true;
  }
  return false;
}

bool ApplyPair(const std::string& key, const std::string& value, LineSettings* settings) {
  uint32_t number = 0;
  bool on = false;
  if (key == "baud") {
    if (!ParseNumber(value, &number) || number == 0) return false;
    // The old two-digit mode abbreviations ("baud=96") are not worth keeping.
    settings->baud = number;
    return true;
  }
  if (key == "data") {
    if (!ParseNumber(value, &number) || number < 5 || number > 8) return false;
    settings->dataBits = static_cast<uint8_t>(number);
    return true;
  }
  if (key == "parity") {
    if (value.size() != 1 || std::string("noems").find(value[0]) == std::string::npos) return false;
    settings->parity = value[0];
    return true;
  }
  if (key == "stop") {
    if (value == "1") settings->stopBits = 1;
    else if (value == "2") settings->stopBits = 2;
    else if (value == "1.5") settings->stopBits = 15;
    else return false;
    return true;
  }
  if (key == "xon") {
    if (!ParseOnOff(value, &on)) return false;
    settings->xonXoff = on;
    return true;
  }
  if (key == "octs") {
    if (!ParseOnOff(value, &on)) return false;
    settings->rtsCts = on;
    return true;
  }
  if (key == "rts") {
    if (value == "hs") settings->rtsCts = true;
    else if (value == "on" || value == "off" || value == "tg") settings->rtsCts = false;
    else return false;
    return true;
  }
  // Modem-line keys that change nothing a three-wire cable carries.
  if (key == "to" || key == "odsr" || key == "idsr") return ParseOnOff(value, &on);
  if (key == "dtr") return value == "on" || value == "off" || value == "hs";
  return false;
}

}  // namespace

bool ParseLineSettings(const char* text, LineSettings* settings) {
  if (!text || !settings) return false;
  LineSettings result = *settings;
  const std::string all = Lower(text);
  size_t pos = 0;
  bool any = false;
  while (pos < all.size()) {
    while (pos < all.size() && std::isspace(static_cast<unsigned char>(all[pos]))) ++pos;
    if (pos >= all.size()) break;
    size_t end = pos;
    while (end < all.size() && !std::isspace(static_cast<unsigned char>(all[end]))) ++end;
    const std::string word = all.substr(pos, end - pos);
    pos = end;
    const size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    if (!ApplyPair(word.substr(0, equals), word.substr(equals + 1), &result)) return false;
    any = true;
  }
  if (!any) return false;
  *settings = result;
  return true;
}
