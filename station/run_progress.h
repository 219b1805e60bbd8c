// What the station knows of a run while it goes: its step, attempt, transfer, retries and the
// identity it read, from BrenloFix's events (one JSON object a line), or, from a BrenloFix that
// writes none, from the step lines of its console output. The record stays the run's final word.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct StepDone {
  int step = 0;
  std::string name;
  double seconds = 0;
  std::string result;
};

struct Identity {
  std::string mac;
  std::string serial;
};

struct RunProgress {
  std::optional<int> step;
  std::string stepName = "starting";
  int steps = 0;  // how many the run goes through (0: not told)
  int attempt = 0;
  int retries = 0;
  std::optional<long long> bytes;
  std::optional<long long> total;
  std::optional<Identity> read;
  std::optional<Identity> toProgram;
  std::string source;  // "given", "kept", "fallback", "factory", "none"; "" before step 1 ended
  bool identityWritten = false;
  std::string words;  // the last failed step's words
  std::vector<StepDone> stepsDone;
  std::optional<std::string> result;  // from run-end
  bool eventsSeen = false;

  // One line of the events stream. False when it is no event this station reads (it is skipped).
  bool TakeEvent(const std::string& line);
  // One line of the console output (up to a line feed or a carriage return); read only while no
  // event has come.
  void TakeConsoleLine(const std::string& line);
  // The transfer's percent, when one goes.
  std::optional<int> Percent() const;
};
