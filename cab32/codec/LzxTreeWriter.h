// Sending an LZX block's Huffman code lengths, as pretree deltas against the
// previous block's.
#pragma once

#include <cstdint>

#include "cab32/codec/LzxBitWriter.h"

namespace cab32 {
namespace lzx {

// Writes code lengths[0..count) as a pretree (20 lengths of 4 bits) and the
// pretree symbols that turn previous (the same range of the previous block's
// tree, zeros at first) into them.
void WriteLengths(BitWriter& bits, const uint8_t* lengths, const uint8_t* previous, int count);

} // namespace lzx
} // namespace cab32
