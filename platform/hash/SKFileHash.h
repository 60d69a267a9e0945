#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

class SmartFD;

// Digests of an open file, read once from its current position to its end in 256 KiB blocks. False
// (and no digest written) when the bytes read do not add up to the file's size, which is how a read
// error or a file that changed while being read shows.
bool HashFile(SmartFD& file, uint8_t* md5 /* 16 bytes or null */, uint8_t* sha1 /* 20 bytes or null */);
bool HashFileSha1(SmartFD& file, uint8_t* sha1 /* 20 bytes */);
