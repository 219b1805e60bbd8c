#include "host/platform/serial_line.h"

#include <gtest/gtest.h>

#include "host/platform/serial_line_backends.h"
#include "host/platform/serial_line_settings.h"

namespace {

TEST(WindowsDevicePathTest, PortsFromTenOnGoThroughTheDeviceNamespace) {
  EXPECT_EQ(WindowsDevicePath("COM1"), "COM1");
  EXPECT_EQ(WindowsDevicePath("COM9"), "COM9");
  EXPECT_EQ(WindowsDevicePath("COM10"), "\\\\.\\COM10");
  EXPECT_EQ(WindowsDevicePath("com256"), "\\\\.\\com256");
  EXPECT_EQ(WindowsDevicePath("COM"), "COM");
  EXPECT_EQ(WindowsDevicePath("COM1x"), "COM1x");
  EXPECT_EQ(WindowsDevicePath("\\\\.\\COM12"), "\\\\.\\COM12");
  EXPECT_EQ(WindowsDevicePath("/dev/ttyS10"), "/dev/ttyS10");
}

TEST(LineSettingsTest, ModeStringsAsBuildCommDCBTakesThem) {
  LineSettings settings;
  ASSERT_TRUE(ParseLineSettings("baud=115200 data=8 parity=n stop=1 xon=off", &settings));
  EXPECT_EQ(settings.baud, 115200u);
  EXPECT_EQ(settings.dataBits, 8);
  EXPECT_EQ(settings.parity, 'n');
  EXPECT_EQ(settings.stopBits, 1);
  EXPECT_FALSE(settings.xonXoff);
  EXPECT_FALSE(settings.rtsCts);

  ASSERT_TRUE(ParseLineSettings("BAUD=9600  data=7 parity=E stop=1.5 xon=on octs=on dtr=on to=off", &settings));
  EXPECT_EQ(settings.baud, 9600u);
  EXPECT_EQ(settings.dataBits, 7);
  EXPECT_EQ(settings.parity, 'e');
  EXPECT_EQ(settings.stopBits, 15);
  EXPECT_TRUE(settings.xonXoff);
  EXPECT_TRUE(settings.rtsCts);

  const LineSettings before = settings;
  for (const char* bad : {"", "   ", "baud", "=9600", "baud=", "baud=0", "baud=fast", "data=9", "parity=x",
                          "stop=3", "xon=maybe", "speed=9600", "baud=9600 data=4"}) {
    EXPECT_FALSE(ParseLineSettings(bad, &settings)) << bad;
  }
  EXPECT_FALSE(ParseLineSettings(nullptr, &settings));
  EXPECT_EQ(settings.baud, before.baud);  // a refused text changes nothing
  EXPECT_EQ(settings.dataBits, before.dataBits);
}

TEST(SerialLineRegistryTest, RegisteredPrefixesComeFirstAndCanBeRemoved) {
  int calls = 0;
  RegisterSerialLineOpener("TESTLINE", [&](const std::string& name, int* error) -> std::unique_ptr<SerialLine> {
    ++calls;
    EXPECT_EQ(name, "TESTLINE7");
    *error = 1234;
    return nullptr;
  });
  int error = 0;
  EXPECT_FALSE(OpenSerialLine("TESTLINE7", &error));
  EXPECT_EQ(error, 1234);
  EXPECT_EQ(calls, 1);
  UnregisterSerialLineOpener("TESTLINE");
  EXPECT_FALSE(OpenSerialLine("TESTLINE7", &error));
  EXPECT_EQ(calls, 1);
  EXPECT_NE(error, 0);  // the platform's own open failed with its own error
  EXPECT_NE(error, 1234);
}

}  // namespace
