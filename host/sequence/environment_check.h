// What step 4 compares after saving: the value each typed "setenv" stores, and what printenv
// answers. U-Boot's shell keeps a single-quoted value as the text between the quotes and any other
// value as typed, so the expected value comes from the command text itself.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/sequence/containers.h"

// One variable the typed list sets: the value U-Boot should hold and the command that sets it.
struct TypedVariable {
  std::string value;
  std::string command;
};

// Every variable that a "setenv NAME VALUE" of the list sets; a later command for the same name
// wins. Commands that set nothing (saveenv, setenv NAME alone) are left out.
std::map<std::string, TypedVariable> TypedVariables(const CommandList& commands);

// The name=value lines among the lines printenv's answer was read as (line ends included);
// everything else (the echo, the prompt, the size line) is left out.
std::map<std::string, std::string> PrintedVariables(const std::vector<std::string>& lines);

// The names, in alphabetical order, of the typed variables that printenv lacks or shows with
// another value.
std::vector<std::string> DifferingVariables(const std::map<std::string, TypedVariable>& typed,
                                            const std::map<std::string, std::string>& printed);
