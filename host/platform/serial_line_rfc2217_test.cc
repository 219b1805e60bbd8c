// The network serial line against a small loopback server of the test's own, and the Telnet
// framing under it. (tests/pyserial: host/link/rs232_rfc2217_peer_test.py checks the same line
// against an independent server.)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "host/platform/clock.h"
#include "host/platform/serial_line.h"
#include "host/platform/serial_line_telnet.h"
#include "host/platform/system_error.h"

namespace {

struct Recorder : telnet::Receiver {
  std::string data;
  std::vector<std::pair<uint8_t, uint8_t>> options;
  std::vector<std::vector<uint8_t>> subs;
  void OnData(const uint8_t* bytes, size_t length) override { data.append(bytes, bytes + length); }
  void OnOption(uint8_t verb, uint8_t option) override { options.emplace_back(verb, option); }
  void OnSubnegotiation(const std::vector<uint8_t>& body) override { subs.push_back(body); }
};

TEST(TelnetTest, DecoderTakesCommandsCutAnywhere) {
  const std::vector<uint8_t> stream = {'a', 255, 255, 'b', 255, 253, 44, 'c', 255, 250, 44, 101, 0, 1, 255, 255,
                                       0, 255, 240, 255, 241, 'd'};
  // Fed whole and fed byte by byte, the result is the same.
  for (size_t step : {stream.size(), size_t{1}, size_t{3}}) {
    telnet::Decoder decoder;
    Recorder got;
    for (size_t i = 0; i < stream.size(); i += step) {
      decoder.Feed(stream.data() + i, std::min(step, stream.size() - i), got);
    }
    EXPECT_EQ(got.data, std::string("a\xff" "bcd")) << step;
    ASSERT_EQ(got.options.size(), 1u);
    EXPECT_EQ(got.options[0], (std::pair<uint8_t, uint8_t>{253, 44}));
    ASSERT_EQ(got.subs.size(), 1u);
    EXPECT_EQ(got.subs[0], (std::vector<uint8_t>{44, 101, 0, 1, 255, 0}));
  }
}

TEST(TelnetTest, EncodingDoublesIacInDataAndValues) {
  std::vector<uint8_t> wire;
  const uint8_t data[] = {1, 255, 2, 255, 255};
  telnet::AppendEscaped(data, sizeof data, &wire);
  EXPECT_EQ(wire, (std::vector<uint8_t>{1, 255, 255, 2, 255, 255, 255, 255}));
  EXPECT_EQ(telnet::ComPortCommand(1, {0, 1, 0xC2, 0x00}),
            (std::vector<uint8_t>{255, 250, 44, 1, 0, 1, 0xC2, 0, 255, 240}));
  EXPECT_EQ(telnet::ComPortCommand(12, {255}), (std::vector<uint8_t>{255, 250, 44, 12, 255, 255, 255, 240}));
}

// A loopback serial server: agrees to COM-PORT-OPTION (or refuses it), confirms every command
// with the value it received, and records the data and commands the client sent.
// How the server answers the client's requests for binary transmission.
enum class Binary { kAgreed, kNotToClient, kNotFromClient, kNeither, kNoAnswer };

class LoopbackServer : telnet::Receiver {
 public:
  explicit LoopbackServer(bool refuseComPort, Binary binary = Binary::kAgreed)
      : refuse_(refuseComPort), binary_(binary) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    socklen_t size = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LoopbackServer() override {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    if (client_ >= 0) shutdown(client_, SHUT_RDWR);
    thread_.join();
    if (client_ >= 0) close(client_);
  }
  std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
  void Send(const std::vector<uint8_t>& bytes) { send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  void Drop() { shutdown(client_, SHUT_RDWR); }

  std::string data;
  std::vector<std::vector<uint8_t>> commands;

 private:
  void Serve() {
    client_ = accept(listener_, nullptr, nullptr);
    if (client_ < 0) return;
    uint8_t chunk[4096];
    for (;;) {
      const ssize_t got = recv(client_, chunk, sizeof chunk, 0);
      if (got <= 0) return;
      decoder_.Feed(chunk, static_cast<size_t>(got), *this);
    }
  }
  void OnData(const uint8_t* bytes, size_t length) override { data.append(bytes, bytes + length); }
  void OnOption(uint8_t verb, uint8_t option) override {
    if (verb == telnet::kWill && option == telnet::kComPortOption) {
      Send(telnet::OptionCommand(refuse_ ? telnet::kDont : telnet::kDo, option));
    }
    if (option != telnet::kBinary || binary_ == Binary::kNoAnswer) return;
    const bool toClient = binary_ == Binary::kAgreed || binary_ == Binary::kNotFromClient;
    const bool fromClient = binary_ == Binary::kAgreed || binary_ == Binary::kNotToClient;
    if (verb == telnet::kDo) Send(telnet::OptionCommand(toClient ? telnet::kWill : telnet::kWont, option));
    if (verb == telnet::kWill) Send(telnet::OptionCommand(fromClient ? telnet::kDo : telnet::kDont, option));
  }
  void OnSubnegotiation(const std::vector<uint8_t>& body) override {
    EXPECT_GE(body.size(), 3u);
    EXPECT_EQ(body[0], telnet::kComPortOption);
    commands.push_back(body);
    std::vector<uint8_t> value(body.begin() + 2, body.end());
    Send(telnet::ComPortCommand(static_cast<uint8_t>(body[1] + telnet::kServerReply), value));
  }

  bool refuse_;
  Binary binary_;
  int listener_ = -1;
  int client_ = -1;
  uint16_t port_ = 0;
  telnet::Decoder decoder_;
  std::thread thread_;
};

std::unique_ptr<SerialLine> OpenLine(const std::string& url) {
  int error = 0;
  auto line = OpenSerialLine(url, &error);
  EXPECT_TRUE(line) << "error " << error;
  if (line) line->SetTimeouts(1000, 100);
  return line;
}

TEST(Rfc2217LineTest, SettingsBreakPurgeAndDataReachTheServer) {
  LoopbackServer server(false);
  auto line = OpenLine(server.Url());
  ASSERT_TRUE(line);
  ASSERT_EQ(line->ApplySettings("baud=115200 data=8 parity=n stop=1 xon=off"), LineSettingsResult::kApplied);
  EXPECT_TRUE(line->SetBreak(true));
  EXPECT_TRUE(line->SetBreak(false));
  EXPECT_TRUE(line->Purge(kPurgeRxAbort | kPurgeRxClear));
  // Binary both ways: a carriage return goes as it is, with no NUL or line feed added.
  const uint8_t bytes[] = {'o', 'k', 0xFF, 0, '\r', 'x', '\r', 0, '\r'};
  size_t count = 0;
  EXPECT_TRUE(line->Write(bytes, sizeof bytes, &count));
  EXPECT_EQ(count, sizeof bytes);
  SystemClock().SleepMs(200);
  EXPECT_EQ(server.data, std::string("ok\xff\0\rx\r\0\r", sizeof bytes));
  const std::vector<std::vector<uint8_t>> expected = {
      {44, 1, 0, 1, 0xC2, 0x00}, {44, 2, 8}, {44, 3, 1}, {44, 4, 1}, {44, 5, 1},  // 115200 8N1, no flow control
      {44, 5, 5}, {44, 5, 6},                                                      // break on, break off
      {44, 12, 1}};                                                                // purge the receive side
  EXPECT_EQ(server.commands, expected);

  // A read on a silent line succeeds empty after 1 ms a byte plus the constant.
  uint8_t byte = 0;
  const uint32_t start = SystemClock().TickMs();
  EXPECT_TRUE(line->Read(&byte, 1, &count));
  const uint32_t took = SystemClock().TickMs() - start;
  EXPECT_EQ(count, 0u);
  EXPECT_GE(took, 1000u);
  EXPECT_LT(took, 1200u);

  // Data from the server arrives with its IAC doubling undone, a CR NUL kept whole; a drop fails
  // the next read.
  server.Send({'U', 'B', 'L', 255, 255, '\r', 0, '\r', '\n'});
  server.Drop();
  uint8_t got[12] = {};
  EXPECT_FALSE(line->Read(got, sizeof got, &count));
  EXPECT_EQ(std::string(got, got + count), std::string("UBL\xff\r\0\r\n", 8));
  EXPECT_EQ(line->LastError(), ECONNRESET);
  EXPECT_FALSE(line->Write(bytes, 1, &count));
}

TEST(Rfc2217LineTest, ServerWithoutComPortOptionCannotBreak) {
  LoopbackServer server(true);
  auto line = OpenLine(server.Url());
  ASSERT_TRUE(line);
  EXPECT_EQ(line->ApplySettings("baud=115200 data=8 parity=n stop=1 xon=off"), LineSettingsResult::kApplyFailed);
  EXPECT_EQ(line->ApplySettings("baud=fast"), LineSettingsResult::kBadParameters);
  EXPECT_FALSE(line->SetBreak(true));
  EXPECT_EQ(line->LastError(), ENOTSUP);
  size_t count = 0;
  const uint8_t text[] = "still talks";
  EXPECT_TRUE(line->Write(text, 11, &count));  // data still flows
  SystemClock().SleepMs(100);
  EXPECT_EQ(server.data, "still talks");
  EXPECT_TRUE(server.commands.empty());
}

TEST(Rfc2217LineTest, AServerThatRefusesBinaryEitherWayIsTurnedAway) {
  for (Binary binary : {Binary::kNotToClient, Binary::kNotFromClient, Binary::kNeither, Binary::kNoAnswer}) {
    LoopbackServer server(false, binary);
    int error = 0;
    EXPECT_FALSE(OpenSerialLine(server.Url(), &error)) << static_cast<int>(binary);
    EXPECT_EQ(error, EPROTONOSUPPORT) << static_cast<int>(binary);
    EXPECT_EQ(ClassifyPortOpenError(error), PortOpenTrouble::kServerNotBinary);
  }
}

TEST(Rfc2217LineTest, BadAddressesAndClosedPortsFailToOpen) {
  int error = 0;
  for (const char* url : {"rfc2217://", "rfc2217://host", "rfc2217://:80", "rfc2217://host:0",
                          "rfc2217://host:65536", "rfc2217://a:b:c", "rfc2217://host:8x", "rfc2217://[::1"}) {
    EXPECT_FALSE(OpenSerialLine(url, &error)) << url;
    EXPECT_EQ(error, EINVAL) << url;
  }
  // A port nobody listens on: take one from the system and close it again.
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  close(probe);
  EXPECT_FALSE(OpenSerialLine("rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port)), &error));
  EXPECT_EQ(error, ECONNREFUSED);
}

}  // namespace
