// The Windows peers of the tests under Wine, seen from the Linux side: the PowerShell engine at
// the system path of the session's prefix (scripts/lib/wine-engine.sh), started by start-hidden.exe
// as the installer starts it, and read-shortcut.exe, both of the windows-e2e build. Needs a Wine
// session (WINEPREFIX, the server running).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace wine {

namespace fs = std::filesystem;

// The engine where the installer starts it, as a Windows path, and as a Linux path in the prefix.
constexpr const char* kEngineWindowsPath = "C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe";
fs::path engineInPrefix();

fs::path prefix();             // $WINEPREFIX
fs::path windowsTools();       // e2e/ of the windows-e2e build: start-hidden.exe, read-shortcut.exe, ...
fs::path userProfile();        // the prefix's profile folder, drive_c/users/<user>
std::string loader();          // wine64

// Empty when the prefix has the engine and the tools are built; otherwise what is missing.
std::string missingPieces();

// A Linux path as a Windows program sees it: C:\... below the prefix's drive C:, else Z:\...
std::string windowsPath(const fs::path& linuxPath);

// Runs a program and waits; returns its exit status, -1 when it could not be started or was
// killed. Standard output goes to outputFile when given, else to /dev/null, standard error to
// errorFile or, without one, where standard output goes; environment adds NAME=value entries.
int runProgram(const std::vector<std::string>& argv, const fs::path& outputFile = {},
               const std::vector<std::string>& environment = {}, const fs::path& errorFile = {});

// The engine through start-hidden.exe: windowsEnvironment (NAME=value) is set by that Windows
// parent, so the engine keeps it (USERPROFILE, TEMP); linuxEnvironment goes to wine itself and is
// inherited as well (what Wine does not reset). outputFile gets what the engine writes to its
// pipe, as the installer would; Wine's own messages go to outputFile.wine. Killed after
// timeoutSeconds.
int runEngine(const std::vector<std::string>& engineArguments, const fs::path& outputFile,
              const std::vector<std::string>& windowsEnvironment = {},
              const std::vector<std::string>& linuxEnvironment = {}, int timeoutSeconds = 120);

// A saved shortcut loaded through the shell's ShellLink object: {"TargetPath", "WorkingDirectory",
// "IconLocation"} as one line of JSON, empty when it cannot be loaded.
std::string readShortcut(const fs::path& linuxPath);

// What the recording launcher or uninstaller of tests/e2e_win wrote into its record: each start's
// arguments in brackets, one line per start; empty when it never ran.
std::string recordedArguments(const fs::path& record);

// How many engine processes of this prefix are running.
int engineProcesses();

} // namespace wine
