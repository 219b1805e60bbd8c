#include "host/sequence/step_operations.h"

#include "host/link/boot_loader_flashing.h"
#include "host/link/detection.h"
#include "host/link/flasher_upload.h"
#include "host/link/kernel_loading.h"
#include "host/sequence/environment_programming.h"
#include "host/sequence/identity_backup.h"
#include "host/sequence/system_boot.h"

std::string BoardStepOperations::DetectTarget() {
  std::unique_ptr<PortClaim> claim;
  const std::string port = ::DetectTarget(&claim);
  std::lock_guard<std::mutex> lock(claimMutex_);
  claim_ = std::move(claim);
  return port;
}

bool BoardStepOperations::ClaimPort(const std::string& port, std::string* trouble) {
  std::unique_ptr<PortClaim> claim;
  if (!::ClaimPort(port, &claim, trouble)) return false;
  std::lock_guard<std::mutex> lock(claimMutex_);
  claim_ = std::move(claim);
  return true;
}

void BoardStepOperations::ReleasePortClaim() {
  std::lock_guard<std::mutex> lock(claimMutex_);
  claim_.reset();
}

int BoardStepOperations::BackupIdentity(const std::string& port, OptionMap& backup, WithoutIdentity without) {
  return ::BackupIdentity(port.c_str(), backup, without, &lacking_);
}

int BoardStepOperations::UploadFlasher(const std::string& port) { return ::UploadFlasher(port.c_str()); }

int BoardStepOperations::FlashBootLoaders(const std::string& port) {
  return ::FlashBootLoaders(port.c_str());
}

int BoardStepOperations::ProgramEnvironment(const std::string& port, const CommandList& commands,
                                            const std::function<void()>& saving) {
  return ::ProgramEnvironment(port.c_str(), commands, kEnvironmentCheckRounds, saving);
}

int BoardStepOperations::UploadKernel(const std::string& port) {
  return LoadKernel(port.c_str(), tftpServer_.c_str());
}

int BoardStepOperations::MakeKernelClones(const std::string& port) {
  return ::MakeKernelClones(port.c_str());
}

int BoardStepOperations::WatchSystemBoot(const std::string& port) { return ::WatchSystemBoot(port.c_str()); }

int BoardStepOperations::UpdateKernelPackages(const std::string& port) {
  return ::UpdateKernelPackages(port.c_str());
}
