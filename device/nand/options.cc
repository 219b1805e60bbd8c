#include "device/nand/options.h"

#include <getopt.h>

void ParseOptions(int argc, char** argv, RunSettings* settings) {
  static const struct option kLongOptions[] = {
      {"file", required_argument, 0, 'f'},
      {"yes", no_argument, 0, 'y'},
      {0, 0, 0, 0},
  };
  settings->envPath = "/dev/mtd0";
  settings->forceWrite = false;
  optind = 0;  // a full restart of getopt's scan, also when parsed more than once
  int option;
  while ((option = getopt_long(argc, argv, "f:y", kLongOptions, 0)) != -1) {
    switch (option) {
      case 'f':
        settings->envPath = optarg;
        break;
      case 'y':
        settings->forceWrite = true;
        break;
      default:
        break;  // getopt_long has printed its diagnostic
    }
  }
  settings->command = optind < argc ? argv[optind] : "help";
  const int first = optind < argc ? optind + 1 : argc;
  settings->argumentCount = argc - first;
  settings->arguments = argv + first;
}
