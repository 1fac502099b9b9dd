#include "backup/ArchiverOutput.h"

#include <cstdio>
#include <cstring>

void ReadLeftOutFiles(const char* output, CStringArray& lines, int& unnamed)
{
    unnamed = 0;
    const char* line = std::strstr(output, "\r\n");
    while (line != nullptr) {
        line += 2;
        const char* end = std::strstr(line, "\r\n");
        if (end == nullptr || end == line)
            break;
        CString text(line, static_cast<int>(end - line));
        int more = 0;
        char tail[8] = "";
        if (std::sscanf(text, "ほか %d %7s", &more, tail) == 2 && std::strcmp(tail, "個") == 0)
            unnamed += more;
        else
            lines.Add(text);
        line = end;
    }
}
