#pragma once

#include <string>

// The two orders of the 95 printable characters that the home-page address is kept in.
extern const char ScrambleTableA[96];
extern const char ScrambleTableB[96];

// The maker's home-page address, scrambled.
extern const char kScrambledHomePage[];

// Each character c of text becomes ScrambleTableA[94 - p], p being the position of c in
// ScrambleTableB (0 when c is not printable ASCII).
std::string UnscrambleString(const std::string &text);
