// An LZX folder's frames read back two ways: by our decoder and by libmspack's
// cabinet reader (an independent implementation, linked into the host tests
// and fuzzers only), the latter from a one-file cabinet held in memory.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <mspack.h>

#include "cab32/format/CabFormat.h"
#include "cab32/codec/Lzx.h"

namespace lzxref {

using Bytes = std::vector<uint8_t>;

// Encodes a whole folder, written in pieces of 'piece' bytes (0: at once);
// e8 and bits (when given) receive whether translation was on and where the
// bits went.
inline std::vector<cab32::LzxFrame> Encode(const Bytes& in, int windowBits,
                                           const cab32::LzxOptions& options = cab32::LzxOptions(), size_t piece = 0,
                                           bool* e8 = nullptr, cab32::LzxBitCounts* bits = nullptr)
{
    cab32::LzxEncoder encoder(windowBits, in.size(), options);
    for (size_t at = 0; at < in.size();) {
        const size_t n = piece ? std::min(piece, in.size() - at) : in.size();
        encoder.Write(in.data() + at, n);
        at += n;
    }
    encoder.Finish();
    std::vector<cab32::LzxFrame> frames;
    cab32::LzxFrame frame;
    while (encoder.TakeFrame(frame))
        frames.push_back(frame);
    if (e8)
        *e8 = encoder.E8Enabled();
    if (bits)
        *bits = encoder.BitCounts();
    return frames;
}

// The size of frame i (n bytes) written as an uncompressed block: the stream
// header (first frame) and block header padded to a word, R0..R2, the bytes
// and a pad byte after an odd count.
inline size_t UncompressedFrameSize(size_t i, size_t n, bool e8)
{
    const size_t headerBits = (i == 0 ? (e8 ? 33 : 1) : 0) + 3 + 24;
    return (headerBits / 16 + 1) * 2 + 12 + n + (n & 1);
}

// What is wrong with a folder's frames (empty when nothing): a payload of
// odd size or over what readers take, or over limit without being an
// uncompressed frame (16 bytes more before a short last frame: two blocks);
// a frame short of 32,768 bytes but the last; bytes missing; the payloads
// before a short last frame ending on a multiple of 4,096 (libmspack then
// decodes a whole frame there).
inline std::string FrameFault(const std::vector<cab32::LzxFrame>& frames, size_t size, uint32_t limit, bool e8)
{
    size_t total = 0, payload = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const cab32::LzxFrame& f = frames[i];
        const std::string at = "frame " + std::to_string(i) + " (" + std::to_string(f.data.size()) + " bytes): ";
        const bool beforeShortLast = i + 2 == frames.size() && frames.back().uncompressed < cab32::kLzxFrameSize;
        const size_t uncompressed = UncompressedFrameSize(i, f.uncompressed, e8);
        if (f.data.size() % 2 != 0 || f.data.size() > cab32::kLzxMaxFrameData)
            return at + "odd or over the bound";
        if (f.data.size() > limit && f.data.size() != uncompressed &&
            !(beforeShortLast && f.data.size() == uncompressed + 16))
            return at + "over the limit";
        if (beforeShortLast && (payload + f.data.size()) % 4096 == 0)
            return at + "the payloads before the short last frame end on a multiple of 4,096";
        total += f.uncompressed;
        payload += f.data.size();
        if (f.uncompressed != cab32::kLzxFrameSize && total != size)
            return at + "short but not the last";
    }
    return total == size ? std::string() : "bytes missing";
}

// Decodes with our decoder; false at the first frame it rejects. largestOffset
// (when given) receives the largest match offset the stream used.
inline bool Decode(const std::vector<cab32::LzxFrame>& frames, int windowBits, Bytes& out,
                   uint32_t* largestOffset = nullptr)
{
    cab32::LzxDecoder decoder(windowBits);
    out.clear();
    for (const cab32::LzxFrame& f : frames) {
        const size_t at = out.size();
        out.resize(at + f.uncompressed);
        if (!decoder.DecodeFrame(f.data.data(), f.data.size(), out.data() + at, f.uncompressed))
            return false;
    }
    if (largestOffset)
        *largestOffset = decoder.LargestOffset();
    return true;
}

// A one-file, one-folder cabinet holding the frames.
inline Bytes Cabinet(const std::vector<cab32::LzxFrame>& frames, size_t size, int windowBits)
{
    using namespace cab32;
    const char name[] = "f.bin";
    const size_t tables = kHeaderSize + kFolderSize + kFileFixedSize + sizeof(name);
    Bytes cab(tables);
    for (const LzxFrame& f : frames) {
        uint8_t head[kDataHeaderSize];
        const CabData d{
            DataChecksum(f.data.data(), static_cast<uint16_t>(f.data.size()), static_cast<uint16_t>(f.uncompressed)),
            static_cast<uint16_t>(f.data.size()), static_cast<uint16_t>(f.uncompressed)};
        EncodeData(d, head);
        cab.insert(cab.end(), head, head + kDataHeaderSize);
        cab.insert(cab.end(), f.data.begin(), f.data.end());
    }
    CabHeader h;
    h.cbCabinet = static_cast<uint32_t>(cab.size());
    h.coffFiles = kHeaderSize + kFolderSize;
    h.cFolders = 1;
    h.cFiles = 1;
    EncodeHeader(h, cab.data());
    const CabFolder folder{static_cast<uint32_t>(tables), static_cast<uint16_t>(frames.size()),
                           LzxTypeCompress(windowBits)};
    EncodeFolder(folder, cab.data() + kHeaderSize);
    CabFile file;
    file.cbFile = static_cast<uint32_t>(size);
    file.date = 0x5821;
    file.attribs = kAttrArchive;
    EncodeFile(file, cab.data() + kHeaderSize + kFolderSize);
    std::memcpy(cab.data() + kHeaderSize + kFolderSize + kFileFixedSize, name, sizeof(name));
    return cab;
}

