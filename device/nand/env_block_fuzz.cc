// libFuzzer target for the environment block: any bytes must parse without reading outside the
// block, and whatever parses must build into a block that parses back to the same variables.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "device/nand/env_block.h"

namespace {

std::vector<std::string> Entries(const EnvVar* first) {
  std::vector<std::string> entries;
  for (const EnvVar* r = first; r != 0 && r->name != 0; r = r->next) {
    entries.push_back(std::string(r->name) + '\0' + r->value);
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  // An exactly sized copy, so that AddressSanitizer sees any read past the block.
  std::vector<unsigned char> block(data, data + size);
  EnvVar head;
  EnvVarClear(&head);
  const EnvParseResult parsed = EnvParse(block.empty() ? 0 : &block[0], block.size(), &head);
  if (parsed == kEnvParsed) {
    const std::vector<std::string> loaded = Entries(&head);
    for (size_t i = 0; i < loaded.size(); ++i) {
      if (loaded[i].find('\0') == 0 || loaded[i].find('\0') > kEnvNameLimit) abort();  // a name 1..1023 long
    }
    std::vector<unsigned char> rebuilt(size + 1);
    const EnvFormatResult formatted = EnvFormat(&head, &rebuilt[0], rebuilt.size(), 0);
    if (formatted == kEnvFormatted) {
      EnvVar again;
      EnvVarClear(&again);
      if (EnvParse(&rebuilt[0], rebuilt.size(), &again) != kEnvParsed || Entries(&again) != loaded) abort();
      EnvVarDestroy(&again);
    } else if (formatted == kEnvNothingToStore && !loaded.empty()) {
      abort();
    } else if (formatted == kEnvDoesNotFit) {
      abort();  // the entries came out of a block no larger than this one
    }
  }
  EnvVarDestroy(&head);
  return 0;
}
