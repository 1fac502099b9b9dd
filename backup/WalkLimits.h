// What the walk checks before it lists a file for the archiver: that its
// stored name fits a cabinet and that the file is not too large to store, and
// how it reaches folders and files whose full path passes MAX_PATH.
#pragma once

#include <windows.h>

#include <string>

#include "framework/CString.h"

// path (ANSI) for the wide calls, in its extended-length form where it is too
// long for them, as the archiver opens it (cab32/LongPaths.h).
std::wstring LongPathW(const CString& path);

// The bytes of the name the archiver stores for a file or folder listed as
// relative (its path under the source folder; fullPath is where it is): the
// listed bytes, unless it holds a short name (a '~'), whose long form is then
// stored, in the code page where every character converts exactly, in UTF-8
// otherwise.
int StoredNameBytes(const CString& fullPath, const CString& relative);

// True for a name Windows cannot make and the archiver refuses: one that ends
// in a dot or a blank, or a device's name (CON, PRN, AUX, NUL, COM1-9, LPT1-9)
// with or without an extension. Such names come from other systems' tools.
bool IsReservedName(const CString& name);

// True when a file of size bytes is larger than the archiver can store.
bool TooLargeToStore(ULONGLONG size);

// For a link to a file: false when its target is missing, else true with the
// target's size (0 when it cannot be asked).
bool LinkTarget(const CString& path, ULONGLONG& size);
