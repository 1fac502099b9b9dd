#include "cab32/codec/LzxMatchFinder.h"

#include <algorithm>
#include <cstring>

#include "cab32/codec/LzxCommon.h"

namespace cab32 {
namespace lzx {

MatchFinder::MatchFinder(const Window& window, int windowBits, const LzxOptions& options)
    : m_window(window), m_chainDepth(options.chainDepth), m_niceLength(static_cast<uint32_t>(options.niceLength)),
      m_maxOffset(window.WindowSize() -
                  static_cast<uint32_t>(std::max(options.offsetReserve, kLzxFormatOffsetReserve))),
      m_head(1u << kHashBits, 0),
      m_chainSize(1u << std::min(windowBits, std::max(options.chainBits, kLzxMinWindowBits))), m_prev(m_chainSize, 0)
{}

} // namespace lzx
} // namespace cab32
