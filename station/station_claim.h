// The station's hold on each of its ports for its whole life: two stations never drive one port.
// A lock file per port (the same key as BrenloFix's own claims, a name of the station's), locked
// with flock, so it ends with the process however it ends. A claim that cannot be made, for
// whatever reason, refuses the port: it never fails open.
#pragma once

#include <memory>
#include <string>

class StationClaim {
 public:
  ~StationClaim();
  StationClaim(const StationClaim&) = delete;
  StationClaim& operator=(const StationClaim&) = delete;

  // The claim, or null with the reason in words in *words.
  static std::unique_ptr<StationClaim> Make(const std::string& port, std::string* words);
  // Where claims are kept: /run/lock when this user may write there, else /tmp.
  static std::string Folder();

 private:
  static std::unique_ptr<StationClaim> TryOnce(const std::string& port, std::string* words, bool* again);
  StationClaim(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};
