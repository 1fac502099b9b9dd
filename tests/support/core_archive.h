// Archiving in memory for the core's tests: files listed by a response file
// in C:\Src\, a cabinet made in C:\Out\, and a cabinet read back.
#pragma once

#include <string>
#include <vector>

#include "cab32/format/CabFormat.h"
#include "cab32/format/CabVerifier.h"
#include "cab32/run/Archiver.h"
#include "tests/support/MemorySource.h"
#include "tests/support/mem_files.h"

namespace cab32 {

inline std::string Bytes(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return s;
}

inline const char* kProgramCommand = "-a \"C:\\Out\\b.cab\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"";

inline CabError Archive(MemFiles& fs, const std::string& command = kProgramCommand, ArchiveOptions options = {},
                        ArchiveReport* report = nullptr)
{
    ArchiveReport unused;
    if (!options.pause)
        options.pause = [](unsigned) {}; // a moment's lock is tried again without waiting
    return RunCommand(command, fs, options, report ? *report : unused);
}

// Lists files f0, f1... with the given contents in the response file.
inline void AddFiles(MemFiles& fs, const std::vector<std::string>& contents)
{
    fs.files["C:\\Src\\respons.txt"].clear();
    for (size_t i = 0; i < contents.size(); ++i) {
        fs.files["C:\\Src\\f" + std::to_string(i)] = contents[i];
        fs.files["C:\\Src\\respons.txt"] += "f" + std::to_string(i) + "\n";
    }
}

// The typeCompress of a cabinet's first folder.
inline uint16_t CabFolderType(const std::string& cab)
{
    size_t at = 36;
    for (uint16_t flag : {kFlagPrevCabinet, kFlagNextCabinet})
        for (int text = 0; (static_cast<uint8_t>(cab[30]) & flag) && text < 2; ++text)
            at = cab.find('\0', at) + 1;
    return static_cast<uint16_t>(static_cast<uint8_t>(cab[at + 6]) | static_cast<uint8_t>(cab[at + 7]) << 8);
}

inline CabError Verify(const std::string& cabinet, VerifiedCabinet& v)
{
    MemorySource src(cabinet);
    return VerifyCabinet(src, v);
}

} // namespace cab32
