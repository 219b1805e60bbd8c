// This station's instance: the unique name its lease in the ledger is held by, and a lock file on
// this PC that names it (one per name and user). A second station of the same name and user on
// this PC is refused at once; and the
// next start after a station was killed (its lock is free again) knows that instance is dead, so
// that its lease can be ended at once instead of waiting for it to run out.
#pragma once

#include <memory>
#include <string>

class StationInstance {
 public:
  ~StationInstance();
  StationInstance(const StationInstance&) = delete;
  StationInstance& operator=(const StationInstance&) = delete;

  // The instance, or null with the reason in words. *previous: the instance of the last station of
  // this name on this PC, which is dead ("" when none was recorded).
  static std::unique_ptr<StationInstance> Make(const std::string& station, std::string* previous,
                                               std::string* words);
  const std::string& Name() const { return name_; }

 private:
  StationInstance(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  int fd_;
  std::string name_;
};
