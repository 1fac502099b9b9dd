#include "cab32/win32/FolderListings.h"

#include <algorithm>

#include "cab32/run/Paths.h"
#include "cab32/win32/Win32Handles.h"
#include "cab32/win32/Win32Paths.h"

namespace cab32 {

namespace {

// The name as the file system compares it: upper case.
std::wstring KeyOf(std::wstring name)
{
    if (!name.empty())
        CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

} // namespace

// Lists folder into listing, sorted by key; false when it cannot be listed.
bool FolderListings::List(const std::string& folder, FolderListing& listing)
{
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileExW(LongPathW(folder + "*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    listing.folder = folder;
    do {
        const std::wstring key = KeyOf(data.cFileName);
        const uint64_t size = SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
        listing.entries.push_back({static_cast<uint32_t>(listing.keys.size()), static_cast<uint32_t>(key.size()), size,
                                   data.ftLastWriteTime, data.dwFileAttributes,
                                   (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
        listing.keys += key;
    } while (FindNextFileW(h, &data));
    FindClose(h);
    std::vector<FolderListing::Entry>& entries = listing.entries;
    std::sort(entries.begin(), entries.end(), [&](const FolderListing::Entry& a, const FolderListing::Entry& b) {
        return listing.Key(a) < listing.Key(b);
    });
    for (size_t i = 1; i < entries.size(); ++i) {
        if (listing.Key(entries[i]) == listing.Key(entries[i - 1]))
            entries[i].byPath = entries[i - 1].byPath = true;
    }
    return true;
}

bool FolderListings::Find(const std::string& path, SourceInfo& info)
{
    if (m_lists > 64 && m_answers < 4 * m_lists)
        return false;
    const std::string folder = FolderOf(path, IsAnsiLeadByte);
    if (folder.empty())
        return false;
    while (!m_open.empty() && folder.compare(0, m_open.back().folder.size(), m_open.back().folder) != 0)
        m_open.pop_back();
    if (m_open.empty() || m_open.back().folder != folder) {
        FolderListing listing;
        if (!List(folder, listing))
            return false;
        ++m_lists;
        m_open.push_back(std::move(listing));
    }
    const FolderListing& listing = m_open.back();
    const std::wstring key = KeyOf(Widen(path.substr(folder.size()), CP_ACP));
    auto found =
        std::lower_bound(listing.entries.begin(), listing.entries.end(), key,
                         [&](const FolderListing::Entry& e, const std::wstring& k) { return listing.Key(e) < k; });
    if (found == listing.entries.end() || listing.Key(*found) != key || found->byPath)
        return false;
    Describe(found->size, found->attributes, found->written, info);
    ++m_answers;
    return true;
}

} // namespace cab32
