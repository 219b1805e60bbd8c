// The command line of BrenloFix: options with values (-p, -m, -s, --tftp, --typing) into the option
// map, switches (-al, -ri, -nf, -i) into the switch set, and the checks on the identity values.
#pragma once

#include <string>

#include "host/sequence/containers.h"
#include "host/sequence/station_options.h"

// True when the flashing run may start. False after -h (no message; helpAsked is set when given)
// or after an error, whose line is already printed (and put into *error when given). The station
// options go into *station when given (station_options.h).
bool ParseCommandLine(int argc, const char* const argv[], OptionMap& options, SwitchSet& switches,
                      bool* helpAsked = nullptr, StationOptions* station = nullptr,
                      std::string* error = nullptr);

// The help text.
void PrintUsage();

// Checks every ethaddr, serialno, serverip and typing entry; prints "Error: '<key>' has a bad value" for the first
// bad one, and under it what the value must be, and returns false (the lines in *error when given).
bool ValidateOptions(const OptionMap& map, std::string* error = nullptr);

// Six pairs of upper-case hex digits separated by colons: 02:1B:4D:12:34:56.
bool IsMacAddress(const std::string& text);

// 1 to 32 characters of A-Z a-z 0-9 . _ : / -: text that U-Boot's shell keeps as it is typed.
bool IsSerialNumber(const std::string& text);

// Prints the error line (a URL's user and password hidden) and keeps it in *error when given;
// false.
bool Refuse(const std::string& line, std::string* error);

// An IPv4 address in dotted decimal (192.168.102.134), not 0.0.0.0.
bool IsIpv4Address(const std::string& text);

// Only 0-9 and A-F (true for the empty text).
bool IsUpperHex(const std::string& text);

constexpr size_t kMaxSerialNumberLength = 32;
