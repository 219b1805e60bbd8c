#include "host/platform/port_claim.h"

#include <cctype>
#include <utility>
#include <vector>

#include "host/platform/serial_line.h"
#include "host/platform/socket.h"

// The claim the system keeps under a key, in port_claim_posix.cc or port_claim_win32.cc.
bool ClaimPlatformKey(const std::string& key, std::unique_ptr<PortClaim>* claim, std::string* trouble);

namespace {

// The claims of every address of one network serial server, released together.
class ClaimSet : public PortClaim {
 public:
  std::vector<std::unique_ptr<PortClaim>> parts;
};

// "rfc2217-127.0.0.1-2217": a key of letters, digits, dots and dashes (an IPv6 address's colons
// become underscores), good for a file name and a Windows object name alike.
std::string NetworkKey(const std::string& address, const std::string& port) {
  std::string key = "rfc2217-";
  for (char c : address) key += std::isalnum(static_cast<unsigned char>(c)) || c == '.' ? c : '_';
  return key + "-" + port;
}

// The keys of a port: one for a local port (or a network name that resolves to nothing), one per
// address for a network serial server.
std::vector<std::string> ClaimKeys(const std::string& name) {
  std::string host;
  std::string port;
  if (SplitRfc2217Url(name, &host, &port)) {
    std::vector<std::string> keys;
    for (const std::string& address : ResolveTcpAddresses(host, port))
      keys.push_back(NetworkKey(address, port));
    if (!keys.empty()) return keys;
  }
  return {PortClaimKey(name)};
}

}  // namespace

bool ClaimPort(const std::string& name, std::unique_ptr<PortClaim>* claim, std::string* trouble) {
  std::string words;
  if (!trouble) trouble = &words;
  trouble->clear();
  // A line served inside this process (the tests' simulated boards) is no other program's to take.
  if (IsRegisteredSerialLine(name)) {
    claim->reset(new PortClaim());
    return true;
  }
  std::unique_ptr<ClaimSet> all(new ClaimSet());
  for (const std::string& key : ClaimKeys(name)) {
    std::unique_ptr<PortClaim> part;
    if (!ClaimPlatformKey(key, &part, trouble)) return false;  // the parts claimed so far are let go
    all->parts.push_back(std::move(part));
  }
  *claim = std::move(all);
  return true;
}
