#include "host/platform/inherited_descriptor.h"

namespace {
constexpr char kUnsupported[] = "a Windows program cannot write to an inherited descriptor by number";
}  // namespace

bool InheritedDescriptorWritable(int /*descriptor*/, std::string* words) {
  *words = kUnsupported;
  return false;
}

bool WriteToInheritedDescriptor(int /*descriptor*/, const std::string& /*text*/, std::string* words) {
  *words = kUnsupported;
  return false;
}
