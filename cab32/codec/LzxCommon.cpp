#include "cab32/codec/LzxCommon.h"

#include <algorithm>
#include <cstring>

#include "cab32/codec/Lzx.h"

namespace cab32 {

int LzxWindowBitsOf(uint16_t typeCompress)
{
    const int bits = typeCompress >> 8;
    if ((typeCompress & 0x00FF) != 0x0003 || bits < kLzxMinWindowBits || bits > kLzxMaxWindowBits)
        return 0;
    return bits;
}

int LzxWindowBitsFor(uint64_t folderBytes)
{
    int bits = kLzxMinWindowBits;
    while (bits < kLzxMaxWindowBits && (uint64_t(1) << bits) < folderBytes)
        ++bits;
    return bits;
}

namespace lzx {

int SlotsForWindow(int windowBits)
{
    static const int kSlots[] = {30, 32, 34, 36, 38, 42, 50};
    return kSlots[windowBits - kLzxMinWindowBits];
}

namespace {

// Huffman code lengths without a limit; returns the longest. Symbols of
// frequency 0 get length 0; at least two symbols must occur.
int HuffmanLengths(const uint32_t* freq, int count, uint8_t* lengths)
{
    int leaves[kMaxMainSymbols];
    int n = 0;
    for (int i = 0; i < count; ++i)
        if (freq[i] != 0)
            leaves[n++] = i;
    std::stable_sort(leaves, leaves + n, [freq](int a, int b) { return freq[a] < freq[b]; });
    // Nodes 0..n-1 are the sorted leaves, n.. the internal nodes in the order made.
    uint64_t weight[2 * kMaxMainSymbols];
    int parent[2 * kMaxMainSymbols];
    for (int i = 0; i < n; ++i)
        weight[i] = freq[leaves[i]];
    int nextLeaf = 0, nextNode = n, made = n;
    auto takeSmallest = [&]() {
        if (nextLeaf < n && (nextNode >= made || weight[nextLeaf] <= weight[nextNode]))
            return nextLeaf++;
        return nextNode++;
    };
    while (made < 2 * n - 1) {
        const int a = takeSmallest();
        const int b = takeSmallest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
        ++made;
    }
    int depth[2 * kMaxMainSymbols];
    depth[made - 1] = 0;
    int longest = 0;
    std::memset(lengths, 0, static_cast<size_t>(count));
    for (int i = made - 2; i >= 0; --i) {
        depth[i] = depth[parent[i]] + 1;
        if (i < n) {
            lengths[leaves[i]] = static_cast<uint8_t>(depth[i]);
            longest = std::max(longest, depth[i]);
        }
    }
    return longest;
}

} // namespace

void BuildLengths(const uint32_t* freq, int count, int maxLength, uint8_t* lengths)
{
    uint32_t work[kMaxMainSymbols];
    int used = 0;
    for (int i = 0; i < count; ++i) {
        work[i] = freq[i];
        used += freq[i] != 0;
    }
    if (used == 0) {
        std::memset(lengths, 0, static_cast<size_t>(count));
        return;
    }
    // A code of one symbol is not complete: give it a partner.
    for (int i = 0; used == 1 && i < count; ++i)
        if (work[i] == 0) {
            work[i] = 1;
            used = 2;
        }
    // Too long: flatten the frequencies and try again.
    while (HuffmanLengths(work, count, lengths) > maxLength)
        for (int i = 0; i < count; ++i)
            if (work[i] != 0)
                work[i] = (work[i] >> 1) | 1;
}

void BuildCodes(const uint8_t* lengths, int count, uint16_t* codes)
{
    int perLength[kMaxCodeLength + 1] = {};
    for (int i = 0; i < count; ++i)
        ++perLength[lengths[i]];
    perLength[0] = 0;
    uint32_t next[kMaxCodeLength + 2] = {};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + static_cast<uint32_t>(perLength[len - 1])) << 1;
        next[len] = code;
    }
    for (int i = 0; i < count; ++i)
        codes[i] = lengths[i] ? static_cast<uint16_t>(next[lengths[i]]++) : 0;
}

void TranslateE8(uint8_t* data, size_t len, uint32_t pos, int32_t size, bool toAbsolute)
{
    if (len <= 10)
        return;
    int64_t cur = pos;
    for (size_t i = 0; i < len - 10; ++i, ++cur) {
        if (data[i] != 0xE8)
            continue;
        uint8_t* p = data + i + 1;
        const int64_t v =
            static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        int64_t out = v;
        if (v >= -cur && v < size) {
            if (toAbsolute)
                out = v < size - cur ? v + cur : v - size;
            else
                out = v >= 0 ? v - cur : v + size;
        }
        const uint32_t u = static_cast<uint32_t>(out);
        p[0] = static_cast<uint8_t>(u);
        p[1] = static_cast<uint8_t>(u >> 8);
        p[2] = static_cast<uint8_t>(u >> 16);
        p[3] = static_cast<uint8_t>(u >> 24);
        i += 4;
        cur += 4;
    }
}

} // namespace lzx
} // namespace cab32
