#include "cab32/format/CabVerifier.h"
#include "cab32/run/PutInPlace.h"
#include "cab32/run/Stages.h"

namespace cab32 {

namespace {

// Compares a cabinet read back with what was written.
bool SameAsWritten(const VerifiedCabinet& v, const WrittenCabinet& w)
{
    if (v.size != w.bytes || v.files != w.layout.files || v.tableCrc != w.tableCrc || v.setID != w.layout.setID ||
        v.iCabinet != w.layout.iCabinet || v.prevName != w.layout.prevName || v.nextName != w.layout.nextName ||
        v.prevDisk != w.layout.prevName || v.nextDisk != w.layout.nextName || v.folders.size() != w.folders.size())
        return false;
    for (size_t i = 0; i < w.folders.size(); ++i) {
        if (v.folders[i].bytes != w.folders[i].bytes || v.folders[i].blocks != w.folders[i].blocks ||
            v.folders[i].stored != w.folders[i].stored || (w.readBackCrcs && v.folders[i].crc != w.folders[i].crc))
            return false;
    }
    return true;
}

} // namespace

// Read-back: every cabinet must hold exactly what was written. MSZIP blocks
// were decompressed again as they were made; LZX folders are decoded here and
// the CRC-32 of their bytes compared with that of the bytes fed to them. A
// CRC-32 of every CFDATA record read back, the header fields, the file
// table's CRC-32 and the set links are compared with what was written.
CabError ReadBack(FileOpener& files, const ArchiveOptions& options, const std::vector<WrittenCabinet>& written)
{
    if (RunControl* control = options.control) {
        uint64_t bytes = 0;
        for (const WrittenCabinet& w : written)
            bytes += w.bytes;
        control->verifyTotal = bytes;
        control->phase = RunPhase::Verifying;
    }
    for (const WrittenCabinet& w : written) {
        if (Cancelled(options))
            return MakeError(CAB_E_CANCELLED);
        std::unique_ptr<ByteSource> back;
        SourceInfo info;
        if (uint32_t sys = Retried(options.pause, [&] { return files.OpenRead(w.tempPath, back, info); }))
            return MakeError(CAB_E_VERIFY_READ, w.target, sys);
        VerifiedCabinet verified;
        ReadBackProgress progress;
        if (options.control != nullptr)
            progress = {&options.control->verifyDone, &options.control->cancel};
        if (CabError e = VerifyCabinet(*back, verified, Decoding::LzxOnly, progress))
            return Named(e, w.target);
        if (!SameAsWritten(verified, w)) {
            CabError e = MakeError(CAB_E_VERIFY_FAILED, w.target);
            e.detail = "content differs from what was written";
            return e;
        }
    }
    return Cancelled(options) ? MakeError(CAB_E_CANCELLED) : CabError();
}

} // namespace cab32
