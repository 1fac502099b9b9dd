#include "cab32/codec/LzxTreeWriter.h"

#include "cab32/codec/LzxCommon.h"

namespace cab32 {
namespace lzx {

namespace {

struct PretreeSymbol
{
    uint8_t symbol; // 0..19
    uint8_t extra;  // run length bits of 17, 18 and 19
    uint8_t follow; // the delta symbol after a 19
};

// Delta symbol that turns the previous length into the new one.
uint8_t Delta(uint8_t previous, uint8_t now)
{
    return static_cast<uint8_t>((previous + 17 - now) % 17);
}

// The pretree symbols for lengths[0..count): runs of zeros as 17/18, runs of
// four or five equal lengths as 19, everything else as a delta.
int ToPretreeSymbols(const uint8_t* lengths, const uint8_t* previous, int count, PretreeSymbol* out)
{
    int n = 0;
    for (int i = 0; i < count;) {
        int run = 1;
        while (i + run < count && lengths[i + run] == lengths[i])
            ++run;
        if (lengths[i] == 0 && run >= 20) {
            run = run > 51 ? 51 : run;
            out[n++] = {18, static_cast<uint8_t>(run - 20), 0};
        } else if (lengths[i] == 0 && run >= 4) {
            run = run > 19 ? 19 : run;
            out[n++] = {17, static_cast<uint8_t>(run - 4), 0};
        } else if (run >= 4) {
            run = run > 5 ? 5 : run;
            out[n++] = {19, static_cast<uint8_t>(run - 4), Delta(previous[i], lengths[i])};
        } else {
            run = 1;
            out[n++] = {Delta(previous[i], lengths[i]), 0, 0};
        }
        i += run;
    }
    return n;
}

} // namespace

void WriteLengths(BitWriter& bits, const uint8_t* lengths, const uint8_t* previous, int count)
{
    PretreeSymbol symbols[kMaxMainSymbols];
    const int n = ToPretreeSymbols(lengths, previous, count, symbols);
    uint32_t freq[kPretreeSymbols] = {};
    for (int i = 0; i < n; ++i) {
        ++freq[symbols[i].symbol];
        if (symbols[i].symbol == 19)
            ++freq[symbols[i].follow];
    }
    uint8_t treeLengths[kPretreeSymbols];
    uint16_t codes[kPretreeSymbols];
    BuildLengths(freq, kPretreeSymbols, kMaxPretreeLength, treeLengths);
    BuildCodes(treeLengths, kPretreeSymbols, codes);
    for (int i = 0; i < kPretreeSymbols; ++i)
        bits.Put(treeLengths[i], 4);
    static const int kRunBits[3] = {4, 5, 1}; // after 17, 18, 19
    for (int i = 0; i < n; ++i) {
        const PretreeSymbol& s = symbols[i];
        bits.Put(codes[s.symbol], treeLengths[s.symbol]);
        if (s.symbol >= 17)
            bits.Put(s.extra, kRunBits[s.symbol - 17]);
        if (s.symbol == 19)
            bits.Put(codes[s.follow], treeLengths[s.follow]);
    }
}

} // namespace lzx
} // namespace cab32
