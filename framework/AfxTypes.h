// Basic Windows types for the framework's portable classes, so that they also
// compile on the host (tests under sanitizers) without <windows.h>.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>
typedef const char* LPCSTR;
typedef const char* LPCTSTR;
typedef char* LPSTR;
typedef char* LPTSTR;
typedef int BOOL;
typedef unsigned int UINT;
typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::uint64_t ULONGLONG;
typedef std::int64_t LONGLONG;
typedef std::int32_t LONG;
typedef std::uintptr_t DWORD_PTR;
typedef std::intptr_t INT_PTR;
#ifndef TRUE
#define TRUE  1
#define FALSE 0
#endif
#endif
