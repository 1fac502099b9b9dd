// CAB32.dll as its callers see it: the one entry (ordinal 1), the results it
// gives and what its default run can store. The program includes this header,
// and the archiver takes every result code from it. The values never change
// between versions.
#pragma once

// The entry is exported by ordinal only.
constexpr int kCab32CommandOrdinal = 1;

#ifdef _WIN32
struct HWND__;
// The entry: int WINAPI Cab(HWND owner, LPCSTR commandLine, LPSTR output, DWORD outputSize).
// It builds the cabinet (or set) the command line describes; cab32/README.md
// gives the command line. The output buffer receives one line (more for
// CAB_E_FILES_LEFT_OUT), cut to outputSize bytes with its terminator. With a
// window handle, the window is disabled during the call, a progress window
// shows for longer runs, and a failure is shown in a message box it owns.
typedef int(__stdcall* Cab32Command)(HWND__* owner, const char* commandLine, char* output, unsigned long outputSize);
#endif

// Results of the entry. 0 is the only success; every other value comes with a
// one-line message in the caller's output buffer naming the file concerned
// and, where there is one, the system's own error text.
enum Cab32Result {
    CAB_OK = 0, // the cabinet was written, verified and renamed into place

    // Unexpected failures.
    CAB_E_INTERNAL = 1,  // an unexpected exception or a broken invariant inside the archiver
    CAB_E_NO_MEMORY = 2, // an allocation failed
    CAB_E_CANCELLED = 3, // the user pressed Cancel; nothing was written

    // The command line.
    CAB_E_NO_COMMAND = 10,         // the command line is empty or holds no "-a"
    CAB_E_UNKNOWN_SWITCH = 11,     // a switch this archiver does not know, or one out of its range
    CAB_E_UNTERMINATED_QUOTE = 12, // a double quote without its closing partner
    CAB_E_NO_CABINET_NAME = 13,    // no cabinet file name (or an empty one) after "-a"
    CAB_E_NO_BASE_FOLDER = 14,     // no base folder (or an empty one) after the cabinet name
    CAB_E_TARGET_IS_FOLDER = 15,   // the cabinet name ends in a backslash or is an existing folder

    // Response files and the names they list.
    CAB_E_RESPONSE_OPEN = 20,     // a response file cannot be opened
    CAB_E_RESPONSE_READ = 21,     // a response file cannot be read to its end
    CAB_E_RESPONSE_SYNTAX = 22,   // a line with text after its closing quote, an open quote or a NUL byte
    CAB_E_EMPTY_NAME = 23,        // an empty name, or one with an empty component ("a\\b", "a\")
    CAB_E_ABSOLUTE_PATH = 24,     // a name with a drive, a root or a UNC prefix
    CAB_E_PARENT_PATH = 25,       // a name with a "." or ".." component
    CAB_E_BAD_NAME = 26,          // a control character, one of < > : " | ? *, or a broken double-byte character
    CAB_E_NAME_TOO_LONG = 27,     // a name over 255 bytes
    CAB_E_TOO_MANY_CABINETS = 28, // more cabinets than a set can number (65,535)
    CAB_E_NO_FILES = 29,          // nothing to archive: no file listed at all

    // Source files.
    CAB_E_SOURCE_OPEN = 30,      // a listed file is locked (past the retries) or not readable (a missing one: 37)
    CAB_E_SOURCE_READ = 31,      // reading a listed file failed part way
    CAB_E_SOURCE_IS_FOLDER = 32, // a listed name is a folder
    CAB_E_SOURCE_CHANGED = 33,   // a listed file shrank (no longer returned: it is read again or left out, 37)
    CAB_E_FILE_TOO_LARGE = 34,   // a file that cannot fit one cabinet even stored (about 2 GiB, or the -v size)
    CAB_E_DUPLICATE_NAME = 35,   // two listed files would be stored under one name (letter case ignored)
    // The cabinet was made and put in place, but without listed files that were gone when looked for or that
    // kept changing while read; the output names each, one a line. Not a success: the backup has holes.
    CAB_E_FILES_LEFT_OUT = 37,

    // The cabinet being written.
    CAB_E_CABINET_TOO_LARGE = 40, // a cabinet would pass its planned size (an internal fault)
    CAB_E_TEMP_CREATE = 41,       // no temporary file can be made in the target's folder
    CAB_E_WRITE = 42,             // writing the temporary file failed (a full disk, for one)
    CAB_E_REPLACE = 43,           // the finished cabinet cannot be renamed over the target
    CAB_E_COMPRESS = 44,          // the compressor reported an error
    CAB_E_RESTORE = 45, // after a failure, an old member of a set cannot be put back (it stays in the file named)
    CAB_E_CLEANUP = 46, // the new set is in place but an old member moved aside cannot be deleted

    // Reading the finished cabinet back.
    CAB_E_VERIFY_READ = 50,   // the temporary cabinet cannot be read back
    CAB_E_VERIFY_FAILED = 51, // a structure, checksum, size or content check failed

    // Names that Windows cannot create.
    CAB_E_TRAILING_DOT = 60, // a name or folder ending in a dot or a space ("a.txt.", "a.txt ")
    CAB_E_DEVICE_NAME =
        61, // a reserved device name as any component: CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension
};

// What the default run (LZX, no -v) can store, for a caller that chooses the
// files and would rather leave one out than have the run fail.
//
// The largest file it stores: a file must fit one cabinet (2,147,483,647
// bytes) even if none of its 32,768-byte blocks compresses, each block then
// taking up to 44 bytes more (an uncompressed LZX frame's headers and its
// CFDATA record's), with the header, the longest set links, one folder and the
// file's record: 2,144,602,551 bytes at the least room those leave, rounded
// down. A larger file fails the run with CAB_E_FILE_TOO_LARGE.
constexpr unsigned long long kCab32LargestFile = 2144000000ull;

// The longest name, in bytes, a cabinet stores (CAB_E_NAME_TOO_LONG past it).
constexpr int kCab32LongestName = 255;
