// Reads the files back out of the archiver's cabinets as an extractor would,
// for tests that check what a cabinet holds rather than how it is laid out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cab32/format/CabFormat.h"
#include "cab32/codec/Lzx.h"
#include "cab32/codec/Mszip.h"

namespace cab32 {

// The files of a cabinet of LZX or MSZIP folders, by stored name, added to
// out; false when a record or a block cannot be read. Cabinets of a set can be read one
// by one: no file or folder crosses into another.
inline bool ExtractCabinet(const std::string& cab, std::map<std::string, std::string>& out)
{
    auto u16 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(cab[at]) | static_cast<uint8_t>(cab[at + 1]) << 8);
    };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (cab.size() < kHeaderSize || cab.compare(0, 4, "MSCF") != 0)
        return false;
    size_t at = kHeaderSize;
    for (uint16_t flag : {kFlagPrevCabinet, kFlagNextCabinet})
        for (int text = 0; (u16(30) & flag) && text < 2; ++text)
            at = cab.find('\0', at) + 1;
    std::vector<std::string> folders(u16(26));
    for (std::string& folder : folders) {
        const uint16_t type = static_cast<uint16_t>(u16(at + 6));
        const int bits = LzxWindowBitsOf(type);
        if (bits == 0 && type != kTypeMszip)
            return false;
        LzxDecoder lzx(bits == 0 ? kLzxMinWindowBits : bits);
        MszipDecoder mszip;
        size_t block = u32(at);
        for (uint32_t b = 0, blocks = u16(at + 4); b < blocks; ++b) {
            const size_t cbData = u16(block + 4), cbUncomp = u16(block + 6);
            if (block + kDataHeaderSize + cbData > cab.size())
                return false;
            const size_t history = std::min<size_t>(folder.size(), kBlockSize);
            folder.resize(folder.size() + cbUncomp);
            const uint8_t* in = reinterpret_cast<const uint8_t*>(cab.data()) + block + kDataHeaderSize;
            uint8_t* out = reinterpret_cast<uint8_t*>(&folder[folder.size() - cbUncomp]);
            if (bits != 0 ? !lzx.DecodeFrame(in, cbData, out, cbUncomp)
                          : !mszip.Decode(out - history, history, in, cbData, out, cbUncomp))
                return false;
            block += kDataHeaderSize + cbData;
        }
        at += kFolderSize;
    }
    at = u32(16);
    for (uint32_t f = 0, files = u16(28); f < files; ++f) {
        const size_t end = cab.find('\0', at + kFileFixedSize);
        const uint32_t size = u32(at), offset = u32(at + 4), folder = u16(at + 8);
        if (end == std::string::npos || folder >= folders.size() || offset + uint64_t(size) > folders[folder].size())
            return false;
        out[cab.substr(at + kFileFixedSize, end - at - kFileFixedSize)] = folders[folder].substr(offset, size);
        at = end + 1;
    }
    return true;
}

} // namespace cab32
