// The LZX encoder's parse: which literals and matches code a block, chosen
// lazily. At each position the match finder's best match is taken unless the
// next position offers a better one, in which case a literal goes first.
#pragma once

#include <cstdint>
#include <vector>

#include "cab32/codec/LzxBlockWriter.h"
#include "cab32/codec/LzxMatchFinder.h"
#include "cab32/codec/LzxWindow.h"

namespace cab32 {
namespace lzx {

// Parses the block being filled (window.BlockStart() to window.End()) into
// items; a match of niceLength bytes is taken without looking further. reps:
// the repeated offsets, carried from block to block.
void ParseLazily(const Window& window, MatchFinder& finder, uint32_t niceLength, uint32_t reps[3],
                 std::vector<Item>& items);

} // namespace lzx
} // namespace cab32
