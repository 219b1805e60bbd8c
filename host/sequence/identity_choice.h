// Which serial number and MAC address the board gets: the command line's, else the backed-up
// ones, else the factory identity.
#pragma once

#include "host/sequence/containers.h"

// ethaddr 02:1B:4D:00:00:00, serialno QV4N150101XXX.
OptionMap FactoryIdentity();

// True when the map holds both serialno and ethaddr.
bool HoldsIdentity(const OptionMap& map);

// True when the map holds both and U-Boot keeps them as they are typed (IsSerialNumber,
// IsMacAddress): an identity that can be programmed back.
bool IsProgrammableIdentity(const OptionMap& map);

// The warning before an identity read from the board that is not programmed back, showing it
// (bytes that are no printable ASCII as \xNN). Printed and logged.
void WarnUnprogrammableIdentity(const OptionMap& read);

// The line that ends an unattended run on a board without an identity when none was given.
extern const char kNoIdentityGiven[];

// Prints every entry in key order as "key = value", highlighted.
void PrintIdentity(const OptionMap& identity);

// Appends "setenv serialno ...", "setenv ethaddr ..." and "saveenv".
void AppendIdentityCommands(const OptionMap& identity, CommandList& commands);
