// One TCP connection, for the network serial line. Non-blocking underneath: every wait is bounded
// by the milliseconds the caller gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TcpConnection {
 public:
  virtual ~TcpConnection() = default;

  // Waits up to waitMs for data and takes what has arrived, at most capacity bytes. Returns the
  // byte count (0: nothing came in time), or -1 when the peer closed or the connection failed
  // (*error holds the system error number).
  virtual long Receive(uint8_t* data, size_t capacity, uint32_t waitMs, int* error) = 0;

  // Sends what the connection takes within waitMs. Returns the bytes sent (0: none in time), or -1
  // on failure.
  virtual long Send(const uint8_t* data, size_t length, uint32_t waitMs, int* error) = 0;
};

// Connects to host:port (a name, an IPv4 address or a bracket-less IPv6 address) within timeoutMs.
// Null on failure, with the system error number in *error.
std::unique_ptr<TcpConnection> ConnectTcp(const std::string& host, const std::string& port, uint32_t timeoutMs,
                                          int* error);

// The numeric addresses (for example "127.0.0.1", "::1") that host names, each once in the
// resolver's order; empty when it names none.
std::vector<std::string> ResolveTcpAddresses(const std::string& host, const std::string& port);

// The error number a malformed address is reported with (EINVAL, WSAEINVAL).
int InvalidAddressError();
// The error number a connection closed by the peer is reported with (ECONNRESET, WSAECONNRESET).
int ConnectionResetError();
// The error number an operation the server refused is reported with (ENOTSUP, ERROR_NOT_SUPPORTED).
int NotSupportedError();
// The error number a write that did not get through in time is reported with.
int TimedOutError();
// A network serial server that refuses binary transmission (Telnet BINARY) one way or both.
int BinaryRefusedError();
