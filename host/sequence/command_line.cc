#include "host/sequence/command_line.h"

#include <iostream>

namespace {

constexpr size_t kMacAddressLength = 17;

// Options that take the next argument as their value, and the option map key they fill.
const char* ValueOptionKey(const std::string& argument) {
  if (argument == "-m") return "ethaddr";
  if (argument == "-s") return "serialno";
  if (argument == "-p") return "com";
  if (argument == "--tftp") return "serverip";
  if (argument == "--typing") return "typing";
  return nullptr;
}

const char* SwitchName(const std::string& argument) {
  if (argument == "-al") return "autologin";
  if (argument == "-i") return "interactive";
  if (argument == "-ri") return "rpm";
  if (argument == "-nf") return "noflash";
  return nullptr;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const argv[], OptionMap& options, SwitchSet& switches,
                      bool* helpAsked, StationOptions* station) {
  if (helpAsked) *helpAsked = false;
  StationOptions unused;
  if (!station) station = &unused;
  for (int i = 1; i < argc;) {
    const std::string argument = argv[i];
    if (argument == "-h") {
      if (helpAsked) *helpAsked = true;
      return false;
    }
    if (const char* key = ValueOptionKey(argument)) {
      if (i + 1 >= argc) {
        std::cout << "Error: missing parameter of argument " << argument << std::endl;
        return false;
      }
      options.emplace(key, argv[i + 1]);  // a repeated option keeps its first value
      i += 2;
    } else if (const char* name = SwitchName(argument)) {
      switches.insert(name);
      i += 1;
    } else if (const int used = ParseStationOption(argc, argv, i, *station)) {
      if (used < 0) return false;
      i += used;
    } else {
      std::cout << "Error: Unknown argument " << argument << std::endl;
      return false;
    }
  }
  if (options.count("serialno") != options.count("ethaddr")) {
    std::cout << "Error: arguments -m and -s must used together" << std::endl;
    return false;
  }
  if (switches.count("rpm") && !switches.count("autologin")) {
    std::cout << "Error: arguments -ri and -al must used together" << std::endl;
    return false;
  }
  return CheckStationOptions(switches, *station);
}

void PrintUsage() {
  std::cout << "Application for flashing Brenlo bootloader and setting it parameters.\n"
               "Usage: BrenloFix.exe [arguments]\n"
               "\n"
               "Command line possible arguments:\n"
               "    -p <arg> Use <arg> as serial port name\n"
               "    -m <arg> Use <arg> as MAC address\n"
               "    -s <arg> Use <arg> as serial number\n"
               "    -al      Auto login\n"
               "    -ri      Install kernel rpm(s)\n"
               "    -nf      No flash\n"
               "    -i       Interactive mode\n"
               "    -h       Print help\n"
               "    --unattended     No questions: a failed step is tried again by itself\n"
               "    --retries <n>    Tries again of each failed step, unattended (default 2)\n"
               "    --login <user>   Login, unattended (the password: BRENLOFIX_PASSWORD)\n"
               "    --proxy <url>    Proxy, unattended\n"
               "    --report <file>  Write the run's record (JSON) to <file>\n"
               "    --tftp <ip>      Load the kernel from the TFTP server at address <ip>\n"
               "    --typing <how>   Type at U-Boot's prompt 'paced' (10 ms a character, the\n"
               "                     default) or at the pace of its 'echo', checking each character\n"
               "\n"
               "Example: flashing with setup 'serialno' and 'ethaddr' from command line.\n"
               "    BrenloFix.exe -m 02:1B:4D:00:00:00 -s QV4N150101XXX\n"
               "Example: flashing with interactive setup 'serialno' and 'ethaddr' from backup.\n"
               "    BrenloFix.exe -i\n"
               "Example: flashing with auto setup 'serialno' and 'ethaddr' from backup.\n"
               "    BrenloFix.exe\n"
               "Example: the kernel over Ethernet from the station's TFTP server.\n"
               "    BrenloFix.exe -m 02:1B:4D:00:00:00 -s QV4N150101XXX --tftp 192.168.102.134"
            << std::endl;
}

bool ValidateOptions(const OptionMap& map) {
  for (const auto& [key, value] : map) {
    bool good = true;
    if (key == "ethaddr") good = IsMacAddress(value);
    if (key == "serialno") good = value.size() <= kMaxSerialNumberLength;
    if (key == "serverip") good = IsIpv4Address(value);
    if (key == "typing") good = value == "paced" || value == "echo";
    if (!good) {
      std::cout << "Error: '" << key << "' has a bad value" << std::endl;
      return false;
    }
  }
  return true;
}

bool IsMacAddress(const std::string& text) {
  if (text.size() != kMacAddressLength) return false;
  // Only the counts matter, so any arrangement of six pairs and five colons passes.
  int pairs = 0;
  int colons = 0;
  for (size_t position = 0; position < text.size();) {
    if (IsUpperHex(text.substr(position, 2))) {
      ++pairs;
      position += 2;
    } else if (text[position] == ':') {
      ++colons;
      position += 1;
    } else {
      return false;
    }
  }
  return pairs == 6 && colons == 5;
}

bool IsIpv4Address(const std::string& text) {
  // Four decimal numbers of 0 to 255 and nothing else: U-Boot reads no names, and the text is
  // typed at its prompt.
  int parts = 0;
  size_t position = 0;
  while (parts < 4) {
    size_t digits = 0;
    unsigned value = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9' && digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[position++] - '0');
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    if (++parts < 4) {
      if (position >= text.size() || text[position] != '.') return false;
      ++position;
    }
  }
  return position == text.size() && text != "0.0.0.0";
}

bool IsUpperHex(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}
