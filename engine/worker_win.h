#pragma once
// One installation attempt on a thread of its own: writes the script, runs PowerShell on it and
// turns its output into the window's messages.

#include <windows.h>

constexpr DWORD kPathCapacity = 260;
constexpr DWORD kReadChunkSize = 512;
// Exists while an installation runs, for the user's session.
constexpr wchar_t kInstallationMutexName[] = L"Local\\ORVAN-Launcher-Installer";

DWORD WINAPI installWorker(LPVOID unused);

// Starts installWorker detached; the window never waits for it. False when no thread could be
// made, and then nothing runs.
bool startInstallWorker();

// Returns once no worker is busy with PowerShell or the script file; for a run that ends when
// its installation ends, rather than leaving the worker to be cut off with the process.
void waitForInstallWorkers();
