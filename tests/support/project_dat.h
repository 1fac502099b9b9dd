// The bytes of a project.dat, built field by field, for the tests that write one
// before the program reads it or compare what the program wrote.
#pragma once

#include <string>

namespace project_dat {

// The magic as the program writes it.
const char kMagic[] = "KESTELVARNHOLM";

// Little-endian, as on every Windows machine.
inline std::string Int32(int value)
{
    unsigned int bits = static_cast<unsigned int>(value);
    std::string bytes;
    for (int i = 0; i < 4; i++)
        bytes += static_cast<char>((bits >> (8 * i)) & 0xFF);
    return bytes;
}

// A string as archived: its length in one byte (below 255), then its bytes.
inline std::string Archived(const std::string& text)
{
    return std::string(1, static_cast<char>(text.size())) + text;
}

// One project: name, source folder, backup folder, ignored extensions, ignored folders.
inline std::string Record(const std::string& name, const std::string& source = "", const std::string& backup = "",
                          const std::string& extensions = "", const std::string& folders = "")
{
    return Archived(name) + Archived(source) + Archived(backup) + Archived(extensions) + Archived(folders);
}

// The whole file: the magic, the count, the selected index, then the records as given.
inline std::string File(int count, int selected, const std::string& records, const std::string& magic = kMagic)
{
    return Archived(magic) + Int32(count) + Int32(selected) + records;
}

} // namespace project_dat
