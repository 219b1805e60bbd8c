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

// A record of bytes at an address, appended without a copy of its own: NAND and RAM are most of
// the file (tens of MiB once a kernel is in its slots).
void PutAddressed(std::string* out, const char* tag, uint32_t address, const std::vector<uint8_t>& bytes) {
  out->append(tag, 4);
  Put32(out, static_cast<uint32_t>(4 + bytes.size()));
  Put32(out, address);
  out->append(bytes.begin(), bytes.end());
}

}  // namespace

bool SaveBoardState(const BoardState& board, const std::string& path, std::string* error) {
  std::string out = kSignature;
  size_t bulk = 0;
  for (const auto& block : board.nand.Blocks()) bulk += 12 + block.second.size();
  for (const auto& region : board.ram) bulk += 12 + region.second.size();
  out.reserve(bulk + 4096);
  for (const auto& block : board.nand.Blocks()) PutAddressed(&out, "NAND", block.first, block.second);
  for (const auto& region : board.ram) PutAddressed(&out, "RAM ", region.first, region.second);
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
  if (!file) {
    *error = "Error: cannot read state file " + path + ": " + std::strerror(errno);
    return false;
  }
  // Read whole at once: a byte at a time took most of a load's time.
  std::string in;
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  file.seekg(0, std::ios::beg);
  if (size < 0 || !file) {
    *error = "Error: cannot read state file " + path + ": " + std::strerror(errno);
    return false;
  }
  in.resize(static_cast<size_t>(size));
  if (!file.read(&in[0], size)) {
    *error = "Error: cannot read state file " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t signature = std::strlen(kSignature);
  if (in.compare(0, signature, kSignature) != 0) {
    *error = "Error: " + path + " is not a devsim state file";
    return false;
  }
  BoardState loaded;
  loaded.faults = board->faults;
  loaded.login = board->login;
  loaded.ethernet = board->ethernet;
  loaded.mmc.files.clear();
  size_t at = signature;
  while (at < in.size()) {
    if (in.size() - at < 8) break;
    std::string tag = in.substr(at, 4);
    uint32_t length = GetLe32(reinterpret_cast<const uint8_t*>(&in[at + 4]));
    at += 8;
    if (length > in.size() - at) {
      *error = "Error: state file " + path + " is cut short";
      return false;
    }
    const uint8_t* p = reinterpret_cast<const uint8_t*>(in.data() + at);
    if ((tag == "NAND" || tag == "RAM ") && length >= 4) {
      if (tag == "NAND") {
        uint32_t offset = GetLe32(p);
        if (offset % kNandEraseBlock != 0 || length - 4 != kNandEraseBlock ||
            !loaded.nand.Program(offset, p + 4, kNandEraseBlock)) {
          *error = "Error: state file " + path + " holds a bad NAND block";
          return false;
        }
      } else {
        loaded.ram[GetLe32(p)].assign(p + 4, p + length);
      }
    } else if (tag == "LOAD" && length == 4) {
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
    at += length;
  }
  *board = std::move(loaded);
  return true;
}

}  // namespace sim
