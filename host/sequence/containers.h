// The containers the main function owns for the whole run.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

// Ordered text -> text; inserting an existing key changes nothing. Holds the command-line values
// (com, ethaddr, serialno), the backup map and the factory identity.
using OptionMap = std::map<std::string, std::string>;

// The command-line switches: autologin, interactive, rpm, noflash.
using SwitchSet = std::set<std::string>;

// U-Boot console commands without line ends, only ever appended to.
using CommandList = std::vector<std::string>;
