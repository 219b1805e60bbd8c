// The two values a board's identity is made of, as the ledger's pools hold them: MAC addresses
// (six pairs of hex digits, kept in upper case, ordered by their 48-bit value) and serial numbers
// (a prefix and a zero-padded number, "QV4N1501" "000001").
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The most values one add-macs or add-serials puts into a pool: a typing slip in a range
// (02:1B:4D:00:00:00 to 02:FF:...) must not fill the disk.
constexpr uint64_t kMaxRangeSize = 1000000;

// "02:1b:4d:00:00:0a" -> 0x021B4D00000A; nothing unless exactly six pairs separated by colons.
std::optional<uint64_t> ParseMacAddress(const std::string& text);
// 0x021B4D00000A -> "02:1B:4D:00:00:0A".
std::string MacAddressText(uint64_t value);
// The MAC address in upper case, or the text unchanged when it is none.
std::string NormalizedIdentityValue(const std::string& text);

// What U-Boot keeps as typed: 1 to 32 characters of A-Z a-z 0-9 . _ : / -.
bool IsSerialNumber(const std::string& text);

// A range of MAC addresses for a pool; empty after a printed error line (standard error).
struct MacRange {
  uint64_t first = 0;
  uint64_t last = 0;
};
// Why no board may be given the range's addresses, or empty: it holds multicast addresses (the
// broadcast one among them), 00:00:00:00:00:00 or the factory's placeholder 02:1B:4D:00:00:00, or
// it crosses the end of its 24-bit block (the last three bytes would wrap into the next one).
std::optional<std::string> MacRangeProblem(const MacRange& range);
std::optional<MacRange> ParseMacRange(const std::string& first, const std::string& last);

// A range of serial numbers: PREFIX followed by the numbers FIRST to LAST, zero-padded to the
// width FIRST is written in.
struct SerialRange {
  std::string prefix;
  uint64_t first = 0;
  uint64_t last = 0;
  int width = 0;
  std::string Text(uint64_t number) const;
};
std::optional<SerialRange> ParseSerialRange(const std::string& prefix, const std::string& first,
                                            const std::string& last);
