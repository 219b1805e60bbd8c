// Replacing a small file so that a reader, a crash or a power cut never leaves half of it: the text
// goes to a temporary file beside it ("NAME.tmp"), which is flushed to the disk and then renamed
// over the name, and the rename itself is made to last (POSIX: fsync of the folder; Windows:
// MoveFileEx with write-through). A temporary file that a killed writer left is taken over and
// renamed away by the next write.
#pragma once

#include <string>

// False after a failure, with the system's words for it in *error.
bool ReplaceFileDurably(const std::string& path, const std::string& text, std::string* error);

// The temporary file a write of path goes through.
std::string DurableTemporaryName(const std::string& path);
