// The numbered steps of a flashing run, from finding the board to the package update, with the
// retry question of every flashing step and the lines that end the run.
#pragma once

#include "host/sequence/containers.h"
#include "host/sequence/step_operations.h"

#include <vector>

class ConsoleTail;
class RunEvents;
class RunReport;
class UnattendedConsole;

// How a run goes beyond the command line's switches. The defaults are an operator's run.
struct RunSettings {
  // Set for an unattended run: nobody answers questions, a failed step is tried again up to
  // `retries` times, and a question the run has no answer for ends it.
  const UnattendedConsole* unattended = nullptr;
  int retries = 2;
  // An unattended run given no identity programs the factory identity on a board that holds none
  // only with this set; otherwise it ends in step 1, before the board is erased.
  bool factoryIdentity = false;
  // The identity (ethaddr and serialno) to program on a board that holds none when the command line
  // gave none; a board that holds one keeps it. It takes the factory identity's place.
  OptionMap fallbackIdentity;
  // Filled as the run goes and written at the end of every step, when given. The run's end is
  // written before any key wait.
  RunReport* report = nullptr;
  // The run as it goes, for a program that follows it, when given; the report tells it of the
  // steps, the identity written and the end, the machine of the identity chosen and the retries.
  RunEvents* events = nullptr;
  // The program's last console lines, when kept: a failed try's words for the events.
  ConsoleTail* consoleTail = nullptr;
};

// Runs from step 0 to an end. options loses its "com" entry when one was given; commands gets the
// identity lines in step 1. True when the run succeeded; false when it ended in failure (board not
// found, backup failed, no identity for an unattended run, a retry refused, the operator's input
// ended).
bool RunSteps(StepOperations& steps, OptionMap& options, const SwitchSet& switches, CommandList& commands,
              const RunSettings& settings = RunSettings());

// The name of step 0 to 8 in the run's record and in an unattended run's step lines.
const char* StepName(int step);

// The steps a run with these switches goes through when every one succeeds, in order.
std::vector<int> PlannedSteps(const SwitchSet& switches);
