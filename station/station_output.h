// The station's own lines, on standard output. A terminal or pipe that went away costs nothing: the
// runs go on and are settled whoever still reads.
#pragma once

#include <string>

void Say(const std::string& text);
