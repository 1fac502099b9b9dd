#include "cab32/format/CabIo.h"

namespace cab32 {

uint32_t ByteSource::Look(SourceInfo& info, bool)
{
    info = SourceInfo();
    return Size(info.size);
}

} // namespace cab32
