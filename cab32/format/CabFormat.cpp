#include "cab32/format/CabFormat.h"

#include <cstring>

namespace cab32 {

namespace {

void Put16(uint8_t*& p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p += 2;
}

void Put32(uint8_t*& p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    p += 4;
}

uint16_t Get16(const uint8_t*& p)
{
    uint16_t v = static_cast<uint16_t>(p[0] | (p[1] << 8));
    p += 2;
    return v;
}

uint32_t Get32(const uint8_t*& p)
{
    uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                 (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    p += 4;
    return v;
}

} // namespace

void EncodeHeader(const CabHeader& h, uint8_t out[kHeaderSize])
{
    uint8_t* p = out;
    std::memcpy(p, h.signature, 4);
    p += 4;
    Put32(p, h.reserved1);
    Put32(p, h.cbCabinet);
    Put32(p, h.reserved2);
    Put32(p, h.coffFiles);
    Put32(p, h.reserved3);
    *p++ = h.versionMinor;
    *p++ = h.versionMajor;
    Put16(p, h.cFolders);
    Put16(p, h.cFiles);
    Put16(p, h.flags);
    Put16(p, h.setID);
    Put16(p, h.iCabinet);
}

void DecodeHeader(const uint8_t in[kHeaderSize], CabHeader& h)
{
    const uint8_t* p = in;
    std::memcpy(h.signature, p, 4);
    p += 4;
    h.reserved1 = Get32(p);
    h.cbCabinet = Get32(p);
    h.reserved2 = Get32(p);
    h.coffFiles = Get32(p);
    h.reserved3 = Get32(p);
    h.versionMinor = *p++;
    h.versionMajor = *p++;
    h.cFolders = Get16(p);
    h.cFiles = Get16(p);
    h.flags = Get16(p);
    h.setID = Get16(p);
    h.iCabinet = Get16(p);
}

void EncodeFolder(const CabFolder& f, uint8_t out[kFolderSize])
{
    uint8_t* p = out;
    Put32(p, f.coffCabStart);
    Put16(p, f.cCFData);
    Put16(p, f.typeCompress);
}

void DecodeFolder(const uint8_t in[kFolderSize], CabFolder& f)
{
    const uint8_t* p = in;
    f.coffCabStart = Get32(p);
    f.cCFData = Get16(p);
    f.typeCompress = Get16(p);
}

void EncodeFile(const CabFile& f, uint8_t out[kFileFixedSize])
{
    uint8_t* p = out;
    Put32(p, f.cbFile);
    Put32(p, f.uoffFolderStart);
    Put16(p, f.iFolder);
    Put16(p, f.date);
    Put16(p, f.time);
    Put16(p, f.attribs);
}

void DecodeFile(const uint8_t in[kFileFixedSize], CabFile& f)
{
    const uint8_t* p = in;
    f.cbFile = Get32(p);
    f.uoffFolderStart = Get32(p);
    f.iFolder = Get16(p);
    f.date = Get16(p);
    f.time = Get16(p);
    f.attribs = Get16(p);
}

void EncodeData(const CabData& d, uint8_t out[kDataHeaderSize])
{
    uint8_t* p = out;
    Put32(p, d.csum);
    Put16(p, d.cbData);
    Put16(p, d.cbUncomp);
}

void DecodeData(const uint8_t in[kDataHeaderSize], CabData& d)
{
    const uint8_t* p = in;
    d.csum = Get32(p);
    d.cbData = Get16(p);
    d.cbUncomp = Get16(p);
}

uint32_t Checksum(const uint8_t* data, size_t len, uint32_t seed)
{
    uint32_t sum = seed;
    size_t words = len / 4;
    const uint8_t* p = data;
    for (size_t i = 0; i < words; ++i, p += 4)
        sum ^= static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
               (static_cast<uint32_t>(p[3]) << 24);
    uint32_t rest = 0;
    switch (len % 4) {
    case 3: rest = (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2]; break;
    case 2: rest = (static_cast<uint32_t>(p[0]) << 8) | p[1]; break;
    case 1: rest = p[0]; break;
    default: break;
    }
    return sum ^ rest;
}

uint32_t DataChecksum(const uint8_t* payload, uint16_t cbData, uint16_t cbUncomp)
{
    uint8_t sizes[4] = {static_cast<uint8_t>(cbData), static_cast<uint8_t>(cbData >> 8), static_cast<uint8_t>(cbUncomp),
                        static_cast<uint8_t>(cbUncomp >> 8)};
    return Checksum(sizes, 4, Checksum(payload, cbData, 0));
}

void MakeDosDateTime(int year, int month, int day, int hour, int minute, int second, uint16_t& date, uint16_t& time)
{
    if (year < 1980) {
        year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    } else if (year > 2107) {
        year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 58;
    }
    date = static_cast<uint16_t>(((year - 1980) << 9) | ((month & 15) << 5) | (day & 31));
    time = static_cast<uint16_t>(((hour & 31) << 11) | ((minute & 63) << 5) | ((second / 2) & 31));
}

} // namespace cab32
