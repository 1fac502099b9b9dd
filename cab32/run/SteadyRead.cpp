#include "cab32/run/SteadyRead.h"

#include <algorithm>

#include "cab32/format/CabFormat.h"
#include "cab32/run/PutInPlace.h"

namespace cab32 {

namespace {

bool SameVersion(const SourceInfo& look, uint64_t size, uint64_t written)
{
    return look.size == size && look.written == written;
}

// Reads up to want bytes from where the source stands into r.head, then
// looks at the file; false (with r.error) when either fails.
bool ReadAndLook(ByteSource& source, size_t want, const std::string& path, FileRead& r, SourceInfo& look)
{
    r.head.resize(want);
    size_t got = 0;
    if (uint32_t sys = source.Read(r.head.data(), want, got)) {
        r.error = MakeError(CAB_E_SOURCE_READ, path, sys);
        return false;
    }
    r.head.resize(got);
    if (uint32_t sys = source.Look(look, false)) {
        r.error = MakeError(CAB_E_SOURCE_READ, path, sys);
        return false;
    }
    return true;
}

// Takes the version read, with its dates, as the one to store.
void Renew(ByteSource& source, const std::string& path, FileRead& r)
{
    r.motion = Motion::Renewed;
    if (uint32_t sys = source.Look(r.seen, true))
        r.error = MakeError(CAB_E_SOURCE_READ, path, sys);
}

// Left out, its bytes given back.
void Leave(FileRead& r, Motion motion)
{
    r.motion = motion;
    r.head.clear();
    r.head.shrink_to_fit();
}

} // namespace

// Each reading reads as many bytes as the look before it gave; two readings
// in a row that agree, byte for byte and in the looks after them, make a
// steady version.
void ReadWhole(ByteSource& source, const PlannedFile& listed, const std::string& path,
               const std::function<void(unsigned)>& pause, FileRead& r)
{
    SourceInfo look;
    if (!ReadAndLook(source, static_cast<size_t>(listed.size), path, r, look))
        return;
    if (r.head.size() == listed.size && SameVersion(look, listed.size, listed.written))
        return;
    for (unsigned ms : kSettlePauses) {
        if (look.size > kWholeFile)
            return Leave(r, Motion::Replan);
        const SourceInfo before = look;
        std::vector<uint8_t> earlier;
        earlier.swap(r.head);
        PauseFor(pause, ms);
        if (uint32_t sys = source.Seek(0)) {
            r.error = MakeError(CAB_E_SOURCE_READ, path, sys);
            return;
        }
        if (!ReadAndLook(source, static_cast<size_t>(before.size), path, r, look))
            return;
        // A write time may stand still for a few milliseconds: the bytes must agree too.
        if (r.head.size() == before.size && r.head == earlier && SameVersion(look, before.size, before.written)) {
            // Its dates come from one more look; a change since shows when the file is next read.
            return Renew(source, path, r);
        }
    }
    Leave(r, Motion::Changed);
}

void ReadHead(std::unique_ptr<ByteSource> source, const PlannedFile& listed, const std::string& path, FileRead& r)
{
    if (uint32_t sys = source->Look(r.seen, false)) {
        r.error = MakeError(CAB_E_SOURCE_READ, path, sys);
        return;
    }
    if (!SameVersion(r.seen, listed.size, listed.written)) {
        const SourceInfo opened = r.seen;
        Renew(*source, path, r);
        // Changed between the two looks: not the version opened.
        if (!r.error && !SameVersion(r.seen, opened.size, opened.written))
            return Leave(r, Motion::Changed);
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(r.seen.size, kHeadOfLarge));
    SourceInfo look;
    if (!ReadAndLook(*source, want, path, r, look))
        return;
    if (r.head.size() < want)
        return Leave(r, Motion::Changed);
    if (want < r.seen.size)
        r.rest = std::move(source);
    else if (!SameVersion(look, r.seen.size, r.seen.written))
        Leave(r, Motion::Changed);
}

bool StillAsOpened(ByteSource& source, const SourceInfo& opened, const std::string& path, CabError& error)
{
    SourceInfo look;
    if (uint32_t sys = source.Look(look, false)) {
        error = MakeError(CAB_E_SOURCE_READ, path, sys);
        return false;
    }
    return SameVersion(look, opened.size, opened.written);
}

void GrowthBudget::StartCabinet(uint64_t plannedWorst, uint64_t limit)
{
    m_worst = plannedWorst;
    m_limit = limit;
    m_closed = 0;
    m_growth = 0;
}

void GrowthBudget::StartFolder(uint64_t plannedBytes, uint64_t limit)
{
    m_closed += Bound(m_growth);
    m_growth = 0;
    m_folderPlanned = plannedBytes;
    m_folderLimit = limit;
}

bool GrowthBudget::Take(uint64_t listed, uint64_t now)
{
    const int64_t growth = m_growth + static_cast<int64_t>(now) - static_cast<int64_t>(listed);
    if (static_cast<int64_t>(m_folderPlanned) + growth > static_cast<int64_t>(m_folderLimit))
        return false;
    if (m_worst + m_closed + Bound(growth) > m_limit)
        return false;
    m_growth = growth;
    return true;
}

// A folder of P bytes takes P + (worstBlock - 32,768) x ceil(P / 32,768) at
// worst; P + g then takes at most g + (worstBlock - 32,768) x (g / 32,768 + 1) more.
uint64_t GrowthBudget::Bound(int64_t g) const
{
    if (g <= 0)
        return 0;
    const uint64_t grown = static_cast<uint64_t>(g);
    return grown + (m_worstBlock - kBlockSize) * (grown / kBlockSize + 1);
}

} // namespace cab32
