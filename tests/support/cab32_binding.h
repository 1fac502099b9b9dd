// CAB32.dll bound as the program binds it: loaded by name, its command looked
// up by ordinal 1 alone.
#pragma once

#include <windows.h>

#include "cab32/Cab32.h"

// The command, with dll set to the loaded library; null when either fails.
inline Cab32Command BindCab32(HMODULE& dll)
{
    dll = LoadLibraryA("CAB32.dll");
    if (dll == nullptr)
        return nullptr;
    return reinterpret_cast<Cab32Command>(
        reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(kCab32CommandOrdinal))));
}
