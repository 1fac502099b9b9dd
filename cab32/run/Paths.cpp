#include "cab32/run/Paths.h"

namespace cab32 {

bool IsLeadByte932(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsAbsolutePath(std::string_view path)
{
    if (path.empty())
        return false;
    if (path[0] == '\\' || path[0] == '/')
        return true;
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

bool EndsWithBackslash(std::string_view path, LeadByteTest lead)
{
    bool last = false;
    for (size_t i = 0; i < path.size(); ++i) {
        if (lead(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
            ++i;
            last = false;
        } else {
            last = path[i] == '\\';
        }
    }
    return last;
}

std::string FolderOf(std::string_view path, LeadByteTest lead)
{
    size_t cut = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        if (lead(static_cast<unsigned char>(path[i])) && i + 1 < path.size())
            ++i;
        else if (path[i] == '\\' || path[i] == '/' || path[i] == ':')
            cut = i + 1;
    }
    return std::string(path.substr(0, cut));
}

std::string NameOnly(const std::string& path, LeadByteTest lead)
{
    return path.substr(FolderOf(path, lead).size());
}

std::string SetMemberPath(const std::string& cabinet, uint32_t index, LeadByteTest lead)
{
    if (index == 0)
        return cabinet;
    const size_t folderLen = FolderOf(cabinet, lead).size();
    size_t dot = cabinet.rfind('.');
    if (dot == std::string::npos || dot < folderLen)
        dot = cabinet.size();
    return cabinet.substr(0, dot) + "_" + std::to_string(index + 1) + cabinet.substr(dot);
}

} // namespace cab32
