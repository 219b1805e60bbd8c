#include "host/platform/port_claim.h"

#include <gtest/gtest.h>

#include <memory>

#include "host/platform/serial_line.h"

namespace {

// A claim is held until it is released, whatever name the port goes by; other ports are free.
// Two claims of one port in one process are refused too: a run holds its port once.
TEST(ClaimPort, OneHolderAtATimeUntilReleased) {
  const std::string port = "rfc2217://127.0.0.1:1/port-claim-test";
  std::unique_ptr<PortClaim> first;
  std::unique_ptr<PortClaim> second;
  ASSERT_TRUE(ClaimPort(port, &first));
  EXPECT_FALSE(ClaimPort(port, &second));
  EXPECT_EQ(second, nullptr);
  std::unique_ptr<PortClaim> other;
  EXPECT_TRUE(ClaimPort(port + "2", &other));
  first.reset();
  EXPECT_TRUE(ClaimPort(port, &second));

  // The character device is the key, not the name that reaches it.
  EXPECT_EQ(PortClaimKey("/dev/null"), PortClaimKey("/dev/../dev/null"));
  EXPECT_NE(PortClaimKey("/dev/null"), PortClaimKey("/dev/zero"));

  // Lines inside this process (the tests' simulated boards) need no claim and are never refused.
  RegisterSerialLineOpener("CLAIMTEST",
                           [](const std::string&, int*) { return std::unique_ptr<SerialLine>(); });
  std::unique_ptr<PortClaim> a;
  std::unique_ptr<PortClaim> b;
  EXPECT_TRUE(ClaimPort("CLAIMTEST1", &a));
  EXPECT_TRUE(ClaimPort("CLAIMTEST1", &b));
  UnregisterSerialLineOpener("CLAIMTEST");
}

}  // namespace
