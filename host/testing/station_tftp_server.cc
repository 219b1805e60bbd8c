#include "host/testing/station_tftp_server.h"

#include <algorithm>

namespace {

constexpr uint16_t kRead = 1, kData = 3, kAck = 4, kError = 5;
constexpr size_t kBlockSize = 512;

std::vector<uint8_t> Header(uint16_t opcode, uint16_t number) {
  return {static_cast<uint8_t>(opcode >> 8), static_cast<uint8_t>(opcode), static_cast<uint8_t>(number >> 8),
          static_cast<uint8_t>(number)};
}

uint16_t Get16(const std::vector<uint8_t>& p, size_t at) {
  return static_cast<uint16_t>(p[at] << 8 | p[at + 1]);
}

std::vector<uint8_t> Error(uint16_t code, const std::string& message) {
  std::vector<uint8_t> p = Header(kError, code);
  p.insert(p.end(), message.begin(), message.end());
  p.push_back(0);
  return p;
}

}  // namespace

sim::Datagram StationTftpServer::Reply(const sim::Datagram& in, uint16_t fromPort,
                                       std::vector<uint8_t> payload) const {
  sim::Datagram out;
  out.sourceIp = address_;
  out.sourcePort = fromPort;
  out.destinationIp = in.sourceIp;
  out.destinationPort = in.sourcePort;
  out.payload = std::move(payload);
  return out;
}

sim::Datagram StationTftpServer::DataBlock(Transfer& t, uint16_t tid) {
  const size_t length = std::min(kBlockSize, t.file.size() - t.offset);
  std::vector<uint8_t> p = Header(kData, t.block);
  p.insert(p.end(), t.file.begin() + static_cast<std::ptrdiff_t>(t.offset),
           t.file.begin() + static_cast<std::ptrdiff_t>(t.offset + length));
  sim::Datagram out;
  out.sourceIp = address_;
  out.sourcePort = tid;
  out.destinationIp = t.clientIp;
  out.destinationPort = t.clientPort;
  out.payload = std::move(p);
  return out;
}

std::vector<sim::Datagram> StationTftpServer::Handle(const sim::Datagram& in) {
  if (in.destinationIp != address_ || in.payload.size() < 4) {
    ++strayPackets;
    return {};
  }
  const uint16_t opcode = Get16(in.payload, 0);
  if (in.destinationPort == 69) {
    // A read request: name NUL mode NUL.
    const std::string text(in.payload.begin() + 2, in.payload.end());
    const size_t nameEnd = text.find('\0');
    const size_t modeEnd = nameEnd == std::string::npos ? std::string::npos : text.find('\0', nameEnd + 1);
    if (opcode != kRead || modeEnd == std::string::npos ||
        text.substr(nameEnd + 1, modeEnd - nameEnd - 1) != "octet") {
      ++strayPackets;
      return {Reply(in, 69, Error(4, "Illegal TFTP operation"))};
    }
    const std::string name = text.substr(0, nameEnd);
    requests.push_back(name);
    const uint16_t tid = nextTid_++;
    const auto file = files.find(name);
    if (file == files.end()) return {Reply(in, tid, Error(1, "File not found"))};
    Transfer& t = transfers_[tid] = Transfer{in.sourceIp, in.sourcePort, file->second};
    t.block = 1;
    return {DataBlock(t, tid)};
  }
  const auto found = transfers_.find(in.destinationPort);
  if (found == transfers_.end() || found->second.clientPort != in.sourcePort ||
      found->second.clientIp != in.sourceIp) {
    ++strayPackets;
    return {Reply(in, in.destinationPort, Error(5, "Unknown transfer ID"))};
  }
  Transfer& t = found->second;
  if (opcode != kAck || t.done) {
    ++strayPackets;
    return {};
  }
  const uint16_t number = Get16(in.payload, 2);
  if (number != t.block) return {};  // an old acknowledgement again: no resend (RFC 1350)
  ++acknowledgements;
  if (t.file.size() - t.offset < kBlockSize) {  // that was the short last block
    t.done = true;
    ++transfersCompleted;
    return {};
  }
  t.offset += kBlockSize;
  ++t.block;
  return {DataBlock(t, found->first)};
}
