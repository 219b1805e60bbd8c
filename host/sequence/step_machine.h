// The numbered steps of a flashing run, from finding the board to the package update, with the
// retry question of every flashing step and the lines that end the run.
#pragma once

#include "host/sequence/containers.h"
#include "host/sequence/step_operations.h"

// Runs from step 0 to an end. options loses its "com" entry when one was given; commands gets the
// identity lines in step 1. True when the run succeeded; false when it ended in failure (board not
// found, backup failed, a retry refused, the operator's input ended).
bool RunSteps(StepOperations& steps, OptionMap& options, const SwitchSet& switches,
              CommandList& commands);
