// The cabinets the archiver writes for one fixed tree, pinned by digest: any
// change to the writer, the compressors, the planning or the threads that
// moves one byte of them fails the tests that archive this tree (through the
// core in memory, and through CAB32.dll on real files under Wine). The tree
// holds what makes the coders work hardest: x86 calls (E8 translation), noise
// (uncompressed frames), a frame unlike its block (frames coded alone), a
// period at the smallest window less 3, runs at the longest match, files at
// the frame's edges, empty files and a name whose trail byte is a backslash.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/lzx_inputs.h"

namespace pinned {

// A file of the tree: its name below the base folder and its bytes.
using TreeFile = std::pair<std::string, std::string>;

inline std::string Text(const lzxin::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Near calls (E8 and a rel32 whose top byte is 0) among noise, as x86 code has.
inline std::string CallsAndNoise(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 16 == 0 ? 0xE8 : i % 16 == 4 ? 0 : (seed = seed * 1103515245u + 12345u) >> 16);
    return s;
}

// The tree, in the order its response file lists it (1.6 MB). No name holds
// "ro": the in-memory file system makes such files read-only.
inline std::vector<TreeFile> Tree()
{
    return {
        {"bin\\tool.exe", CallsAndNoise(200000, 4)},
        {"readme.txt", Text(lzxin::Text(20000, 1))},
        {"src\\main.c", Text(lzxin::Text(150000, 2))},
        {"src\\empty.h", ""},
        {"src\\one.h", "x"},
        {"src\\util.c", Text(lzxin::Text(33000, 3))},
        {"data\\noise.bin", Text(lzxin::Noise(70000, 5))},
        {"data\\edge32767.txt", Text(lzxin::Base64(32767, 11))},
        {"data\\edge32768.bin", Text(lzxin::Skewed(32768, 12))},
        {"data\\edge32769.txt", Text(lzxin::Text(32769, 13))},
        {"data\\unlike.bin", Text(lzxin::UnlikeItsBlock(8, 1, 4, 6))},
        {"data\\period.bin", Text(lzxin::Periodic(150000, 32768 - 3, 7))},
        {"data\\runs.bin", Text(lzxin::Runs(60000, {257, 258, 3, 1000}, 8))},
        {"data\\e8ends.bin", Text(lzxin::E8NearFrameEnds(9))},
        {"\x83\x5c\x81\x5b\x83\x58\\\x95\x5c.txt", Text(lzxin::Text(5000, 10))},
        {"src\\empty2.h", ""},
    };
}

// The response file that lists the tree, one name a line.
inline std::string ResponseFile(const std::vector<TreeFile>& tree)
{
    std::string listed;
    for (const TreeFile& f : tree)
        listed += f.first + "\r\n";
    return listed;
}

// How one pinned cabinet (or set) is made.
struct Case
{
    const char* switches;    // before -a on the command line
    bool smallFolders;       // the core run cuts folders small (MSZIP 600,000 bytes, LZX 200,000)
    uint64_t digest;         // Digest() of the cabinets
    const char* description; // what it pins
};

// Every case; those without small folders are made through the DLL too.
inline const std::vector<Case>& Cases()
{
    static const std::vector<Case> cases = {
        {"-mszip", false, 0x657E57047024B9B9ull, "MSZIP, one folder"},
        {"", false, 0xBC73CCDCCE5D91AFull, "LZX (the default), window fitted"},
        {"-mlzx15", false, 0x86D6589A938166C0ull, "LZX, 2^15 window"},
        {"-mlzx21", false, 0xBC73CCDCCE5D91AFull, "LZX, 2^21 window"},
        {"-mszip", true, 0x06C59C65F612285Eull, "MSZIP, folders of 600,000 bytes"},
        {"", true, 0x21075573377F73EFull, "LZX, folders of 200,000 bytes"},
        {"-mlzx15", true, 0x4DAEA09410BC73E5ull, "LZX 2^15, folders of 200,000 bytes"},
        {"-mlzx21", true, 0xCF71614F7A05977Cull, "LZX 2^21, folders of 200,000 bytes"},
        {"-mszip -v600000", false, 0xBFB9E687B26D10C6ull, "MSZIP, a set"},
        {"-v600000", false, 0xB5A1DFC0FDCD8D9Full, "LZX, a set"},
    };
    return cases;
}

// FNV-1a over each cabinet of a set in turn, its set ID (CFHEADER bytes 32
// and 33) taken as 0: the DLL draws one from the clock.
inline uint64_t Digest(const std::vector<std::string>& cabinets)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (const std::string& cab : cabinets) {
        for (size_t i = 0; i < cab.size(); ++i) {
            const unsigned char c = (i == 32 || i == 33) ? 0 : static_cast<unsigned char>(cab[i]);
            h = (h ^ c) * 0x100000001B3ull;
        }
        h = (h ^ cab.size()) * 0x100000001B3ull;
    }
    return h;
}

// The file name of member index (from 0) of the set whose first cabinet is "b.cab".
inline std::string MemberName(size_t index)
{
    return index == 0 ? "b.cab" : "b_" + std::to_string(index + 1) + ".cab";
}

} // namespace pinned
