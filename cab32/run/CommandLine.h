// The archiver's command line, its response files and the names they list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cab32/format/CabError.h"
#include "cab32/run/Paths.h"

namespace cab32 {

struct Token
{
    std::string text;    // the token with its quotes removed
    bool quoted = false; // the token began with a double quote
};

// Splits at blanks (space, tab); a double quote opens a part that runs to the
// next double quote, blanks included. Backslashes are ordinary characters.
CabError Tokenize(std::string_view line, std::vector<Token>& tokens);

// How the run compresses its folders.
enum class Method {
    Default, // none named on the command line: the archiver's default
    Mszip,   // -mszip
    Lzx,     // -mlzx, -mlzx15 .. -mlzx21
};

struct CommandLine
{
    std::string cabinet;             // the cabinet file to make
    std::string baseFolder;          // the folder the names are relative to, ending in a backslash
    std::vector<std::string> inputs; // in order: "@response file" or a file name, as given
    uint64_t cabinetLimit = 0;       // -v<bytes>: largest cabinet of a set; 0 for the format's limit
    Method method = Method::Default; // -m<method>
    int lzxWindowBits = 0;           // -mlzx15 .. -mlzx21: every folder's window; 0 to fit each folder
};

// Parses: -a "<cabinet>" "<base folder>" followed by @response files and file names;
// -v<bytes> anywhere sets the largest size of one cabinet of a set, -mszip,
// -mlzx or -mlzx<15..21> the compression (letters in either case).
CabError ParseCommandLine(std::string_view line, CommandLine& out, LeadByteTest lead);

// Takes the name out of one response-file line (CR already removed): a quoted
// name or a bare one with surrounding blanks dropped. blank is set for a line to skip.
CabError ParseResponseLine(std::string_view line, std::string& name, bool& blank);

// Checks a name to store and turns its slashes into backslashes.
CabError ValidateName(std::string& name, LeadByteTest lead);

} // namespace cab32
