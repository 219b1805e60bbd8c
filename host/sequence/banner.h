// The program's banner, in the highlight colour.
#pragma once

// The version the banner shows and the run's record carries.
constexpr char kBrenloFixVersion[] = "3.0.1";

void PrintBanner();
