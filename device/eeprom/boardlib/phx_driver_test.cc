#include "device/eeprom/boardlib/phx_driver.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/testing/simulated_driver_seam.h"

namespace {

PhxResult R(unsigned int bits) { return static_cast<PhxResult>(bits); }

class BoardLibrary : public ::testing::Test {
 protected:
  ~BoardLibrary() override { PhxDrvReleaseLib(); }  // no test leaves the library connected

  simboard::MemoryWordStore store;
  simboard::SimBoardDriver driver{store, simboard::DefaultDevices(), {}};
  SimulatedDriverSeam seam{driver};
};

TEST_F(BoardLibrary, ConnectOpensBothEntriesAndShakesHandsWithTheVersion) {
  EXPECT_EQ(PhxDrvConnectLib(), 0);
  EXPECT_EQ(seam.OpenEntries(), 2);
  EXPECT_FALSE(seam.badOpenFlags());
  EXPECT_EQ(driver.handshakes(), 1);  // the driver accepts only 2.44.1.0
  EXPECT_EQ(PhxDrvConnectLib(), PHX_ERROR_ALREADY_CONNECTED);
  EXPECT_EQ(driver.handshakes(), 1);
  EXPECT_EQ(PhxDrvReleaseLib(), 0);
  EXPECT_EQ(seam.OpenEntries(), 0);
  EXPECT_EQ(PhxDrvReleaseLib(), PHX_WARNING_NOT_CONNECTED);
  EXPECT_EQ(PhxDrvConnectLib(), 0);  // and again after a release
}

TEST_F(BoardLibrary, MissingEntriesAndDescriptorZeroFailTheConnection) {
  driver.faults().noDriverEntry = true;
  EXPECT_EQ(PhxDrvConnectLib(), PHX_ERROR_DRIVER_ENTRY);
  EXPECT_EQ(seam.OpenEntries(), 0);
  driver.faults().noDriverEntry = false;

  driver.faults().driverEntryFdZero = true;
  EXPECT_EQ(OpenOsaDriver("PHXDRV"), -1);
  EXPECT_EQ(PhxDrvConnectLib(), PHX_ERROR_DRIVER_ENTRY);
  driver.faults().driverEntryFdZero = false;

  driver.faults().noExtensionEntry = true;
  EXPECT_EQ(PhxDrvConnectLib(), PHX_ERROR_EXTENSION_ENTRY);
  EXPECT_EQ(seam.OpenEntries(), 1);  // the driver entry stays open and recorded
  EXPECT_EQ(PhxDrvConnectLib(), PHX_ERROR_ALREADY_CONNECTED);
  EXPECT_EQ(PhxDrvReleaseLib(), 0);
  EXPECT_EQ(seam.OpenEntries(), 0);
}

TEST_F(BoardLibrary, RefusedHandshakeGivesTheDriversResultAndStaysConnected) {
  driver.faults().refuseHandshake = true;
  EXPECT_EQ(PhxDrvConnectLib(), R(simboard::kVersionRefused));
  EXPECT_EQ(PhxDrvConnectLib(), PHX_ERROR_ALREADY_CONNECTED);
}

TEST_F(BoardLibrary, FailedAndEmptyRequestsHaveResultsOfTheirOwn) {
  EXPECT_EQ(PhxDrvSendCommand(0x120, 0x20000FFD), PHX_ERROR_REQUEST_FAILED);  // not connected
  ASSERT_EQ(PhxDrvConnectLib(), 0);
  driver.faults().failIoctl = true;
  EXPECT_EQ(PhxDrvSendCommand(0x120, 0x20000FFD), PHX_ERROR_REQUEST_FAILED);
  driver.faults().failIoctl = false;
  driver.faults().emptyReply = true;
  EXPECT_EQ(PhxDrvSendCommand(0x120, 0x20000FFD), PHX_ERROR_REQUEST_EMPTY);
  unsigned long iterator = 0;
  unsigned long type = 0;
  EXPECT_EQ(PhxDrvGetNextDeviceType(0, &iterator, &type), PHX_ERROR_REQUEST_EMPTY);
}

TEST_F(BoardLibrary, EnumerationWalksTypesAndDevicesByIterator) {
  ASSERT_EQ(PhxDrvConnectLib(), 0);
  std::vector<std::pair<unsigned long, long>> seen;
  unsigned long typeIterator = 0;
  unsigned long type = 0;
  PhxResult typeResult;
  while ((typeResult = PhxDrvGetNextDeviceType(0, &typeIterator, &type)) >= 0) {
    unsigned long deviceIterator = 0;
    long device = -1;
    PhxResult deviceResult;
    while ((deviceResult = PhxDrvGetNextDevice(0, type, &deviceIterator, &device)) >= 0) seen.push_back({type, device});
    EXPECT_EQ(deviceResult, R(simboard::kNoMoreDevices));
  }
  EXPECT_EQ(typeResult, R(simboard::kIteratorOutOfBounds));
  const std::vector<std::pair<unsigned long, long>> expected = {
      {3, 0x100}, {12, 0x110}, {12, 0x111}, {70, 0x120}, {71, 0x130}};
  EXPECT_EQ(seen, expected);
}

TEST_F(BoardLibrary, SendCommandCarriesTheWordAndGivesTheDriversResult) {
  ASSERT_EQ(PhxDrvConnectLib(), 0);
  EXPECT_EQ(PhxDrvSendCommand(0x120, (0x2005ul << 16) | 0x0FFD), 0);
  EXPECT_EQ(PhxDrvSendCommand(0x120, (0xBEEFul << 16) | 0x0FFF), 0);
  EXPECT_EQ(store.Read(0x2005), 0xBEEF);
  EXPECT_EQ(PhxDrvSendCommand(0x120, 0x0FFE), 0xBEEF);
  EXPECT_EQ(PhxDrvSendCommand(-1, 0x0FFE), R(simboard::kInvalidHandle));
  EXPECT_EQ(PhxDrvSendCommand(0x130, 0x0FFE), R(simboard::kUnknownCommand));
  ASSERT_EQ(driver.commands().size(), 5u);
  EXPECT_EQ(driver.commands()[1].word, 0xBEEF0FFFu);
  EXPECT_EQ(driver.commands()[3].device, -1);
}

}  // namespace
