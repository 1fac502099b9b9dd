// The program keeps its texts and paths in code page 932 (project.dat, respons.txt):
// its manifest asks Windows for that code page, which Windows 11 and Server 2022 give
// whatever the system locale, and earlier Windows only where it is the system's.
#pragma once

#include <windows.h>

#include <string>

// The code page the program works in.
const UINT kJapaneseCodePage = 932;

// The message, in Japanese and English, for a process whose code page is codePage.
std::wstring WrongCodePageMessage(UINT codePage);

// True when the process runs in code page 932; otherwise shows WrongCodePageMessage
// and returns false, and the program must end before it reads or writes any file.
bool ConfirmCodePage(UINT codePage = GetACP());

// True when the program's folder can be held in the code page (project/ProgramFolder.h);
// otherwise names it in a message and returns false, and the program must end as above.
bool ConfirmProgramFolder();
