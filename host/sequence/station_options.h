// Options of runs at a factory station, given after the classic ones: an unattended run with its
// answers and retries, and the run's record.
//   --unattended      no question waits for a person; a failed step is tried again by itself
//   --retries N       how often each failed step is tried again (0 to 99, default 2)
//   --login USER      the login of step 7 (the password comes from BRENLOFIX_PASSWORD)
//   --proxy URL       the proxy of step 8 (or the environment's BRENLOFIX_PROXY, out of every
//                     user's sight)
//   --factory-identity  a board that holds no identity gets the factory one (otherwise an
//                     unattended run given no -m and -s ends in step 1 on such a board)
//   --fallback-identity MAC,SERIAL  the identity a board that holds none gets (a station's, from
//                     its pools); a board that holds one keeps it
//   --report FILE     the run's record, one JSON object, written from the start of the run on
//   --events PATH|fd:N  the run as it goes, one JSON object a line (run_events.h), to a file or
//                     to a descriptor the parent handed down
#pragma once

#include <optional>
#include <string>

#include "host/sequence/containers.h"

constexpr char kPasswordVariable[] = "BRENLOFIX_PASSWORD";
constexpr char kProxyVariable[] = "BRENLOFIX_PROXY";
constexpr int kDefaultRetries = 2;

struct StationOptions {
  bool unattended = false;
  int retries = kDefaultRetries;
  bool retriesGiven = false;
  std::optional<std::string> login;
  std::optional<std::string> proxy;
  bool factoryIdentity = false;
  OptionMap fallbackIdentity;  // ethaddr and serialno, or empty
  std::string reportPath;      // empty: no record
  std::string events;          // PATH or fd:N; empty: no events
};

// One station option at argv[i]: the number of arguments it took (1 or 2), 0 when argv[i] is none
// of them, -1 after an error whose line is printed (and kept in *error when given). A repeated
// option keeps its first value.
int ParseStationOption(int argc, const char* const argv[], int i, StationOptions& station,
                       std::string* error = nullptr);

// Options that do not go together; prints the error line and returns false.
bool CheckStationOptions(const SwitchSet& switches, const StationOptions& station,
                         std::string* error = nullptr);

// Before anything is sent to the board: an unattended run must have every answer its steps will
// ask for (the login and password for the boot watch, the proxy for the package update). The
// password is the environment's BRENLOFIX_PASSWORD; set and empty, it means a login without one.
// The error line for the first answer missing; empty when the run has them all.
std::string MissingUnattendedAnswer(const SwitchSet& switches, const StationOptions& station,
                                    const std::optional<std::string>& password);

// The proxy question takes one line of 63 characters, its line end included.
constexpr size_t kMaxProxyLength = 62;

// True when --unattended stands anywhere on the command line, also where the parse stops early:
// an unattended run never waits for a key, not even after a command-line error.
bool UnattendedAsked(int argc, const char* const argv[]);

// The record's file of --report, also where the parse stops early (a rejected command line is
// recorded too); empty without one.
std::string ReportPathAsked(int argc, const char* const argv[]);

// Where --events sends the run's events, also where the parse stops early; empty without it.
std::string EventsAsked(int argc, const char* const argv[]);

// An unattended run given no --proxy takes BRENLOFIX_PROXY when it is set.
void TakeProxyFromEnvironment(StationOptions& station);
