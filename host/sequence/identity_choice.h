// Which serial number and MAC address the board gets: the command line's, else the backed-up
// ones, else the factory identity.
#pragma once

#include "host/sequence/containers.h"

// ethaddr 02:1B:4D:00:00:00, serialno QV4N150101XXX.
OptionMap FactoryIdentity();

// True when the map holds both serialno and ethaddr.
bool HoldsIdentity(const OptionMap& map);

// Prints every entry in key order as "key = value", highlighted.
void PrintIdentity(const OptionMap& identity);

// Appends "setenv serialno ...", "setenv ethaddr ..." and "saveenv".
void AppendIdentityCommands(const OptionMap& identity, CommandList& commands);
