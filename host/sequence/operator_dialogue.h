// The operator's answers during a run: confirming the identity values, the retry question of a
// failed step and the closing key wait.
#pragma once

#include <string>

#include "host/sequence/containers.h"

// Shows every entry of the map in key order and lets the operator confirm ("Y"/"y") or retype
// ("N"/"n") it; a retyped value is asked for again until it is valid on its own. Changes stay in
// the map. The colour is left highlighted. False when the input ended before every entry was
// settled (the rest of the map is left as it was).
bool ConfirmValues(OptionMap& map);

// Prints the question and reads one key: true only for a lower-case "r". End of input is a refusal.
bool AskRetry(const std::string& question);

// "Press any key.." and one key.
void WaitForAnyKey();
