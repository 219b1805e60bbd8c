// The serial ports of this PC, in the order detection tries them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// Port number -> port name. Windows: the registry's HARDWARE\DEVICEMAP\SERIALCOMM ("COM3" under 3;
// values that are not "COM" and a number are skipped). Linux: the serial devices that really exist
// (ttyS*, ttyUSB*, ttyACM*, ...), keyed in a stable natural order, named by their /dev path.
using PortMap = std::map<uint32_t, std::string>;

PortMap ListSerialPorts();

// Tests replace the listing (nullptr restores the platform's).
using PortLister = PortMap (*)();
void SetPortLister(PortLister lister);
