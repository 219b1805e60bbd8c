// What the ledger reads from a run's record (the JSON object BrenloFix writes with --report), and
// what becomes of an identity reserved for that run.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct RunRecord {
  bool readable = false;  // a JSON object
  std::string result;     // "running", "succeeded", "failed", "rejected", "interrupted"; "" when missing
  std::optional<int> exitStatus;
  // identity.written: saveenv stored the programmed identity on the board. Missing in records of
  // a BrenloFix that does not say.
  std::optional<bool> written;
  // The step that types the environment and saves it ended well (what an older record tells).
  bool environmentSaved = false;
  std::optional<std::string> readMac, readSerial, programmedMac, programmedSerial;
  std::optional<std::string> port, started, finished, failedStep, log;
  std::vector<std::string> images;  // "uImage 1843200 8F3A21C4"

  // The run has ended, whatever way: the record will not change any more.
  bool Final() const;
  // The board now carries this identity value ("ethaddr" or "serialno"), put there by this run:
  // written, and not what the board held before. Also for a record that does not say whether it
  // wrote but whose environment step succeeded. Empty otherwise.
  std::optional<std::string> Assigned(const std::string& key) const;
  // The value the board holds after the run, as far as the record knows: the programmed one once
  // written, else the one read from it. Empty when neither.
  std::optional<std::string> OnBoard(const std::string& key) const;

 private:
  bool Wrote() const;
  const std::optional<std::string>& Read(const std::string& key) const;
};

// Never fails: text that is no JSON object gives a record that is not readable.
RunRecord ParseRunRecord(const std::string& text);

enum class IdentityFate {
  kBound,     // written to the board: the board's for good
  kReturned,  // not written (the board kept its own, or the run ended before): back to the pool
  kToCheck,   // the record cannot tell: kept out of the pool until someone looks at the board
};
// The fate of the value reserved for a run, under key "ethaddr" or "serialno".
IdentityFate FateOfReserved(const RunRecord& record, const std::string& key, const std::string& reserved);
