#include "ledger/identity_values.h"

#include <cstdio>
#include <iostream>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<uint64_t> ParseDecimal(const std::string& text) {
  // 18 digits always fit in 64 bits.
  if (text.empty() || text.size() > 18) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

bool Refuse(const std::string& words) {
  std::cerr << "Error: " << words << std::endl;
  return false;
}

bool RangeSizeFits(uint64_t first, uint64_t last) {
  if (last < first) return Refuse("the range ends before it begins.");
  if (last - first >= kMaxRangeSize) {
    return Refuse("a range holds at most " + std::to_string(kMaxRangeSize) +
                  " values; add a larger block in parts.");
  }
  return true;
}

}  // namespace

std::optional<uint64_t> ParseMacAddress(const std::string& text) {
  if (text.size() != 17) return std::nullopt;
  uint64_t value = 0;
  for (size_t pair = 0; pair < 6; ++pair) {
    const size_t at = pair * 3;
    const int high = HexDigit(text[at]);
    const int low = HexDigit(text[at + 1]);
    if (high < 0 || low < 0 || (pair < 5 && text[at + 2] != ':')) return std::nullopt;
    value = (value << 8) | static_cast<uint64_t>(high * 16 + low);
  }
  return value;
}

std::string MacAddressText(uint64_t value) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", static_cast<unsigned>(value >> 40 & 0xFF),
                static_cast<unsigned>(value >> 32 & 0xFF), static_cast<unsigned>(value >> 24 & 0xFF),
                static_cast<unsigned>(value >> 16 & 0xFF), static_cast<unsigned>(value >> 8 & 0xFF),
                static_cast<unsigned>(value & 0xFF));
  return text;
}

std::string NormalizedIdentityValue(const std::string& text) {
  const auto mac = ParseMacAddress(text);
  return mac ? MacAddressText(*mac) : text;
}

bool IsSerialNumber(const std::string& text) {
  if (text.empty() || text.size() > 32) return false;
  for (char c : text) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                         c == '.' || c == '_' || c == ':' || c == '/' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

std::optional<MacRange> ParseMacRange(const std::string& firstText, const std::string& lastText) {
  const auto first = ParseMacAddress(firstText);
  const auto last = ParseMacAddress(lastText);
  for (const auto& [value, text] : {std::pair{first, firstText}, std::pair{last, lastText}}) {
    if (!value) {
      Refuse("'" + text + "' is no MAC address: give six pairs of hex digits separated by ':'.");
      return std::nullopt;
    }
  }
  if (!RangeSizeFits(*first, *last)) return std::nullopt;
  const MacRange range{*first, *last};
  if (const auto problem = MacRangeProblem(range)) {
    Refuse(*problem);
    return std::nullopt;
  }
  return range;
}

std::optional<std::string> MacRangeProblem(const MacRange& range) {
  // The address every board carries until it is given its own (BrenloFix's --factory-identity).
  constexpr uint64_t kPlaceholder = 0x021B4D000000;
  // A board's own address is a unicast one: the lowest bit of the first byte is clear (the
  // broadcast address FF:FF:FF:FF:FF:FF is a multicast one too).
  if ((range.first >> 40 & 1) != 0 || (range.last >> 40 & 1) != 0) {
    return "the range holds multicast addresses (first byte odd), which no board may carry.";
  }
  // The first three bytes name the block the addresses were given out in; its last three are
  // numbered within it.
  if ((range.first >> 24) != (range.last >> 24)) {
    return "the range crosses the end of the block " + MacAddressText(range.first & ~uint64_t{0xFFFFFF}).substr(0, 8) +
           ": the last three bytes would wrap from FF:FF:FF; add the addresses of each block apart.";
  }
  if (range.first == 0) return "the range holds 00:00:00:00:00:00, which is no board's address.";
  if (range.first <= kPlaceholder && kPlaceholder <= range.last) {
    return "the range holds 02:1B:4D:00:00:00, the placeholder a board carries until it is given its own; "
           "begin the range after it.";
  }
  return std::nullopt;
}

std::string SerialRange::Text(uint64_t number) const {
  std::string digits = std::to_string(number);
  if (digits.size() < static_cast<size_t>(width))
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return prefix + digits;
}

std::optional<SerialRange> ParseSerialRange(const std::string& prefix, const std::string& firstText,
                                            const std::string& lastText) {
  const auto first = ParseDecimal(firstText);
  const auto last = ParseDecimal(lastText);
  if (!first || !last || firstText.size() != lastText.size()) {
    Refuse(
        "FIRST and LAST are numbers of up to 18 digits, written with as many digits each (000001 009999).");
    return std::nullopt;
  }
  if (!RangeSizeFits(*first, *last)) return std::nullopt;
  SerialRange range{prefix, *first, *last, static_cast<int>(firstText.size())};
  // FIRST and LAST have one width, so LAST is the longest serial number of the range.
  if ((!prefix.empty() && !IsSerialNumber(prefix)) || !IsSerialNumber(range.Text(*last))) {
    Refuse("a serial number is 1 to 32 characters of A-Z a-z 0-9 . _ : / -; '" + range.Text(*last) +
           "' is not.");
    return std::nullopt;
  }
  return range;
}
