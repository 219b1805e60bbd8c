#include "device/nand/env_block.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>

#include "device/common/env_crc32.h"
#include "device/nand/flash.h"

namespace {

size_t EntryLength(const EnvVar* record) {
  return strlen(record->name) + 1 + (record->value != 0 ? strlen(record->value) : 0);
}

// Reads exactly size bytes from the start of the open file.
bool ReadWhole(BlockIo* block, int fd, unsigned char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    long count = block->Read(fd, data + done, size - done);
    if (count <= 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

}  // namespace

EnvParseResult EnvParse(const unsigned char* block, size_t size, EnvVar* head) {
  if (size < kEnvHeaderSize) return kEnvParsed;
  const char* data = reinterpret_cast<const char*>(block + kEnvHeaderSize);
  const size_t length = size - kEnvHeaderSize;
  EnvVar* last = 0;
  size_t start = 0;       // first byte of the current entry
  size_t separator = 0;   // its first '=' that is not the entry's first byte
  size_t nameLength = 0;  // 0 while no such '=' was found
  for (size_t p = 0; p < length; ++p) {
    const char c = data[p];
    if (c == '=' && nameLength == 0) {
      if (p != start) {
        separator = p;
        nameLength = p - start;
      }
    } else if (c == '\0') {
      if (p == start) break;  // the empty entry ends the list
      if (nameLength > 0) {
        if (nameLength > kEnvNameLimit) return kEnvNameTooLong;
        EnvVar* record = last == 0 ? head : EnvVarNew();
        if (record == 0) return kEnvParseOutOfMemory;
        if (last != 0) EnvVarAppend(last, record);
        if (!EnvVarAssignBytes(record, data + start, nameLength, data + separator + 1, p - separator - 1)) {
          return kEnvParseOutOfMemory;
        }
        last = record;
      }
      start = p + 1;
      nameLength = 0;
    }
  }
  return kEnvParsed;
}

size_t EnvBytesNeeded(const EnvVar* first) {
  size_t needed = kEnvHeaderSize + 1;
  for (const EnvVar* record = first; record != 0 && record->name != 0; record = record->next) {
    needed += EntryLength(record) + 1;
  }
  return needed;
}

EnvFormatResult EnvFormat(const EnvVar* first, unsigned char* block, size_t size, const EnvVar** tooLong) {
  if (first == 0 || first->name == 0 || first->value == 0) return kEnvNothingToStore;
  memset(block, 0, size);
  size_t cursor = kEnvHeaderSize;
  for (const EnvVar* record = first; record != 0 && record->name != 0; record = record->next) {
    const size_t entryLength = EntryLength(record);
    if (entryLength > kEnvEntryLimit) {
      if (tooLong != 0) *tooLong = record;
      return kEnvEntryTooLong;
    }
    // At least one zero byte must follow the last entry: it ends the list.
    const size_t n = entryLength + 1;
    if (cursor + n >= size) return kEnvDoesNotFit;
    const size_t nameLength = strlen(record->name);
    memcpy(block + cursor, record->name, nameLength);
    block[cursor + nameLength] = '=';
    if (record->value != 0)
      memcpy(block + cursor + nameLength + 1, record->value, entryLength - nameLength - 1);
    cursor += n;
  }
  const uint32_t crc = EnvCrc32(block + kEnvHeaderSize, static_cast<uint32_t>(size - kEnvHeaderSize), 0, 0);
  for (size_t i = 0; i < kEnvHeaderSize; ++i) block[i] = static_cast<unsigned char>(crc >> (8 * i));
  return kEnvFormatted;
}

void PrintEntryTooLong(FILE* err, const char* name) {
  const size_t shown = 40;
  fprintf(err,
          "Error: cannot store \"%.40s%s\": a variable (name, '=' and value) holds at most %u characters\n",
          name, strlen(name) > shown ? "..." : "", static_cast<unsigned>(kEnvEntryLimit));
}

bool EnvLoad(const ToolIo& io, EnvVar* head, const char* path) {
  if (head->name != 0 || head->value != 0 || head->next != 0) return false;
  uint32_t size = MtdSize(io, path);
  int fd = io.block->Open(path, O_RDONLY, 0);
  if (fd < 0) return false;
  if (size == 0) {
    long length = io.block->Length(fd);
    if (length < 0 || static_cast<unsigned long>(length) > 0xFFFFFFFFUL) {
      io.block->Close(fd);
      return false;
    }
    size = static_cast<uint32_t>(length);
  }
  unsigned char* block = static_cast<unsigned char*>(calloc(size > 0 ? size : 1, 1));
  bool loaded = block != 0 && ReadWhole(io.block, fd, block, size);
  io.block->Close(fd);
  if (loaded) {
    EnvParseResult parsed = EnvParse(block, size, head);
    if (parsed == kEnvNameTooLong) {
      fprintf(io.err, "Error: cannot load <%s>: a variable name is longer than %u characters\n", path,
              static_cast<unsigned>(kEnvNameLimit));
    }
    loaded = parsed == kEnvParsed;
  }
  free(block);
  return loaded;
}

bool EnvStore(const ToolIo& io, const EnvVar* first, const char* path) {
  if (first == 0 || first->name == 0 || first->value == 0) return false;
  uint32_t size = MtdSize(io, path);
  if (size == 0) size = kEnvFileBlockSize;
  unsigned char* block = static_cast<unsigned char*>(malloc(size));
  if (block == 0) return false;
  const EnvVar* tooLong = 0;
  bool stored = false;
  switch (EnvFormat(first, block, size, &tooLong)) {
    case kEnvFormatted:
      stored = FlashWrite(io, path, block, size);
      break;
    case kEnvEntryTooLong:
      PrintEntryTooLong(io.err, tooLong->name);
      break;
    case kEnvDoesNotFit:
      fprintf(io.err, "Error: cannot fit the variables (%lu bytes) into the block of %lu bytes <%s>\n",
              static_cast<unsigned long>(EnvBytesNeeded(first)), static_cast<unsigned long>(size), path);
      break;
    case kEnvNothingToStore:
      break;
  }
  free(block);
  return stored;
}
