// Loading the boot loader and flasher images: each transfer step loads its whole image before it
// waits for the target's first answer, so that a bad file is reported before the exchange starts
// and the data goes out without touching the disk again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// Loads the file (relative to the current directory, nothing else is searched) into bytes.
// On failure prints the reason and returns false, leaving bytes empty:
//   "Can't open file NAME"                                the file cannot be opened
//   "Error: image file NAME is empty."                    there is nothing to send
//   "Error: cannot read image file NAME (N of L bytes)."  a short read: zeros are never sent
//                                                         in place of the image
bool LoadImageBytes(const char* fileName, std::vector<uint8_t>* bytes);

// The read itself, once the file is open and its length known: length bytes in one read, or
// false with the short-read message above.
bool ReadImageBytes(std::FILE* file, const char* fileName, long length,
                    std::vector<uint8_t>* bytes);

// The word shape the boot ROM takes: word i holds bytes 4i to 4i+3, the first of them least
// significant, with zero bytes after the end; (size + 3) / 4 words.
std::vector<uint32_t> ImageWords(const std::vector<uint8_t>& bytes);

// Loads the file as words; byteLength receives the file length. Same messages as LoadImageBytes.
bool LoadImageWords(const char* fileName, std::vector<uint32_t>* words, uint32_t* byteLength);
