// The console capture of a run that ended, read back from the station's records folder for the
// page. Only the capture the station itself wrote beside the run's record is read: the record's
// path comes from the ledger (as the station reserved the run), never from a request.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The capture records/console-NAME.txt of the record records/record-NAME.json, from byte `from`
// on and at most `most` bytes. Nothing (nullopt) when the record is not in the folder `records`
// or its name is not one the station makes, or when the capture is missing or not a plain file
// (a link is not followed).
std::optional<std::string> ReadRunCapture(const std::string& records, const std::string& recordPath,
                                          std::size_t from, std::size_t most);
