// The archiver's messages: the Japanese text of each result code and the one
// line it writes into the caller's output buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cab32/run/Archiver.h"
#include "cab32/format/CabError.h"

namespace cab32 {

// The fixed text for a result code (code page 932).
const char* ResultText(int code);

// One line for the caller's buffer: the result's text, the file it concerns,
// the response file line, and the system's own description of the error. A
// cabinet made with files left out gives more lines: one a file, fitted
// whole into room bytes.
std::string FormatResult(const CabError& error, const ArchiveReport& report, size_t room = SIZE_MAX);

// Copies text into out (size bytes including the terminator), cut at a
// character boundary; does nothing for a null buffer or size 0.
void CopyOut(const char* text, size_t len, char* out, uint32_t size, LeadByteTest lead);

} // namespace cab32
