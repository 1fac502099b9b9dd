// An in-memory file system for the archiver's tests, with faults to switch on:
// files that cannot be read, a full disk, renames, deletions, lookups and
// opens that fail, and files that change while they are read.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "cab32/format/CabFormat.h"
#include "cab32/run/FileOpener.h"
#include "cab32/run/Paths.h"
#include "cab32/run/RunControl.h"
#include "tests/support/MemorySource.h"

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
    std::set<std::string> refuseAsTarget;           // the next Replace onto each of these fails (for good)
    std::function<void(const std::string&)> onOpen; // called with every path opened for reading, may change it
    std::function<uint32_t(const std::string&, const std::string&)> onReplace; // may refuse a rename (from, to)
    std::function<uint32_t(const std::string&)> onRemove;                      // may refuse a deletion
    std::function<uint32_t(const std::string&)> onStat;                        // may refuse a lookup
    std::function<uint32_t(const std::string&)> refuseOpen;                    // may refuse an open for reading
    // Called before each piece (kPiece bytes at most) a source reads, with its path and offset; may change the file.
    std::function<void(const std::string&, uint64_t)> onRead;
    std::map<std::string, uint64_t> stamps; // a file's last write, moved on by Change
    static constexpr size_t kPiece = 8192;
    RunControl control; // progress and cancel of the run
    int temps = 0;

    uint32_t Stat(const std::string& path, SourceInfo& info) override
    {
        Guard guard(lock);
        info = SourceInfo();
        if (uint32_t err = onStat ? onStat(path) : 0)
            return err;
        info.isFolder = folders.count(path + "\\") != 0;
        if (info.isFolder || !files.count(path))
            return info.isFolder ? 0 : 2;
        info.size = files[path].size();
        info.written = stamps.count(path) ? stamps[path] : 0;
        info.dosDate = 0x2A43; // 2001-02-03
        info.dosTime = 0x20A3; // 04:05:06
        info.attribs = path.find("ro") != std::string::npos ? kAttrReadOnly | kAttrArchive : kAttrArchive;
        return 0;
    }

    uint32_t OpenRead(const std::string& path, std::unique_ptr<ByteSource>& file, SourceInfo& info) override
    {
        Guard guard(lock);
        if (uint32_t err = refuseOpen ? refuseOpen(path) : 0)
            return err;
        if (onOpen)
            onOpen(path);
        if (uint32_t err = Stat(path, info))
            return err;
        if (unreadable.count(path))
            file.reset(new Unreadable(info.isFolder ? std::string() : files[path]));
        else
            file.reset(new LiveSource(*this, path));
        return 0;
    }

    // Gives path new content, written later than before.
    void Change(const std::string& path, const std::string& data)
    {
        Guard guard(lock);
        files[path] = data;
        ++stamps[path];
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
            return 17; // not a moment's lock: not tried again

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
    // The file's content now; empty once it has been deleted.
    const std::string& Current(const std::string& path)
    {
        static const std::string none;
        auto found = files.find(path);
        return found != files.end() ? found->second : none;
    }

    // Reads the file as it is at each moment, kPiece bytes at a time, so that a change part way shows.
    struct LiveSource : ByteSource
    {
        LiveSource(MemFiles& owner, std::string path) : owner(owner), path(std::move(path)) {}
        uint32_t Read(void* buffer, size_t len, size_t& got) override
        {
            got = 0;
            while (got < len) {
                Guard guard(owner.lock);
                if (owner.onRead)
                    owner.onRead(path, at);
                const std::string& data = owner.Current(path);
                const size_t n = at < data.size() ? std::min({len - got, kPiece, data.size() - at}) : 0;
                if (n == 0)
                    break;
                std::memcpy(static_cast<char*>(buffer) + got, data.data() + at, n);
                got += n;
                at += n;
            }
            return 0;
        }
        uint32_t Seek(uint64_t offset) override
        {
            at = offset;
            return 0;
        }
        uint32_t Size(uint64_t& size) override
        {
            Guard guard(owner.lock);
            size = owner.Current(path).size();
            return 0;
        }
        uint32_t Look(SourceInfo& info, bool) override
        {
            Guard guard(owner.lock);
            info = SourceInfo();
            info.size = owner.Current(path).size();
            info.written = owner.stamps.count(path) ? owner.stamps[path] : 0;
            info.dosDate = 0x2A43;
            info.dosTime = 0x20A3;
            info.attribs = path.find("ro") != std::string::npos ? kAttrReadOnly | kAttrArchive : kAttrArchive;
            return 0;
        }
        MemFiles& owner;
        std::string path;
        uint64_t at = 0;
    };

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
