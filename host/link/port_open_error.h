// The line in words that follows "Could not open COM3 port: error(2)": the system's own message
// for the error and, where one fits, what the operator can do about it.
#pragma once

#include <string>

// For example "The system cannot find the file specified. This PC has no port COM3; its serial
// ports: COM1, COM4." or "Device or resource busy. Another program holds the port: ...".
std::string DescribePortOpenError(const std::string& port, int error);
