#include "sim/state_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "sim/firmware_io.h"

namespace sim {

namespace {

// Records: a four-letter tag, a little-endian length, that many bytes.
const char kSignature[] = "BRENLO-SIM-STATE 1\n";

void Put32(std::string* out, uint32_t v) {
  uint8_t b[4];
  PutLe32(b, v);
  out->append(reinterpret_cast<const char*>(b), 4);
}

void PutRecord(std::string* out, const char* tag, const std::string& payload) {
  out->append(tag, 4);
  Put32(out, static_cast<uint32_t>(payload.size()));
  *out += payload;
}

// A record of bytes at an address, written to the file as they stand: NAND and RAM are most of the
// state (tens of MiB once a kernel is in its slots).
void WriteAddressed(std::ostream& file, const char* tag, uint32_t address, const std::vector<uint8_t>& bytes) {
  std::string head(tag, 4);
  Put32(&head, static_cast<uint32_t>(4 + bytes.size()));
  Put32(&head, address);
  file.write(head.data(), static_cast<std::streamsize>(head.size()));
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool ReadBytes(std::istream& file, void* into, size_t count) {
  return static_cast<bool>(file.read(static_cast<char*>(into), static_cast<std::streamsize>(count)));
}

}  // namespace

bool SaveBoardState(const BoardState& board, const std::string& path, std::string* error) {
  std::string out;
  std::string value;
  Put32(&value, board.lastLoadSize);
  PutRecord(&out, "LOAD", value);
  value.clear();
  Put32(&value, board.resets);
  PutRecord(&out, "RSET", value);
  value.clear();
  Put32(&value, static_cast<uint32_t>(board.repeatedCommands));
  PutRecord(&out, "REPT", value);
  value.clear();
  Put32(&value, static_cast<uint32_t>(board.lostCharacters));
  PutRecord(&out, "LOST", value);
  for (const auto& run : board.scriptRuns) {
    std::string payload;
    Put32(&payload, static_cast<uint32_t>(run.second));
    PutRecord(&out, "RUNS", payload + run.first);
  }
  PutRecord(&out, "MMCP", board.mmc.present ? "1" : "0");
  for (const auto& file : board.mmc.files) {
    std::string payload;
    Put32(&payload, static_cast<uint32_t>(file.first.size()));
    payload += file.first;
    payload.append(file.second.begin(), file.second.end());
    PutRecord(&out, "MMCF", payload);
  }
  // Written next to the target and renamed over it, so that a crash never leaves half a file.
  std::string temp = path + ".tmp";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file.write(kSignature, static_cast<std::streamsize>(std::strlen(kSignature)));
    for (const auto& block : board.nand.Blocks()) WriteAddressed(file, "NAND", block.first, block.second);
    for (const auto& region : board.ram) WriteAddressed(file, "RAM ", region.first, region.second);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    if (!file.flush()) {
      *error = "Error: cannot write state file " + temp + ": " + std::strerror(errno);
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "Error: cannot write state file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool LoadBoardState(BoardState* board, const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  const std::string unreadable = "Error: cannot read state file " + path;
  const std::string badBlock = "Error: state file " + path + " holds a bad NAND block";
  if (!file) {
    *error = unreadable + ": " + std::strerror(errno);
    return false;
  }
  // Read a record at a time, NAND and RAM straight into their place.
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  file.seekg(0, std::ios::beg);
  if (size < 0 || !file) {
    *error = unreadable;
    return false;
  }
  const size_t signature = std::strlen(kSignature);
  std::string head(signature, '\0');
  if (static_cast<uint64_t>(size) < signature || !ReadBytes(file, &head[0], signature) || head != kSignature) {
    *error = "Error: " + path + " is not a devsim state file";
    return false;
  }
  BoardState loaded;
  loaded.faults = board->faults;
  loaded.login = board->login;
  loaded.ethernet = board->ethernet;
  loaded.mmc.files.clear();
  uint64_t left = static_cast<uint64_t>(size) - signature;
  std::vector<uint8_t> block(kNandEraseBlock);
  std::string payload;
  while (left >= 8) {
    uint8_t header[8];
    if (!ReadBytes(file, header, 8)) {
      *error = unreadable;
      return false;
    }
    const std::string tag(reinterpret_cast<const char*>(header), 4);
    const uint32_t length = GetLe32(header + 4);
    left -= 8;
    if (length > left) {
      *error = "Error: state file " + path + " is cut short";
      return false;
    }
    left -= length;
    if ((tag == "NAND" || tag == "RAM ") && length >= 4) {
      uint8_t address[4];
      bool read = ReadBytes(file, address, 4);
      if (tag == "NAND") {
        const uint32_t offset = GetLe32(address);
        if (length - 4 != kNandEraseBlock || offset % kNandEraseBlock != 0) {
          *error = badBlock;
          return false;
        }
        read = read && ReadBytes(file, block.data(), kNandEraseBlock);
        if (read && !loaded.nand.Program(offset, block.data(), kNandEraseBlock)) {
          *error = badBlock;
          return false;
        }
      } else {
        std::vector<uint8_t>& chunk = loaded.ram[GetLe32(address)];
        chunk.resize(length - 4);
        read = read && ReadBytes(file, chunk.data(), chunk.size());
      }
      if (!read) {
        *error = unreadable;
        return false;
      }
      continue;
    }
    payload.resize(length);
    if (!ReadBytes(file, &payload[0], length)) {
      *error = unreadable;
      return false;
    }
    const uint8_t* p = reinterpret_cast<const uint8_t*>(payload.data());
    if (tag == "LOAD" && length == 4) {
      loaded.lastLoadSize = GetLe32(p);
    } else if (tag == "RSET" && length == 4) {
      loaded.resets = GetLe32(p);
    } else if (tag == "REPT" && length == 4) {
      loaded.repeatedCommands = GetLe32(p);
    } else if (tag == "LOST" && length == 4) {
      loaded.lostCharacters = GetLe32(p);
    } else if (tag == "RUNS" && length >= 4) {
      loaded.scriptRuns[std::string(reinterpret_cast<const char*>(p + 4), length - 4)] = GetLe32(p);
    } else if (tag == "MMCP" && length == 1) {
      loaded.mmc.present = p[0] == '1';
    } else if (tag == "MMCF" && length >= 4 && GetLe32(p) <= length - 4) {
      uint32_t nameLength = GetLe32(p);
      loaded.mmc.files[std::string(reinterpret_cast<const char*>(p + 4), nameLength)] =
          std::vector<uint8_t>(p + 4 + nameLength, p + length);
    }
  }
  *board = std::move(loaded);
  return true;
}

}  // namespace sim
