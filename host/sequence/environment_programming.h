// Steps 4 and 6: type the U-Boot environment, and copy the kernel into its ten NAND slots.
#pragma once

#include <functional>

#include "host/sequence/containers.h"

// How often step 4 reads the saved environment back before it gives up.
constexpr int kEnvironmentCheckRounds = 3;

// Restarts the freshly flashed board, stops it at the U-Boot prompt, types every command of the
// list (the last one is saveenv) and waits for "Writing to Nand... done". Then reads the
// environment back with printenv: a variable that is missing or differs from what its command
// stores is typed again and saved, up to checkRounds reads in all (0: no read-back). 1 when every
// variable holds its typed value, 0 on failure. saving, when given, is called just before saveenv
// is first typed.
int ProgramEnvironment(const char* portName, const CommandList& commands,
                       int checkRounds = kEnvironmentCheckRounds, const std::function<void()>& saving = {});

// Runs make_nand_kernel_clones at the prompt the kernel upload left and counts the ten
// "written: OK", then reads every copy back and checks it (kernel_copies_check.h). 1 on success,
// 0 on failure.
int MakeKernelClones(const char* portName);

// The percentage shown after typing command index of count: 0 for the first, 100 for the last.
unsigned TypingPercent(unsigned index, unsigned count);
