// Putting the cabinets in place: a set rolled back after a failure part way,
// and steps that another program's moment's lock fails (renames, deletions,
// opens), tried again on the shared schedule.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <numeric>
#include <vector>

#include "cab32/run/Archiver.h"
#include "cab32/BriefLocks.h"
#include "tests/support/mem_files.h"

using namespace cab32;

namespace {

const char* kCommand = "-a \"C:\\Out\\b.cab\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"";
const char* kMembers[] = {"C:\\Out\\b.cab", "C:\\Out\\b_2.cab", "C:\\Out\\b_3.cab"};

std::string Noise(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return s;
}

// Three files of 50,000 bytes that do not compress: one a cabinet in a -v100000 set.
void ThreeFiles(MemFiles& fs)
{
    fs.files["C:\\Src\\respons.txt"] = "f0\r\nf1\r\nf2\r\n";
    for (int i = 0; i < 3; ++i)
        fs.files["C:\\Src\\f" + std::to_string(i)] = Noise(50000, 11 + i);
}

// Records the pauses a run asks for instead of waiting.
struct Pauses
{
    std::mutex lock;
    std::vector<unsigned> taken;
    std::function<void(unsigned)> Hook()
    {
        return [this](unsigned ms) {
            std::lock_guard<std::mutex> guard(lock);
            taken.push_back(ms);
        };
    }
    unsigned Total() { return std::accumulate(taken.begin(), taken.end(), 0u); }
};

bool IsNewTemp(MemFiles& fs, const std::string& from)
{
    return from.find(".tmp") != std::string::npos && fs.files[from].compare(0, 4, "MSCF") == 0;
}

} // namespace

// A member whose rename fails is not counted as placed: the rollback leaves
// whatever holds its name alone. A member that cannot be looked up (other
// than by being absent) stops the run before anything is replaced.
TEST(PuttingInPlace, OnlyPlacedMembersAreUndoneAndAnUnknownMemberStopsTheRun)
{
    for (int k = 0; k < 3; ++k)
        for (bool denyLookup : {false, true}) {
            SCOPED_TRACE((denyLookup ? "lookup denied at member " : "rename refused at member ") + std::to_string(k));
            MemFiles fs;
            ThreeFiles(fs);
            // Old members before k; member k is new to the set.
            for (int i = 0; i < k; ++i)
                fs.files[kMembers[i]] = "old " + std::to_string(i);
            const std::string target = kMembers[k];
            if (denyLookup) {
                fs.files[target] = "unseen";
                fs.onStat = [&](const std::string& p) { return p == target ? 5u : 0u; };
            } else {
                // Another program makes the file and holds it while the set is put in place.
                fs.onReplace = [&](const std::string& from, const std::string& to) {
                    if (to != target || !IsNewTemp(fs, from))
                        return 0u;
                    fs.files[to] = "someone else's";
                    return 17u;
                };
            }
            Pauses pauses;
            ArchiveOptions options;
            options.pause = pauses.Hook();
            ArchiveReport report;
            CabError e = RunCommand(std::string("-v100000 ") + kCommand, fs, options, report);
            EXPECT_EQ(CAB_E_REPLACE, e.code);
            EXPECT_EQ(target, e.file);
            for (int i = 0; i < 3; ++i) {
                const std::string expected = i < k        ? "old " + std::to_string(i)
                                             : i > k      ? "<none>"
                                             : denyLookup ? "unseen"
                                                          : "someone else's";
                EXPECT_EQ(expected, fs.files.count(kMembers[i]) ? fs.files[kMembers[i]] : "<none>") << kMembers[i];
            }
            EXPECT_FALSE(fs.HasTemp());
        }
}

