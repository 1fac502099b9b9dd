// What an archiver step reports inside the archiver: its result code and what
// the message names. The codes themselves are the DLL's callers' (cab32/Cab32.h);
// this is how the archiver's own code carries one to the message.
#pragma once

#include <cstdint>
#include <string>

#include "cab32/Cab32.h"

namespace cab32 {

// The outcome of an archiver step: a code from cab32/Cab32.h and what the
// message needs to name.
struct CabError
{
    int code = CAB_OK;        // a Cab32Result value
    std::string file;         // the file or name concerned, empty when none
    uint32_t sysError = 0;    // the operating system's error code, 0 when none
    std::string responseFile; // the response file that listed the name, empty when none
    uint32_t line = 0;        // 1-based line in that response file, 0 when none
    std::string detail;       // a short fixed note (ASCII) for structure failures

    explicit operator bool() const { return code != CAB_OK; }
};

inline CabError MakeError(int code, std::string file = std::string(), uint32_t sysError = 0)
{
    CabError e;
    e.code = code;
    e.file = std::move(file);
    e.sysError = sysError;
    return e;
}

} // namespace cab32
