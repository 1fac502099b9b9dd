// Files through the system's handles: a source and a sink over an open
// handle, and what the cabinet records of a file the system describes (size,
// last write, local DOS date and time, the attributes it keeps).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "cab32/format/CabIo.h"

namespace cab32 {

// The calling thread's last error; a general failure when it says none.
uint32_t LastError();

// A source reading the open handle h, which it closes.
std::unique_ptr<ByteSource> SourceOnHandle(HANDLE h);

// A sink writing the open handle h, which it closes.
std::unique_ptr<ByteSink> SinkOnHandle(HANDLE h);

// What the cabinet records of a file the system describes by size, attributes and last write.
void Describe(uint64_t size, DWORD attributes, const FILETIME& written, SourceInfo& info);

uint64_t SizeOf(DWORD high, DWORD low);

// Size, time and attributes of the file an open handle reads: for a link, its target.
uint32_t InfoOfHandle(HANDLE h, SourceInfo& info);

} // namespace cab32