// Each step a moment's lock can fail is tried again on the shared schedule,
// only for a sharing violation, a lock violation or access denied; a lock
// that outlasts the schedule gives today's failure.
TEST(BriefLocks, RenamesDeletionsAndOpensAreTriedAgainOnTheSchedule)
{
    const unsigned schedule = std::accumulate(std::begin(kBriefLockPauses), std::end(kBriefLockPauses), 0u);
    const size_t tries = std::size(kBriefLockPauses) + 1;
    EXPECT_GE(schedule, 1500u);
    EXPECT_LE(schedule, 2500u);
    struct Case
    {
        const char* what;
        const char* prefix; // before the command
        int refusals;       // how many times the step fails before it works
        uint32_t error;     // with this error
        int step;           // 0 replace of b.cab, 1 open of f1, 2 removal of a temporary file, 3 set member moved aside
        int code;           // the run's result
    } cases[] = {
        {"rename, sharing violation once", "", 1, 32, 0, CAB_OK},
        {"rename, lock violation three times", "", 3, 33, 0, CAB_OK},
        {"rename, access denied until the last try", "", int(tries) - 1, 5, 0, CAB_OK},
        {"rename, locked for good", "", 1000, 32, 0, CAB_E_REPLACE},
        {"rename, another error", "", 1, 17, 0, CAB_E_REPLACE},
        {"open, sharing violation twice", "", 2, 32, 1, CAB_OK},
        {"open, locked for good", "", 1000, 32, 1, CAB_E_SOURCE_OPEN},
        {"open, no such file is not waited for", "", 1, 2, 1, CAB_E_FILES_LEFT_OUT},
        {"temporary file removed after a failure", "", 2, 32, 2, CAB_E_WRITE},
        {"set member moved aside", "-v100000 ", 2, 32, 3, CAB_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemFiles fs;
        ThreeFiles(fs);
        for (const char* member : kMembers)
            fs.files[member] = "old";
        int tried = 0;
        auto refuse = [&]() -> uint32_t { return ++tried <= c.refusals ? c.error : 0; };
        if (c.step == 0)
            fs.onReplace = [&](const std::string& from, const std::string& to) {
                return to == kMembers[0] && IsNewTemp(fs, from) ? refuse() : 0u;
            };
        if (c.step == 1)
            fs.refuseOpen = [&](const std::string& p) { return p == "C:\\Src\\f1" ? refuse() : 0u; };
        if (c.step == 2) {
            fs.diskRoom = 2000;
            fs.onRemove = [&](const std::string& p) { return p.find(".tmp") != std::string::npos ? refuse() : 0u; };
        }
        if (c.step == 3)
            fs.onReplace = [&](const std::string& from, const std::string&) {
                return from == kMembers[1] ? refuse() : 0u;
            };
        Pauses pauses;
        ArchiveOptions options;
        options.pause = pauses.Hook();
        ArchiveReport report;
        EXPECT_EQ(c.code, RunCommand(c.prefix + std::string(kCommand), fs, options, report).code);
        const int expectedTries = c.error == 2 || c.error == 17 ? 1 : std::min<int>(c.refusals + 1, int(tries));
        EXPECT_EQ(expectedTries, tried);
        EXPECT_EQ(size_t(expectedTries - 1), pauses.taken.size());
        if (c.refusals == 1000) {
            EXPECT_EQ(schedule, pauses.Total()) << "the whole schedule, then today's failure";
        }
        EXPECT_FALSE(fs.HasTemp());
        const bool made = c.code == CAB_OK || c.code == CAB_E_FILES_LEFT_OUT;
        EXPECT_EQ(made ? "MSCF" : "old", fs.files[kMembers[0]].substr(0, made ? 4 : 3));
    }
}

// A read-only target is refused at once: no lock of a moment makes it writable.
TEST(BriefLocks, AReadOnlyTargetIsNotWaitedFor)
{
    MemFiles fs;
    ThreeFiles(fs);
    fs.files["C:\\Out\\ro.cab"] = "old";
    Pauses pauses;
    ArchiveOptions options;
    options.pause = pauses.Hook();
    ArchiveReport report;
    EXPECT_EQ(CAB_E_REPLACE,
              RunCommand("-a \"C:\\Out\\ro.cab\" \"C:\\Src\\\" \"@C:\\Src\\respons.txt\"", fs, options, report).code);
    EXPECT_TRUE(fs.files["C:\\Out\\ro.cab"] == "old") << "replaced";
    EXPECT_TRUE(pauses.taken.empty());
    EXPECT_FALSE(fs.HasTemp());
}
