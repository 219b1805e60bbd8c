// U-Boot's environment: name=value pairs in the order U-Boot keeps them (a changed variable
// moves to the end), stored in NAND as CRC-32 (little-endian) + NUL-separated entries + an
// empty entry, kUbootEnvSize bytes in all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/faults.h"

namespace sim {

// What the board was given at the factory; kept in U-Boot's built-in default environment.
constexpr const char* kFactoryEthaddr = "00:0E:99:02:5A:17";
constexpr const char* kFactorySerialno = "QV4N150107A23";

class Environment {
 public:
  using Entry = std::pair<std::string, std::string>;

  std::optional<std::string> Get(const std::string& name) const;
  // False (and nothing changed) when the entries would no longer fit the NAND block.
  bool Set(const std::string& name, const std::string& value);
  void Unset(const std::string& name);
  const std::vector<Entry>& Entries() const { return entries_; }
  // Bytes the entries take in the block (each "name=value" and its NUL).
  size_t UsedBytes() const;

  // The kUbootEnvSize-byte block with its CRC, unused bytes zero.
  std::vector<uint8_t> ToBlock() const;
  // The environment of a block whose CRC holds; nothing otherwise.
  static std::optional<Environment> FromBlock(const std::vector<uint8_t>& block);

 private:
  std::vector<Entry> entries_;
};

// Room for entries: the block less its CRC and the closing empty entry.
constexpr size_t kEnvDataSize = 0x4000 - 4;

// The built-in environment U-Boot falls back on when NAND holds no valid block. The factory
// identity is left out when the faults say so.
Environment DefaultEnvironment(const Faults& faults);

}  // namespace sim
