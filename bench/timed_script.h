// The installation script as the benchmarks run it: Linux pwsh with a fresh profile and temporary
// folder below work, the test server's certificate trusted, each line of its output stamped with
// the seconds since the start.
#pragma once

#include "script_harness.h"

#include <string>
#include <utility>
#include <vector>

struct TimedScriptRun {
    std::vector<std::pair<double, std::string>> lines; // seconds since the start, the line
    double seconds = 0;                                // until PowerShell ended
    bool done = false;                                 // the last line is @DONE
};

// launcher goes in front of pwsh on the command line (for instance /usr/bin/time and its options).
TimedScriptRun runScriptTimed(const fs::path& work, const fs::path& script, const fs::path& certificate,
                              const std::string& launcher = "");
