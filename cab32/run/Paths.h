// Paths as the archiver holds them: text in the ANSI code page, whose
// double-byte characters may carry a backslash as their second byte, so every
// walk over a path steps over whole characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cab32 {

// Tells whether a byte starts a double-byte character of the ANSI code page.
using LeadByteTest = bool (*)(unsigned char);

// The lead bytes of code page 932 (Shift-JIS).
bool IsLeadByte932(unsigned char c);

// True for "C:...", "\..." and "/..." paths: the ones not taken relative to the base folder.
bool IsAbsolutePath(std::string_view path);

// True when the path's last character is a backslash (not a double-byte character's trail byte).
bool EndsWithBackslash(std::string_view path, LeadByteTest lead);

// The folder part of a file path, with its last backslash; empty for a bare name.
std::string FolderOf(std::string_view path, LeadByteTest lead);

// The file name alone, without its folder.
std::string NameOnly(const std::string& path, LeadByteTest lead);

// The file name of a set's cabinet: index 0 is the target itself, index n the
// target with "_<n + 1>" before its extension.
std::string SetMemberPath(const std::string& cabinet, uint32_t index, LeadByteTest lead);

} // namespace cab32
