#pragma once
// One installation attempt on a thread of its own: writes the script, runs PowerShell on it and
// turns its output into the window's messages.

#include <windows.h>

DWORD WINAPI installWorker(LPVOID unused);

// Starts installWorker detached; the window never waits for it.
void startInstallWorker();
