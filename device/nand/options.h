// uboot-nand's command line: [options] command [arguments], options anywhere before "--".
#ifndef DEVICE_NAND_OPTIONS_H
#define DEVICE_NAND_OPTIONS_H

#include "device/nand/commands.h"

// Reads --file/-f and --yes/-y with getopt_long (which may permute argv) and fills settings.
// Unknown options and missing arguments are passed over after getopt_long's own diagnostic.
void ParseOptions(int argc, char** argv, RunSettings* settings);

#endif  // DEVICE_NAND_OPTIONS_H