// libmspack's file system, in memory: "cab" reads the cabinet, any other name
// writes the extracted file.
struct MemorySystem
{
    mspack_system sys; // first, so that libmspack's pointer is ours
    const Bytes* cab;
    Bytes* out;
};

struct MemoryFile
{
    MemorySystem* owner;
    bool reading;
    size_t pos;
};

inline mspack_file* MemOpen(mspack_system* self, const char* name, int mode)
{
    MemorySystem* m = reinterpret_cast<MemorySystem*>(self);
    const bool reading = std::strcmp(name, "cab") == 0;
    if (reading != (mode == MSPACK_SYS_OPEN_READ))
        return nullptr;
    return reinterpret_cast<mspack_file*>(new MemoryFile{m, reading, 0});
}

inline void MemClose(mspack_file* f)
{
    delete reinterpret_cast<MemoryFile*>(f);
}

inline int MemRead(mspack_file* file, void* buffer, int bytes)
{
    MemoryFile* f = reinterpret_cast<MemoryFile*>(file);
    const Bytes& cab = *f->owner->cab;
    const size_t n = std::min(static_cast<size_t>(bytes), cab.size() - std::min(f->pos, cab.size()));
    std::memcpy(buffer, cab.data() + f->pos, n);
    f->pos += n;
    return static_cast<int>(n);
}

inline int MemWrite(mspack_file* file, void* buffer, int bytes)
{
    MemoryFile* f = reinterpret_cast<MemoryFile*>(file);
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    f->owner->out->insert(f->owner->out->end(), p, p + bytes);
    return bytes;
}

inline int MemSeek(mspack_file* file, off_t offset, int mode)
{
    MemoryFile* f = reinterpret_cast<MemoryFile*>(file);
    const off_t base = mode == MSPACK_SYS_SEEK_START ? 0
                       : mode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(f->pos)
                                                     : static_cast<off_t>(f->owner->cab->size());
    if (base + offset < 0 || base + offset > static_cast<off_t>(f->owner->cab->size()))
        return -1;
    f->pos = static_cast<size_t>(base + offset);
    return 0;
}

inline off_t MemTell(mspack_file* file)
{
    return static_cast<off_t>(reinterpret_cast<MemoryFile*>(file)->pos);
}

inline void MemMessage(mspack_file*, const char*, ...) {}

inline void* MemAlloc(mspack_system*, size_t bytes)
{
    return std::malloc(bytes);
}

inline void MemFree(void* p)
{
    std::free(p);
}

inline void MemCopy(void* src, void* dest, size_t bytes)
{
    std::memmove(dest, src, bytes);
}

// The file libmspack extracts from the frames; false when it refuses them.
inline bool DecodeWithLibmspack(const std::vector<cab32::LzxFrame>& frames, size_t size, int windowBits, Bytes& out)
{
    int sizesAgree = 0;
    MSPACK_SYS_SELFTEST(sizesAgree);
    if (sizesAgree != MSPACK_ERR_OK)
        return false;
    const Bytes cab = Cabinet(frames, size, windowBits);
    out.clear();
    MemorySystem m = {
        {MemOpen, MemClose, MemRead, MemWrite, MemSeek, MemTell, MemMessage, MemAlloc, MemFree, MemCopy, nullptr},
        &cab,
        &out};
    mscab_decompressor* cabd = mspack_create_cab_decompressor(&m.sys);
    if (cabd == nullptr)
        return false;
    mscabd_cabinet* opened = cabd->open(cabd, "cab");
    const bool ok = opened && opened->files && cabd->extract(cabd, opened->files, "out") == MSPACK_ERR_OK;
    if (opened)
        cabd->close(cabd, opened);
    mspack_destroy_cab_decompressor(cabd);
    return ok;
}

// What goes wrong reading the frames back, "" when nothing does: our decoder
// and libmspack must both give data back, and no match may reach further back
// than the window less the encoder's reserve.
inline std::string ReadBackFault(const std::vector<cab32::LzxFrame>& frames, const Bytes& data, int windowBits)
{
    std::string fault;
    Bytes ours, theirs;
    uint32_t largestOffset = 0;
    if (!Decode(frames, windowBits, ours, &largestOffset) || ours != data)
        fault += "our decoder gives other bytes; ";
    else if (largestOffset > (1u << windowBits) - cab32::kLzxOffsetReserve)
        fault += "a match reaches " + std::to_string(largestOffset) + " bytes back; ";
    if (!DecodeWithLibmspack(frames, data.size(), windowBits, theirs) || theirs != data)
        fault += "libmspack gives other bytes; ";
    return fault;
}

} // namespace lzxref
