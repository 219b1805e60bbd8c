// The pieces of port listing that do not need the operating system, shared by the platforms'
// listers and their tests.
#pragma once

#include <cstdint>
#include <string>

#include "host/platform/port_list.h"

// A registry value's data as a port: "COM" and a decimal number, nothing else (some drivers publish
// other names, which Open could not take anyway). False for anything else.
bool ParseComPortName(const std::string& data, uint32_t* number);

// Adds a registry value's data to the map under its number; the first value with a number stays.
void AddComPort(const std::string& data, PortMap* ports);

// Natural order of device names: "ttyS2" before "ttyS10", "ttyACM0" before "ttyS0".
bool NaturalLess(const std::string& a, const std::string& b);

// The serial devices of a Linux system: entries of sysClassTty (/sys/class/tty) that have a
// device, whose node exists under devDir (/dev), in natural order, keyed from 0. A legacy ttyS
// entry whose UART type reads as unknown is no port.
PortMap ListTtyPorts(const std::string& sysClassTty, const std::string& devDir);
