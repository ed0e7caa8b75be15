#pragma once
// One installation attempt on a thread of its own: writes the script, runs PowerShell on it and
// turns its output into the window's messages.

#include <windows.h>

constexpr DWORD kPathCapacity = 260;
constexpr DWORD kReadChunkSize = 512;

DWORD WINAPI installWorker(LPVOID unused);

// Starts installWorker detached; the window never waits for it. False when no thread could be
// made, and then nothing runs.
bool startInstallWorker();
