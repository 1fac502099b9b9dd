// Looking up the files to store from one listing of each folder
// (FindFirstFileExW, basic information, large fetch) rather than by path,
// one file at a time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cab32/format/CabIo.h"

namespace cab32 {

// The listings of the folders from the top down to the one asked for last.
// A walk lists a folder's files before and after its subfolders, so a folder
// stays listed while the run is below it. When listings stop paying (names
// that come in no folder order), every name is looked up by path.
class FolderListings
{
public:
    // True with info when a listing answers for path.
    bool Find(const std::string& path, SourceInfo& info);

private:
    // One folder's entries, found by their upper-cased names.
    struct FolderListing
    {
        struct Entry
        {
            uint32_t keyAt;   // where its key starts in keys
            uint32_t keyLen;  // characters of its key
            uint64_t size;    // bytes
            FILETIME written; // last write, UTC
            DWORD attributes; // as listed
            bool byPath;      // the listing cannot answer for it alone (a link, or a key two entries share)
        };
        std::string folder;         // as the caller names it, ending in a backslash
        std::wstring keys;          // every entry's key, one after another
        std::vector<Entry> entries; // sorted by key

        std::wstring_view Key(const Entry& e) const { return std::wstring_view(keys).substr(e.keyAt, e.keyLen); }
    };

    static bool List(const std::string& folder, FolderListing& listing);

    std::vector<FolderListing> m_open;
    uint64_t m_lists = 0;   // folders listed
    uint64_t m_answers = 0; // names answered from a listing
};

} // namespace cab32
