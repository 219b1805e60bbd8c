#include "host/link/port_open_error.h"

#include "host/platform/port_list.h"
#include "host/platform/system_error.h"

namespace {

std::string PortsOfThisPc() {
  const PortMap ports = ListSerialPorts();
  if (ports.empty()) return "it lists no serial ports";
  std::string names;
  for (const auto& entry : ports) names += (names.empty() ? "" : ", ") + entry.second;
  return "its serial ports: " + names;
}

std::string Hint(const std::string& port, PortOpenTrouble trouble) {
  switch (trouble) {
    case PortOpenTrouble::kNoSuchPort:
      return "This PC has no port " + port + "; " + PortsOfThisPc() + ".";
    case PortOpenTrouble::kNotASerialPort:
      return port + " is no serial port; " + PortsOfThisPc() + ".";
    case PortOpenTrouble::kHeld:
      return "Another program holds the port (a terminal program, another BrenloFix): close it, "
             "or choose another port.";
    case PortOpenTrouble::kNoPermission:
      return "This user may not open the port: add it to the port's group (dialout) and log in "
             "again.";
    case PortOpenTrouble::kServerRefused:
      return "The network serial server refused the connection: check its address and port, and "
             "that no other client holds the port.";
    case PortOpenTrouble::kServerUnreachable:
      return "The network serial server could not be reached: check its address and the network.";
    case PortOpenTrouble::kServerNotBinary:
      return "The network serial server refused binary transmission (Telnet BINARY), so it would "
             "change the bytes on the line (a carriage return sent as CR NUL): set its port to "
             "raw or binary mode.";
    case PortOpenTrouble::kOther:
      break;
  }
  return "";
}

}  // namespace

std::string DescribePortOpenError(const std::string& port, int error) {
  const std::string hint = Hint(port, ClassifyPortOpenError(error));
  return SystemErrorText(error) + "." + (hint.empty() ? "" : " " + hint);
}
