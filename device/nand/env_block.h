// The environment block: a CRC-32 of the data area (4 bytes, little-endian), then the entries
// "name=value" each with its NUL, ended by an empty entry; zero up to the end of the block.
#ifndef DEVICE_NAND_ENV_BLOCK_H
#define DEVICE_NAND_ENV_BLOCK_H

#include <stddef.h>
#include <stdint.h>

#include "device/nand/env_var.h"
#include "device/nand/tool_io.h"

const size_t kEnvHeaderSize = 4;
// A block in a plain file is written with this size; an MTD device is one block of its own size.
const uint32_t kEnvFileBlockSize = 16384;
// U-Boot's working buffers hold 1024 bytes: a name, and a whole entry "name=value", of at most
// 1023 characters.
const size_t kEnvNameLimit = 1023;
const size_t kEnvEntryLimit = 1023;

enum EnvParseResult { kEnvParsed, kEnvNameTooLong, kEnvParseOutOfMemory };

// Parses a whole block into the empty head record. The header is not checked, so an erased device
// (all 0xFF, no end marker) reads as an environment without variables, and so does a block shorter
// than its header.
EnvParseResult EnvParse(const unsigned char* block, size_t size, EnvVar* head);

enum EnvFormatResult { kEnvFormatted, kEnvNothingToStore, kEnvEntryTooLong, kEnvDoesNotFit };

// Builds the block of size bytes for the list from first on, header included. tooLong names the
// record whose entry is too long. On failure the block's content is unspecified.
EnvFormatResult EnvFormat(const EnvVar* first, unsigned char* block, size_t size, const EnvVar** tooLong);

// Bytes the entries from first on take in a block, header and end marker included.
size_t EnvBytesNeeded(const EnvVar* first);

// Prints why an entry is refused, with the start of its name.
void PrintEntryTooLong(FILE* err, const char* name);

// Reads the block at path into the empty head record. False when the path cannot be read or the
// block cannot be taken whole (a name beyond kEnvNameLimit, reported on io.err).
bool EnvLoad(const ToolIo& io, EnvVar* head, const char* path);

// Writes the list from first on as a whole block to path. False, with nothing erased or written,
// when the list is empty, an entry is too long or the list does not fit the block.
bool EnvStore(const ToolIo& io, const EnvVar* first, const char* path);

#endif  // DEVICE_NAND_ENV_BLOCK_H
