#include "host/sequence/banner.h"

#include <iostream>
#include <string>

#include "host/platform/console.h"

void PrintBanner() {
  const std::string rule(53, '-');
  SetConsoleColour(kColourHighlight);
  std::cout << "\n"
            << rule << "\n"
            << "BrenloFix\n"
            << "Version: " << kBrenloFixVersion << ", build: Jun 23 2014 13:23:22\n"
            << rule << "\n"
            << std::endl;
  SetConsoleColour(kColourNormal);
}
