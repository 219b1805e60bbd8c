#include "host/platform/port_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "host/platform/port_list_names.h"
#include "host/testing/temp_path.h"

namespace {

TEST(PortListTest, RegistryDataBecomeNumberedPortsInNumberOrder) {
  for (const std::vector<std::string>& order :
       {std::vector<std::string>{"COM10", "COM3", "COM1"}, {"COM1", "COM10", "COM3"}, {"COM3", "COM1", "COM10"}}) {
    PortMap ports;
    for (const std::string& data : order) AddComPort(data, &ports);
    ASSERT_EQ(ports.size(), 3u);
    auto it = ports.begin();
    EXPECT_EQ(*it++, (PortMap::value_type{1, "COM1"}));
    EXPECT_EQ(*it++, (PortMap::value_type{3, "COM3"}));
    EXPECT_EQ(*it++, (PortMap::value_type{10, "COM10"}));
  }
}

TEST(PortListTest, DuplicatesKeepTheFirstAndOtherNamesAreSkipped) {
  PortMap ports;
  for (const char* data : {"COM5", "COM05", "\\Device\\VCP0", "CNCA0", "COM", "COMx1", "COM7 ", "com8", "COM99999999999"}) {
    AddComPort(data, &ports);
  }
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports.at(5), "COM5");
  uint32_t number = 0;
  EXPECT_TRUE(ParseComPortName("COM4294967295", &number));
  EXPECT_EQ(number, 4294967295u);
}

TEST(PortListTest, NaturalOrderOfDeviceNames) {
  std::vector<std::string> names = {"ttyUSB10", "ttyS10", "ttyS2", "ttyUSB1", "ttyACM0", "ttyS0", "ttyUSB2"};
  std::sort(names.begin(), names.end(), NaturalLess);
  EXPECT_EQ(names, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB1", "ttyUSB2", "ttyUSB10"}));
  EXPECT_FALSE(NaturalLess("ttyS1", "ttyS1"));
}

TEST(PortListTest, LinuxListsTtysThatHaveADeviceAndANode) {
  const std::string root = UniqueTempPath("port_list_test");
  const std::string sys = root + "/sys";
  const std::string dev = root + "/dev";
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(sys);
  std::filesystem::create_directories(dev);
  auto addTty = [&](const std::string& name, bool device, bool node) {
    std::filesystem::create_directories(sys + "/" + name);
    if (device) std::filesystem::create_directories(sys + "/" + name + "/device");
    if (node) std::ofstream(dev + "/" + name) << "";
  };
  addTty("ttyUSB10", true, true);
  addTty("ttyUSB2", true, true);
  addTty("ttyACM0", true, true);
  addTty("tty1", false, true);     // a virtual terminal
  addTty("console", false, true);
  addTty("ttyUSB3", true, false);  // unplugged: its node is gone
  const PortMap ports = ListTtyPorts(sys, dev);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports.at(0), dev + "/ttyACM0");
  EXPECT_EQ(ports.at(1), dev + "/ttyUSB2");
  EXPECT_EQ(ports.at(2), dev + "/ttyUSB10");
  EXPECT_TRUE(ListTtyPorts(root + "/missing", dev).empty());
  std::filesystem::remove_all(root);
}

PortMap OnePort() { return {{7, "COM7"}}; }

TEST(PortListTest, TestsCanReplaceTheListing) {
  SetPortLister(&OnePort);
  EXPECT_EQ(ListSerialPorts(), OnePort());
  SetPortLister(nullptr);
}

}  // namespace
