#include "host/sequence/step_operations.h"

#include "host/link/boot_loader_flashing.h"
#include "host/link/detection.h"
#include "host/link/flasher_upload.h"
#include "host/link/kernel_loading.h"
#include "host/sequence/environment_programming.h"
#include "host/sequence/identity_backup.h"
#include "host/sequence/system_boot.h"

std::string BoardStepOperations::DetectTarget() { return ::DetectTarget(&claim_); }

bool BoardStepOperations::ClaimPort(const std::string& port) { return ::ClaimPort(port, &claim_); }

int BoardStepOperations::BackupIdentity(const std::string& port, OptionMap& backup) {
  return ::BackupIdentity(port.c_str(), backup);
}

int BoardStepOperations::UploadFlasher(const std::string& port) { return ::UploadFlasher(port.c_str()); }

int BoardStepOperations::FlashBootLoaders(const std::string& port) {
  return ::FlashBootLoaders(port.c_str());
}

int BoardStepOperations::ProgramEnvironment(const std::string& port, const CommandList& commands) {
  return ::ProgramEnvironment(port.c_str(), commands);
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
