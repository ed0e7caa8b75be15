// The installation script as the benchmarks serve and run it: Linux pwsh with a fresh profile and
// temporary folder below work, the test server's certificate trusted, each line of its output
// stamped with the seconds since the start.
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

// nginx below work/nginx serving a release of bytes of random payload in that many equal parts;
// false, with nginx's complaint on standard error, when it did not start.
bool serveRandomRelease(HttpsServer& server, const fs::path& work, std::size_t bytes, std::size_t parts);

// launcher goes in front of pwsh on the command line (for instance /usr/bin/time and its options).
TimedScriptRun runScriptTimed(const fs::path& work, const fs::path& script, const fs::path& certificate,
                              const std::string& launcher = "");
