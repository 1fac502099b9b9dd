// The cabinet writer's limit and the verifier: damaged cabinets rejected, LZX
// folders decoded on read-back.
#include <gtest/gtest.h>

#include <string>

#include <zlib.h>

#include "cab32/codec/Lzx.h"
#include "cab32/format/CabFormat.h"
#include "cab32/format/CabVerifier.h"
#include "cab32/format/CabWriter.h"
#include "tests/support/core_archive.h"

using namespace cab32;

TEST(Writer, ACabinetIsNeverWrittenPastItsLimit)
{
    std::string out;
    struct : ByteSink
    {
        std::string* data;
        uint32_t WriteAt(uint64_t offset, const void* p, size_t len) override
        {
            data->resize(std::max<size_t>(data->size(), offset + len));
            std::memcpy(&(*data)[offset], p, len);
            return 0;
        }
        uint32_t Flush() override { return 0; }
    } sink;
    sink.data = &out;
    CabinetLayout layout;
    layout.folders = 1;
    layout.files = 1;
    layout.tableBytes = kFileFixedSize + 2;
    layout.limit = 65620; // two full blocks and the tables take 65,614 bytes
    CabWriter writer(sink, layout);
    ASSERT_FALSE(writer.BeginFolder());
    const std::string block(kBlockSize, 'x');
    const uint8_t* p = reinterpret_cast<const uint8_t*>(block.data());
    EXPECT_FALSE(writer.AddBlock(p, kBlockSize, kBlockSize, DataChecksum(p, kBlockSize, kBlockSize)));
    EXPECT_FALSE(writer.AddBlock(p, kBlockSize, kBlockSize, DataChecksum(p, kBlockSize, kBlockSize)));
    EXPECT_EQ(CAB_E_CABINET_TOO_LARGE, writer.AddBlock(p, 10, 10, DataChecksum(p, 10, 10)).code);
}

TEST(Verifier, DamagedCabinetsAreRejected)
{
    MemFiles fs;
    AddFiles(fs, {std::string(40000, 'a') + Bytes(30000, 3), "bbb"});
    ASSERT_FALSE(Archive(fs));
    const std::string good = fs.files["C:\\Out\\b.cab"];
    VerifiedCabinet v;
    ASSERT_FALSE(Verify(good, v));
    for (size_t n = 0; n < good.size(); ++n)
        ASSERT_EQ(CAB_E_VERIFY_FAILED, Verify(good.substr(0, n), v).code) << n;

    // Every byte counts but the set ID and the file table (bytes 44 to 82: two records, names "f0" and "f1").
    for (size_t i = 0; i < good.size(); ++i) {
        if ((i >= 32 && i < 34) || (i >= 44 && i < 82))
            continue;
        std::string bad = good;
        bad[i] = static_cast<char>(bad[i] ^ 0x10);
        EXPECT_EQ(CAB_E_VERIFY_FAILED, Verify(bad, v).code) << "byte " << i;
    }
    // The last file claiming more than its folder holds.
    std::string bad = good;
    const size_t last = 44 + kFileFixedSize + sizeof("f0");
    bad[last] = static_cast<char>(bad[last] + 1);
    EXPECT_EQ(CAB_E_VERIFY_FAILED, Verify(bad, v).code);
}

namespace {

struct StringSink : ByteSink
{
    uint32_t WriteAt(uint64_t offset, const void* data, size_t len) override
    {
        bytes.resize(std::max<size_t>(bytes.size(), offset + len));
        std::memcpy(&bytes[offset], data, len);
        return 0;
    }
    uint32_t Flush() override { return 0; }
    std::string bytes;
};

// A one-file cabinet whose only folder is LZX, written by CabWriter.
std::string LzxCabinet(const std::string& content, int windowBits)
{
    LzxEncoder encoder(windowBits, content.size());
    encoder.Write(reinterpret_cast<const uint8_t*>(content.data()), content.size());
    encoder.Finish();
    StringSink sink;
    CabinetLayout layout;
    layout.folders = 1;
    layout.files = 1;
    layout.tableBytes = kFileFixedSize + sizeof("f0");
    CabWriter writer(sink, layout);
    EXPECT_FALSE(writer.BeginFolder(LzxTypeCompress(windowBits)));
    LzxFrame frame;
    while (encoder.TakeFrame(frame)) {
        const uint16_t cbData = static_cast<uint16_t>(frame.data.size());
        const uint16_t cbUncomp = static_cast<uint16_t>(frame.uncompressed);
        EXPECT_FALSE(
            writer.AddBlock(frame.data.data(), cbData, cbUncomp, DataChecksum(frame.data.data(), cbData, cbUncomp)));
    }
    CabFile rec;
    rec.cbFile = static_cast<uint32_t>(content.size());
    EXPECT_FALSE(writer.AddFile(rec, "f0"));
    EXPECT_FALSE(writer.Finish());
    return sink.bytes;
}

} // namespace

TEST(Verifier, LzxFoldersAreWrittenWithTheirWindowAndDecodedOnReadBack)
{
    const std::string content = Bytes(50000, 5) + std::string(70000, 'x') + Bytes(3000, 6);
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
    for (int bits : {15, 17, 21}) {
        const std::string cab = LzxCabinet(content, bits);
        CabFolder folder;
        DecodeFolder(reinterpret_cast<const uint8_t*>(cab.data()) + kHeaderSize, folder);
        EXPECT_EQ(LzxTypeCompress(bits), folder.typeCompress);
        VerifiedCabinet v;
        ASSERT_FALSE(Verify(cab, v)) << bits;
        ASSERT_EQ(1u, v.folders.size());
        EXPECT_EQ(content.size(), v.folders[0].bytes);
        EXPECT_EQ(crc, v.folders[0].crc);
    }
    // A changed payload byte under a recomputed checksum: the decoder rejects
    // it, or the content it gives differs.
    const std::string good = LzxCabinet(content, 17);
    const size_t data = kHeaderSize + kFolderSize + kFileFixedSize + sizeof("f0");
    const size_t cbData = static_cast<uint8_t>(good[data + 4]) | static_cast<uint8_t>(good[data + 5]) << 8;
    for (size_t at : {size_t(0), size_t(1), cbData / 2, cbData - 1}) {
        std::string bad = good;
        bad[data + kDataHeaderSize + at] = static_cast<char>(bad[data + kDataHeaderSize + at] ^ 0x21);
        const uint8_t* payload = reinterpret_cast<const uint8_t*>(bad.data()) + data + kDataHeaderSize;
        const uint32_t csum = DataChecksum(payload, static_cast<uint16_t>(cbData), kBlockSize);
        for (int i = 0; i < 4; ++i)
            bad[data + i] = static_cast<char>(csum >> (8 * i));
        VerifiedCabinet v;
        const bool rejected = Verify(bad, v).code == CAB_E_VERIFY_FAILED;
        EXPECT_TRUE(rejected || v.folders[0].crc != crc) << at;
    }
}
