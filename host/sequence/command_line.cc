#include "host/sequence/command_line.h"

#include <iostream>

#include "host/link/url_credentials.h"

namespace {

constexpr size_t kMacAddressLength = 17;

// Why a value was refused, under its error line.
const char* ValueRule(const std::string& key) {
  if (key == "ethaddr") {
    return "A MAC address is six pairs of hex digits 0-9 and A-F separated by colons, for example "
           "02:1B:4D:12:34:56.";
  }
  if (key == "serialno") {
    return "A serial number is 1 to 32 characters of A-Z a-z 0-9 . _ : / - (U-Boot keeps them as typed).";
  }
  return nullptr;
}

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

bool Refuse(const std::string& line, std::string* error) {
  const std::string shown = HideUrlCredentials(line);  // a misplaced proxy URL is an argument too
  std::cout << shown << std::endl;
  if (error) *error = shown;
  return false;
}

bool ParseCommandLine(int argc, const char* const argv[], OptionMap& options, SwitchSet& switches,
                      bool* helpAsked, StationOptions* station, std::string* error) {
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
      if (i + 1 >= argc) return Refuse("Error: missing parameter of argument " + argument, error);
      options.emplace(key, argv[i + 1]);  // a repeated option keeps its first value
      i += 2;
    } else if (const char* name = SwitchName(argument)) {
      switches.insert(name);
      i += 1;
    } else if (const int used = ParseStationOption(argc, argv, i, *station, error)) {
      if (used < 0) return false;
      i += used;
    } else {
      return Refuse("Error: Unknown argument " + argument, error);
    }
  }
  if (options.count("serialno") != options.count("ethaddr")) {
    return Refuse("Error: arguments -m and -s must used together", error);
  }
  if (switches.count("rpm") && !switches.count("autologin")) {
    return Refuse("Error: arguments -ri and -al must used together", error);
  }
  // -m and -s are programmed whatever the board holds: a fallback would never be used.
  if (options.count("ethaddr") && !station->fallbackIdentity.empty()) {
    return Refuse("Error: arguments -m and -s cannot be used with --fallback-identity", error);
  }
  return CheckStationOptions(switches, *station, error);
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
               "    --proxy <url>    Proxy, unattended (or BRENLOFIX_PROXY)\n"
               "    --factory-identity  Program the factory identity on a board that has none, unattended\n"
               "    --fallback-identity <mac>,<serial>  Program these on a board that has no identity\n"
               "    --report <file>  Write the run's record (JSON) to <file>, from the start on\n"
               "    --events <file>|fd:<n>  Write the run's events as it goes (JSON lines)\n"
               "    --tftp <ip>      Load the kernel from the TFTP server at address <ip>\n"
               "    --typing <how>   Type at U-Boot's prompt 'paced' (10 ms a character, the\n"
               "                     default) or at the pace of its 'echo', the echo checked either way\n"
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

bool ValidateOptions(const OptionMap& map, std::string* error) {
  for (const auto& [key, value] : map) {
    bool good = true;
    if (key == "ethaddr") good = IsMacAddress(value);
    if (key == "serialno") good = IsSerialNumber(value);
    if (key == "serverip") good = IsIpv4Address(value);
    if (key == "typing") good = value == "paced" || value == "echo";
    if (good) continue;
    std::string lines = "Error: '" + key + "' has a bad value";
    if (const char* rule = ValueRule(key)) lines += std::string("\n") + rule;
    return Refuse(lines, error);
  }
  return true;
}

bool IsMacAddress(const std::string& text) {
  if (text.size() != kMacAddressLength) return false;
  for (size_t position = 0; position < text.size(); ++position) {
    const bool colon = position % 3 == 2;
    if (colon ? text[position] != ':' : !IsUpperHex(text.substr(position, 1))) return false;
  }
  return true;
}

bool IsSerialNumber(const std::string& text) {
  // Nothing U-Boot's shell reads otherwise than as typed: no blanks, quotes, "$", ";", "#" or "\".
  if (text.empty() || text.size() > kMaxSerialNumberLength) return false;
  for (char c : text) {
    const bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letterOrDigit && c != '.' && c != '_' && c != ':' && c != '/' && c != '-') return false;
  }
  return true;
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
