// An in-memory file system for the archiver's tests, with faults to switch on:
// files that cannot be read, a full disk, renames and deletions that fail.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "cab32/CabFormat.h"
#include "cab32/CabIo.h"
#include "cab32/CommandLine.h"
#include "cab32/RunControl.h"
#include "tests/fuzz/MemorySource.h"

namespace cab32 {

// An in-memory file system with faults; the archiver reads ahead on its own thread, hence the lock.
class MemFiles : public cab32::FileOpener
{
    using Guard = std::lock_guard<std::recursive_mutex>;

public:
    std::recursive_mutex lock;
    std::map<std::string, std::string> files;
    std::set<std::string> folders = {"C:\\Src\\", "C:\\Out\\"};
    std::set<std::string> unreadable;               // open works, reading fails
    size_t diskRoom = SIZE_MAX;                     // bytes all sinks together may write
    std::set<std::string> refuseAsTarget;           // the next Replace onto each of these fails
    std::function<void(const std::string&)> onOpen; // called with every path opened for reading, may change it
    std::function<uint32_t(const std::string&, const std::string&)> onReplace; // may refuse a rename (from, to)
    std::function<uint32_t(const std::string&)> onRemove;                      // may refuse a deletion
    RunControl control;                                                        // progress and cancel of the run
    int temps = 0;

    uint32_t Stat(const std::string& path, SourceInfo& info) override
    {
        Guard guard(lock);
        info = SourceInfo();
        info.isFolder = folders.count(path + "\\") != 0;
        if (info.isFolder || !files.count(path))
            return info.isFolder ? 0 : 2;
        info.size = files[path].size();
        info.dosDate = 0x2A43; // 2001-02-03
        info.dosTime = 0x20A3; // 04:05:06
        info.attribs = path.find("ro") != std::string::npos ? kAttrReadOnly | kAttrArchive : kAttrArchive;
        return 0;
    }

    uint32_t OpenRead(const std::string& path, std::unique_ptr<ByteSource>& file, SourceInfo& info) override
    {
        Guard guard(lock);
        if (onOpen)
            onOpen(path);
        if (uint32_t err = Stat(path, info))
            return err;
        const std::string data = info.isFolder ? std::string() : files[path];
        file.reset(unreadable.count(path) ? new Unreadable(data) : new MemorySource(data));
        return 0;
    }

    uint32_t CreateTemp(const std::string& target, std::unique_ptr<ByteSink>& file, std::string& tempPath) override
    {
        Guard guard(lock);
        std::string folder = FolderOf(target, IsLeadByte932);
        if (!folders.count(folder))
            return 3;
        tempPath = folder + "cab" + std::to_string(++temps) + ".tmp";
        files[tempPath];
        file.reset(new Sink(*this, tempPath));
        return 0;
    }

    uint32_t Replace(const std::string& tempPath, const std::string& target) override
    {
        Guard guard(lock);
        if (refuseAsTarget.erase(target))
            return 5;
        if (uint32_t err = onReplace ? onReplace(tempPath, target) : 0)
            return err;
        files[target] = files[tempPath];
        files.erase(tempPath);
        return 0;
    }

    uint32_t Remove(const std::string& path) override
    {
        Guard guard(lock);
        if (uint32_t err = onRemove ? onRemove(path) : 0)
            return err;
        files.erase(path);
        return 0;
    }

    // Short names listed for their true names: listed name -> (stored name, UTF-8).
    std::map<std::string, std::pair<std::string, bool>> longNames;

    uint32_t StoredName(const std::string& base, const std::string& name, std::string& stored, bool& utf8) override
    {
        Guard guard(lock);
        auto found = longNames.find(name);
        if (found == longNames.end())
            return FileOpener::StoredName(base, name, stored, utf8);
        stored = found->second.first;
        utf8 = found->second.second;
        return 0;
    }

    bool HasTemp() const
    {
        return std::any_of(files.begin(), files.end(),
                           [](const auto& f) { return f.first.find(".tmp") != std::string::npos; });
    }

private:
    struct Unreadable : MemorySource
    {
        using MemorySource::MemorySource;
        uint32_t Read(void*, size_t, size_t&) override { return 23; }
    };

    struct Sink : ByteSink
    {
        Sink(MemFiles& owner, std::string path) : owner(owner), path(std::move(path)) {}
        uint32_t WriteAt(uint64_t offset, const void* data, size_t len) override
        {
            Guard guard(owner.lock);
            if (len > owner.diskRoom)
                return 112;
            owner.diskRoom -= len;
            std::string& f = owner.files[path];
            f.resize(std::max<size_t>(f.size(), offset + len));
            std::memcpy(&f[offset], data, len);
            return 0;
        }
        uint32_t Flush() override { return 0; }
        MemFiles& owner;
        std::string path;
    };
};

} // namespace cab32
