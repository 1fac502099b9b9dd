#include "cab32/run/Archiver.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "cab32/format/CabFormat.h"
#include "cab32/run/PutInPlace.h"
#include "cab32/run/RunPlan.h"
#include "cab32/run/Stages.h"

namespace cab32 {

double StageClock()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

namespace {

// The options as the command line settles them: its -v lowers the cabinet's
// limit, its -m names the method and window.
ArchiveOptions Settled(const ArchiveOptions& given, const CommandLine& command)
{
    ArchiveOptions options = given;
    options.cabinetLimit = std::min(options.cabinetLimit, kMaxCabinetBytes);
    if (command.cabinetLimit != 0)
        options.cabinetLimit = std::min(options.cabinetLimit, command.cabinetLimit);
    if (command.method != Method::Default) {
        options.method = command.method;
        options.lzxWindowBits = command.lzxWindowBits;
    }
    return options;
}

// Runs one stage, adding the time it took to seconds.
template <class Stage> CabError Timed(double& seconds, Stage&& stage)
{
    const double start = StageClock();
    CabError e = stage();
    seconds += StageClock() - start;
    return e;
}

// What the run made, and its outcome: a cabinet with files left out is not a success.
CabError Outcome(const CommandLine& command, const RunPlan& plan, ArchiveReport& report)
{
    report.files = static_cast<uint32_t>(plan.files.size());
    for (const PlannedCabinet& c : plan.cabinets)
        report.folders += c.folders;
    report.cabinets = static_cast<uint32_t>(plan.cabinets.size());
    report.leftOut = plan.leftOut;
    return report.leftOut.empty() ? CabError() : MakeError(CAB_E_FILES_LEFT_OUT, command.cabinet);
}

} // namespace

CabError RunCommand(std::string_view commandLine, FileOpener& files, const ArchiveOptions& given, ArchiveReport& report)
{
    report = ArchiveReport();
    const double start = StageClock();
    CommandLine command;
    if (CabError e = ParseCommandLine(commandLine, command, given.lead))
        return e;
    report.cabinet = command.cabinet;
    const ArchiveOptions options = Settled(given, command);
    StageTimes& times = report.times;
    RunPlan plan;
    if (CabError e = Timed(times.plan, [&] { return PlanRun(command, files, options, plan); }))
        return e;
    TempFileGuard guard(files, options.pause);
    std::vector<WrittenCabinet> written;
    if (CabError e = WriteSteady(command, files, options, plan, report, written, guard))
        return e;
    if (CabError e = Timed(times.verify, [&] { return ReadBack(files, options, written); }))
        return e;
    if (CabError e = Timed(times.finish, [&] { return PutInPlace(files, options, written, guard); }))
        return e;
    times.total = StageClock() - start;
    return Outcome(command, plan, report);
}

} // namespace cab32
