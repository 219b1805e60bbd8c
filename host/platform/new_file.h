// Creating a file only when no file of that name exists, in one step: two programs that want the
// same name at the same moment cannot both get it.
#pragma once

#include <cstdio>
#include <string>

enum class NewFileResult { kCreated, kExists, kFailed };

// Opens a new file for binary writing; *file is set when the result is kCreated.
NewFileResult CreateNewFile(const std::string& name, std::FILE** file);
