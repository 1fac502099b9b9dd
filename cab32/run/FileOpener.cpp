#include "cab32/run/FileOpener.h"

namespace cab32 {

uint32_t FileOpener::StoredName(const std::string&, const std::string& name, std::string& stored, bool& utf8)
{
    stored = name;
    utf8 = false;
    return 0;
}

std::string FileOpener::NameKey(const std::string& stored, bool, bool (*lead)(unsigned char))
{
    std::string key(stored);
    for (size_t i = 0; i < key.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(key[i]);
        if (lead(c) && i + 1 < key.size())
            ++i;
        else if (c >= 'a' && c <= 'z')
            key[i] = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

} // namespace cab32
