// The operations of the numbered steps, behind one interface so that the step machine runs the
// real ones in the program and scripted ones in its tests. Each returns non-zero on success and
// prints its own reasons.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/platform/port_claim.h"
#include "host/sequence/containers.h"
#include "host/sequence/identity_backup.h"

class StepOperations {
 public:
  virtual ~StepOperations() = default;
  virtual std::string DetectTarget() = 0;                                       // step 0
  virtual int BackupIdentity(const std::string& port, OptionMap& backup,       // step 1
                             WithoutIdentity without) = 0;
  virtual int UploadFlasher(const std::string& port) = 0;                      // step 2
  virtual int FlashBootLoaders(const std::string& port) = 0;                   // step 3
  // Step 4; saving is called just before saveenv is first typed.
  virtual int ProgramEnvironment(const std::string& port, const CommandList& commands,
                                 const std::function<void()>& saving) = 0;
  virtual int UploadKernel(const std::string& port) = 0;                       // step 5
  virtual int MakeKernelClones(const std::string& port) = 0;                   // step 6
  virtual int WatchSystemBoot(const std::string& port) = 0;                    // step 7
  virtual int UpdateKernelPackages(const std::string& port) = 0;               // step 8
  // Holds the port given with -p for the whole run; false when another run holds it, with the
  // words of what stands in the way in *trouble when it is no plain claim of another run. (A port
  // that DetectTarget found is held already.)
  virtual bool ClaimPort(const std::string& /*port*/, std::string* /*trouble*/) { return true; }
  // The identity values the board's U-Boot said it does not hold ("not defined") in the last
  // BackupIdentity; empty when it held both or showed no U-Boot.
  virtual std::vector<std::string> LackingIdentity() const { return {}; }
};

// The real steps, talking to the board. With a TFTP server's address, step 5 has U-Boot fetch the
// kernel from it; without, the kernel goes by YModem on the serial line. Either way it is checked
// in the board's memory before step 6 copies it.
class BoardStepOperations : public StepOperations {
 public:
  explicit BoardStepOperations(std::string tftpServer = std::string()) : tftpServer_(std::move(tftpServer)) {}
  void SetTftpServer(const std::string& server) { tftpServer_ = server; }
  std::string DetectTarget() override;
  int BackupIdentity(const std::string& port, OptionMap& backup, WithoutIdentity without) override;
  int UploadFlasher(const std::string& port) override;
  int FlashBootLoaders(const std::string& port) override;
  int ProgramEnvironment(const std::string& port, const CommandList& commands,
                         const std::function<void()>& saving) override;
  int UploadKernel(const std::string& port) override;
  int MakeKernelClones(const std::string& port) override;
  int WatchSystemBoot(const std::string& port) override;
  int UpdateKernelPackages(const std::string& port) override;
  bool ClaimPort(const std::string& port, std::string* trouble) override;
  std::vector<std::string> LackingIdentity() const override { return lacking_; }
  // Lets go of the run's port at once (the run is interrupted); from any thread.
  void ReleasePortClaim();

 private:
  std::string tftpServer_;
  std::vector<std::string> lacking_;
  std::mutex claimMutex_;
  std::unique_ptr<PortClaim> claim_;  // the run's port, from step 0 to the end
};
