#include "cab32/CabIo.h"

namespace cab32 {

uint32_t ByteSource::Look(SourceInfo& info)
{
    info = SourceInfo();
    return Size(info.size);
}

} // namespace cab32
