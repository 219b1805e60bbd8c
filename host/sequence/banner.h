// The program's banner, in the highlight colour.
#pragma once

void PrintBanner();
