// The command line of BrenloFix: options with values (-p, -m, -s, --tftp, --typing) into the option
// map, switches (-al, -ri, -nf, -i) into the switch set, and the checks on the identity values.
#pragma once

#include <string>

#include "host/sequence/containers.h"
#include "host/sequence/station_options.h"

// True when the flashing run may start. False after -h (no message; helpAsked is set when given)
// or after an error, whose line is already printed. The station options go into *station when
// given (station_options.h).
bool ParseCommandLine(int argc, const char* const argv[], OptionMap& options, SwitchSet& switches,
                      bool* helpAsked = nullptr, StationOptions* station = nullptr);

// The help text.
void PrintUsage();

// Checks every ethaddr, serialno, serverip and typing entry; prints "Error: '<key>' has a bad value" for the first
// bad one and returns false.
bool ValidateOptions(const OptionMap& map);

// Six upper-case hex pairs and five colons in 17 characters.
bool IsMacAddress(const std::string& text);

// An IPv4 address in dotted decimal (192.168.102.134), not 0.0.0.0.
bool IsIpv4Address(const std::string& text);

// Only 0-9 and A-F (true for the empty text).
bool IsUpperHex(const std::string& text);

constexpr size_t kMaxSerialNumberLength = 32;
