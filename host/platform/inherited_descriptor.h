// Output to a file descriptor the parent process handed down open (a pipe a station reads the
// run's events from). POSIX only: a Windows program gets no numbered descriptors from its parent
// that it could name this way, and says so.
#pragma once

#include <string>

// True when the descriptor is open for writing in this process; false with the reason in *words.
bool InheritedDescriptorWritable(int descriptor, std::string* words);

// Writes the whole text, going on after interruptions and short writes. False with the reason in
// *words (a reader that went away, a full disk); a reader that went away never ends the process.
bool WriteToInheritedDescriptor(int descriptor, const std::string& text, std::string* words);
