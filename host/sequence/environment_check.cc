#include "host/sequence/environment_check.h"

namespace {

constexpr char kSetenv[] = "setenv ";

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::map<std::string, TypedVariable> TypedVariables(const CommandList& commands) {
  std::map<std::string, TypedVariable> typed;
  const size_t prefix = sizeof kSetenv - 1;
  for (const std::string& command : commands) {
    if (command.compare(0, prefix, kSetenv) != 0) continue;
    const size_t space = command.find(' ', prefix);
    if (space == std::string::npos || space == prefix) continue;
    std::string value = command.substr(space + 1);
    const bool quoted = value.size() >= 2 && value.front() == '\'' && value.find('\'', 1) == value.size() - 1;
    if (quoted) value = value.substr(1, value.size() - 2);
    typed[command.substr(prefix, space - prefix)] = TypedVariable{value, command};
  }
  return typed;
}

std::map<std::string, std::string> PrintedVariables(const std::vector<std::string>& lines) {
  std::map<std::string, std::string> printed;
  for (std::string line : lines) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    bool isName = true;
    for (size_t i = 0; i < equals && isName; ++i) isName = IsNameCharacter(line[i]);
    if (isName) printed[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return printed;
}

std::vector<std::string> DifferingVariables(const std::map<std::string, TypedVariable>& typed,
                                            const std::map<std::string, std::string>& printed) {
  std::vector<std::string> differing;
  for (const auto& [name, variable] : typed) {
    const auto found = printed.find(name);
    if (found == printed.end() || found->second != variable.value) differing.push_back(name);
  }
  return differing;
}
