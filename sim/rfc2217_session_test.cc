#include "sim/rfc2217_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sim {
namespace {

struct RecordingPort : Rfc2217Session::Port {
  void OnData(uint8_t byte) override { data += static_cast<char>(byte); }
  void OnLineSettings(uint32_t b, int d, char p, int s) override {
    baud = b;
    dataBits = d;
    parity = p;
    stopBits = s;
  }
  void OnBreak(bool on) override { breaks.push_back(on); }
  void OnPurgeReceived() override { ++purges; }
  std::string data;
  uint32_t baud = 0;
  int dataBits = 0, stopBits = 0;
  char parity = '?';
  std::vector<bool> breaks;
  int purges = 0;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

std::string Feed(Rfc2217Session& session, RecordingPort& port, const std::string& bytes) {
  return session.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), port);
}

TEST(Rfc2217Session, NegotiatesTheComPortOptionAndRefusesEcho) {
  Rfc2217Session session;
  RecordingPort port;
  EXPECT_EQ(Feed(session, port, Bytes({255, 251, 44})), Bytes({255, 253, 44}));  // WILL COM-PORT: DO
  EXPECT_EQ(Feed(session, port, Bytes({255, 253, 1})), Bytes({255, 252, 1}));    // DO ECHO: WONT
  EXPECT_EQ(Feed(session, port, Bytes({255, 253, 0, 255, 251, 3})), Bytes({255, 251, 0, 255, 253, 3}));
  EXPECT_EQ(port.data, "");
}

TEST(Rfc2217Session, PortCommandsAreCarriedOutAndAnswered) {
  Rfc2217Session session;
  RecordingPort port;
  // SET-BAUDRATE 115200 (0x0001C200) split across two reads.
  std::string baud = Bytes({255, 250, 44, 1, 0, 1, 0xC2, 0, 255, 240});
  EXPECT_EQ(Feed(session, port, baud.substr(0, 5)), "");
  EXPECT_EQ(Feed(session, port, baud.substr(5)), Bytes({255, 250, 44, 101, 0, 1, 0xC2, 0, 255, 240}));
  EXPECT_EQ(port.baud, 115200u);
  // Data size 7, even parity, two stop bits.
  EXPECT_EQ(Feed(session, port, Bytes({255, 250, 44, 2, 7, 255, 240})), Bytes({255, 250, 44, 102, 7, 255, 240}));
  EXPECT_EQ(Feed(session, port, Bytes({255, 250, 44, 3, 3, 255, 240})), Bytes({255, 250, 44, 103, 3, 255, 240}));
  EXPECT_EQ(Feed(session, port, Bytes({255, 250, 44, 4, 2, 255, 240})), Bytes({255, 250, 44, 104, 2, 255, 240}));
  EXPECT_EQ(port.dataBits, 7);
  EXPECT_EQ(port.parity, 'e');
  EXPECT_EQ(port.stopBits, 2);
  // Break on and off, purge of the receive buffer.
  Feed(session, port, Bytes({255, 250, 44, 5, 5, 255, 240, 255, 250, 44, 5, 6, 255, 240}));
  EXPECT_EQ(port.breaks, (std::vector<bool>{true, false}));
  EXPECT_EQ(Feed(session, port, Bytes({255, 250, 44, 12, 1, 255, 240})), Bytes({255, 250, 44, 112, 1, 255, 240}));
  EXPECT_EQ(port.purges, 1);
}

TEST(Rfc2217Session, DataCarriesDoubledIacBothWays) {
  Rfc2217Session session;
  RecordingPort port;
  EXPECT_EQ(Feed(session, port, Bytes({'A', 255, 255, 'B', 255, 241, 'C'})), "");  // IAC NOP is no data
  EXPECT_EQ(port.data, Bytes({'A', 255, 'B', 'C'}));
  const uint8_t out[] = {1, 255, 2};
  EXPECT_EQ(Rfc2217Session::EscapeData(out, 3), Bytes({1, 255, 255, 2}));
}

}  // namespace
}  // namespace sim
