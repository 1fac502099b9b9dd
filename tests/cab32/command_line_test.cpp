// The archiver's command line and response files: tokens, switches, the names
// they list and the codes of what is malformed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cab32/run/CommandLine.h"
#include "tests/support/core_archive.h"

using namespace cab32;

TEST(CommandLine, ParsesQuotedArgumentsAndGivesMalformedLinesTheirCodes)
{
    const struct
    {
        const char* line;
        int code;
        const char* parsed;
    } cases[] = {
        // cabinet|base|inputs...|-v size|method/window
        {kProgramCommand, CAB_OK, "C:\\Out\\b.cab|C:\\Src\\|@C:\\Src\\respons.txt|0"},
        {"-a \"C:\\x\\\" \"C:\\x\\\" a.txt \"b c.txt\" @r.txt \"-d.txt\"", CAB_OK,
         "C:\\x\\|C:\\x\\|a.txt|b c.txt|@r.txt|-d.txt|0"},
        {"-v1000000 -a x.cab C:\\Src", CAB_OK, "x.cab|C:\\Src\\|1000000"},
        {"-a x.cab \"C:\\\x83\x5C\"", CAB_OK, "x.cab|C:\\\x83\x5C\\|0"}, // "ソ": trail byte 0x5C is no backslash
        {"   \t ", CAB_E_NO_COMMAND, ""},
        {"\"-a\" \"x.cab\" \"C:\\\" a.txt", CAB_E_NO_COMMAND, ""},
        {"-a \"\" \"C:\\\" a.txt", CAB_E_NO_CABINET_NAME, ""},
        {"-a x.cab \"\" a.txt", CAB_E_NO_BASE_FOLDER, ""},
        {"-a x.cab \"C:\\x\\\" \"@r.txt", CAB_E_UNTERMINATED_QUOTE, ""},
        {"-a -r x.cab C:\\ a.txt", CAB_E_UNKNOWN_SWITCH, ""},
        {"-a x.cab C:\\ a.txt /s", CAB_E_UNKNOWN_SWITCH, ""},
        {"-v100 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-v2147483648 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-a x.cab -mszip C:\\", CAB_OK, "x.cab|C:\\|0|1/0"},
        {"-mlzx -a x.cab C:\\ -v70000", CAB_OK, "x.cab|C:\\|70000|2/0"},
        {"-a x.cab C:\\ a.txt -mlzx15", CAB_OK, "x.cab|C:\\|a.txt|0|2/15"},
        {"-MLZX21 -a x.cab C:\\", CAB_OK, "x.cab|C:\\|0|2/21"},
        {"/mLzX18 -mszip -a x.cab C:\\", CAB_OK, "x.cab|C:\\|0|1/0"},    // the last one counts
        {"-a x.cab C:\\ \"-mszip\"", CAB_OK, "x.cab|C:\\|-mszip|0|0/0"}, // quoted: a name
        {"-mlzx14 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mlzx22 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mlzx2 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mlzx021 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mlzx1a -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mzip -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mszip2 -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-m -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
        {"-mnone -a x.cab C:\\", CAB_E_UNKNOWN_SWITCH, ""},
    };
    for (const auto& c : cases) {
        CommandLine p;
        EXPECT_EQ(c.code, ParseCommandLine(c.line, p, IsLeadByte932).code) << c.line;
        if (c.code != CAB_OK)
            continue;
        std::string parsed = p.cabinet + "|" + p.baseFolder + "|";
        for (const std::string& input : p.inputs)
            parsed += input + "|";
        const std::string method = std::to_string(static_cast<int>(p.method)) + "/" + std::to_string(p.lzxWindowBits);
        if (std::string(c.parsed).find('/') == std::string::npos)
            EXPECT_EQ(c.parsed, parsed + std::to_string(p.cabinetLimit)) << c.line;
        else
            EXPECT_EQ(c.parsed, parsed + std::to_string(p.cabinetLimit) + "|" + method) << c.line;
    }
}

TEST(ResponseFile, LinesAreQuotedOrBareAndOnlyRelativeNamesInsideTheTreeAreStored)
{
    const std::string longName(255, 'n');
    const struct
    {
        std::string line;
        int code;
        const char* name;
    } cases[] = {
        // name as stored, null for a blank line
        {"  \"sub/a b.txt\"\t", CAB_OK, "sub\\a b.txt"},
        {"  bare with blanks.txt  ", CAB_OK, "bare with blanks.txt"},
        {" \t ", CAB_OK, nullptr},
        {"..a\\b..c\\c.txt", CAB_OK, "..a\\b..c\\c.txt"},
        {"\x83\x5C\x95\x5C.txt", CAB_OK, "\x83\x5C\x95\x5C.txt"},     // ソ表.txt: trail bytes 0x5C
        {"\x94\x5C\\\x97\x7C.txt", CAB_OK, "\x94\x5C\\\x97\x7C.txt"}, // trail byte 0x7C is no '|'
        {"\"a.txt\" b", CAB_E_RESPONSE_SYNTAX, nullptr},
        {"\"a.txt", CAB_E_RESPONSE_SYNTAX, nullptr},
        {std::string("a\0b", 3), CAB_E_RESPONSE_SYNTAX, nullptr},
        {"\"\"", CAB_E_EMPTY_NAME, nullptr},
        {"a\\\\b.txt", CAB_E_EMPTY_NAME, nullptr},
        {"C:\\a.txt", CAB_E_ABSOLUTE_PATH, nullptr},
        {"a:b.txt", CAB_E_ABSOLUTE_PATH, nullptr}, // drive A, relative
        {"\\\\server\\share\\a.txt", CAB_E_ABSOLUTE_PATH, nullptr},
        {"/etc/passwd", CAB_E_ABSOLUTE_PATH, nullptr},
        {"sub/../a.txt", CAB_E_PARENT_PATH, nullptr},
        {".\\a.txt", CAB_E_PARENT_PATH, nullptr},
        {"sub\\..", CAB_E_PARENT_PATH, nullptr},
        {"ab:c.txt", CAB_E_BAD_NAME, nullptr},
        {"a\tb.txt", CAB_E_BAD_NAME, nullptr},
        {"abc\x83", CAB_E_BAD_NAME, nullptr},       // lead byte without its trail
        {"a\x83\x1F.txt", CAB_E_BAD_NAME, nullptr}, // trail byte out of range
        {"a.txt:zone", CAB_E_BAD_NAME, nullptr},    // an alternate data stream
        {"a.txt.", CAB_E_TRAILING_DOT, nullptr},
        {"\"a.txt \"", CAB_E_TRAILING_DOT, nullptr},
        {"sub.\\a.txt", CAB_E_TRAILING_DOT, nullptr},
        {"\"sub \\a.txt\"", CAB_E_TRAILING_DOT, nullptr},
        {"CON", CAB_E_DEVICE_NAME, nullptr},
        {"nul.txt", CAB_E_DEVICE_NAME, nullptr},
        {"sub\\Aux", CAB_E_DEVICE_NAME, nullptr},
        {"prn\\a.txt", CAB_E_DEVICE_NAME, nullptr},
        {"com1.tar.gz", CAB_E_DEVICE_NAME, nullptr},
        {"LPT9", CAB_E_DEVICE_NAME, nullptr},
        {"\"con .txt\"", CAB_E_DEVICE_NAME, nullptr},
        {"COM10", CAB_OK, "COM10"},
        {"lpt0.c", CAB_OK, "lpt0.c"},
        {"console.h", CAB_OK, "console.h"},
        {"sub\\nul_.c", CAB_OK, "sub\\nul_.c"},
        {"a.b.c", CAB_OK, "a.b.c"},
        {longName, CAB_OK, longName.c_str()},
        {std::string(256, 'n'), CAB_E_NAME_TOO_LONG, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string name;
        bool blank = false;
        CabError e = ParseResponseLine(c.line, name, blank);
        if (!e && !blank)
            e = ValidateName(name, IsLeadByte932);
        EXPECT_EQ(c.code, e.code);
        EXPECT_EQ(c.name ? std::string(c.name) : name, name);
        EXPECT_EQ(c.code == CAB_OK && c.name == nullptr, blank);
    }
}

// The same tables for every method; only the folder's typeCompress differs.
// No switch gives LZX with the window that fits the folder.
