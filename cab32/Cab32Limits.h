// What the archiver's default run (LZX, no -v) can store, for a caller that
// chooses the files and would rather leave one out than have the run fail.
#pragma once

// The largest file it stores: a file must fit one cabinet (2,147,483,647
// bytes) even if none of its 32,768-byte blocks compresses, each block then
// taking up to 44 bytes more (an uncompressed LZX frame's headers and its
// CFDATA record's), with the header, the longest set links, one folder and the
// file's record: 2,144,602,551 bytes at the least room those leave, rounded
// down. A larger file fails the run with CAB_E_FILE_TOO_LARGE.
constexpr unsigned long long kCab32LargestFile = 2144000000ull;

// The longest name, in bytes, a cabinet stores (CAB_E_NAME_TOO_LONG past it).
constexpr int kCab32LongestName = 255;
