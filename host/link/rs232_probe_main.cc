// rs232_probe: drives one RS232 object from the command line, for the black-box tests of the
// serial lines against independent peers (pyserial's RFC 2217 server, a pty).
//   rs232_probe PORT ACTION...
//     open | close | break | purge | sleep:MS | write:HEX | paced:HEX | read:N | timedread:N |
//     wait:TEXT:MS
// Prints one result line per action ("open 1", "read 706f6e67", "wait 0", ...); timedread adds
// the milliseconds the reads took.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "host/link/rs232.h"
#include "host/link/target_console.h"
#include "host/platform/clock.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
  std::string hex;
  char pair[3];
  for (uint8_t byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

// Reads up to count bytes one at a time, as the console operations do; stops at a silent read.
void ReadBytes(RS232& port, size_t count, bool timed) {
  const uint32_t start = HostClock().TickMs();
  std::vector<uint8_t> got;
  while (got.size() < count) {
    uint8_t byte = 0;
    uint32_t n = 0;
    if (!port.Read(&byte, 1, &n, 0)) {
      std::cout << "read-failed " << ToHex(got) << " " << port.handle->LastError() << std::endl;
      return;
    }
    if (n == 0) break;
    got.push_back(byte);
  }
  if (timed) {
    std::cout << "timedread " << ToHex(got) << " " << HostClock().TickMs() - start << std::endl;
  } else {
    std::cout << "read " << ToHex(got) << std::endl;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: rs232_probe PORT ACTION..." << std::endl;
    return 2;
  }
  const std::string name = argv[1];
  RS232 port;
  for (int i = 2; i < argc; ++i) {
    const std::string action = argv[i];
    const size_t colon = action.find(':');
    const std::string verb = action.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : action.substr(colon + 1);
    if (verb == "open") {
      const int ok = port.Open(name.c_str(), kPortSettings);
      std::cout << "open " << ok << std::endl;
    } else if (verb == "close") {
      port.Close();
      std::cout << "close" << std::endl;
    } else if (verb == "break") {
      const uint32_t start = HostClock().TickMs();
      const int ok = port.SendBreak();
      std::cout << "break " << ok << " " << HostClock().TickMs() - start << std::endl;
    } else if (verb == "purge") {
      const int ok = port.PurgeInput();
      std::cout << "purge " << ok << std::endl;
    } else if (verb == "sleep") {
      HostClock().SleepMs(static_cast<uint32_t>(std::stoul(arg)));
    } else if (verb == "write" || verb == "paced") {
      port.pacedWrite = verb == "paced";
      const std::vector<uint8_t> bytes = FromHex(arg);
      uint32_t written = 0;
      const int ok = port.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written, 0);
      std::cout << verb << " " << ok << " " << written << std::endl;
    } else if (verb == "read" || verb == "timedread") {
      ReadBytes(port, std::stoul(arg), verb == "timedread");
    } else if (verb == "wait") {
      const size_t last = arg.rfind(':');
      const std::string text = arg.substr(0, last);
      const uint32_t ms = static_cast<uint32_t>(std::stoul(arg.substr(last + 1)));
      const bool found = WaitForText(nullptr, text.c_str(), &port, ms);
      std::cout << "wait " << found << std::endl;
    } else {
      std::cerr << "unknown action " << action << std::endl;
      return 2;
    }
  }
  return 0;
}
