#include "host/platform/durable_file.h"

std::string DurableTemporaryName(const std::string& path) { return path + ".tmp"; }
