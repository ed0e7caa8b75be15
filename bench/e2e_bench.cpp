// What the installer and its PowerShell cost under Wine:
//  - the engine's start-up: an empty script file run by the PowerShell engine at the prefix's
//    system path, started by start-hidden.exe as the installer starts it, from start to exit;
//  - the whole installation through the installer: the wall time from the click on
//    "INSTALLIEREN" to the finished window, read from the screen every ~50 ms;
//  - the same installation by the engine alone (no window), from its start to its "@DONE " line
//    and to its exit.
// The difference between the last two is the installer's own share: writing the script, the
// process start, the pipe and the window showing the outcome. The package is PACKAGE_MIB of
// random data (default 64) in one part, served by nginx on loopback.
//
// Needs the windows-e2e build and a Wine session with the engine and a display:
//   cmake --build --preset windows-e2e && cmake --build --preset e2e
//   bash -c '. scripts/lib/wine-session.sh; . scripts/lib/wine-engine.sh; export PATH=/usr/lib/wine:$PATH;
//            wine_session_start; wine_engine_install; build/e2e/bench/e2e_bench [rounds [PACKAGE_MIB]];
//            wine_session_stop'
#include "e2e_support.h"
#include "https_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

using namespace e2e;
using Clock = std::chrono::steady_clock;

namespace {

// One installation through the installer; seconds from the click to the finished window, or < 0.
double installerRound(int round)
{
    InstallerRun run;
    std::string why;
    Shot shot;
    if (!prepareRun(run, "bench-" + std::to_string(round), why) || !startInstaller(run, why) ||
        !waitForScreen(Screen::Ready, 15000, shot)) {
        std::fprintf(stderr, "installer round %d: %s (screen %s)\n", round, why.c_str(), screenName(classify(shot)));
        endRun(run);
        return -1;
    }
    auto click = Clock::now();
    pressButton();
    bool finished = waitForScreen(Screen::Finished, 300000, shot);
    auto end = Clock::now();
    endRun(run);
    std::error_code ec;
    fs::remove_all(run.root, ec);
    return finished ? seconds(click, end) : -1;
}

// Seconds from the engine's start to its exit for an empty script file, or < 0.
double emptyScriptRound(const fs::path& work)
{
    fs::path script = wine::prefix() / "drive_c" / "e2e" / "leer.ps1";
    fs::create_directories(script.parent_path());
    std::ofstream(script, std::ios::trunc) << "\n";
    auto start = Clock::now();
    int status = wine::runEngine({"-NoProfile", "-ExecutionPolicy", "Bypass", "-File", windowsPath(script)},
                                 work / "empty.log");
    auto end = Clock::now();
    return status == 0 ? seconds(start, end) : -1;
}

// The same installation by the engine alone, started as the installer starts it.
double scriptRound(const fs::path& work, int round)
{
    InstallerRun cleared; // only for its clean profile
    std::string why;
    if (!prepareRun(cleared, "bench-script-" + std::to_string(round), why)) {
        std::fprintf(stderr, "script round %d: %s\n", round, why.c_str());
        return -1;
    }
    fs::path script = cleared.root / "install.ps1";
    fs::copy_file(builtScript(), script, fs::copy_options::overwrite_existing);
    fs::path log = work / "script.log";
    fs::remove(log);
    auto start = Clock::now();
    int status = -1;
    std::atomic<bool> ended = false;
    std::thread engine([&] {
        status = wine::runEngine({"-NoProfile", "-ExecutionPolicy", "Bypass", "-File", windowsPath(script)}, log, {},
                                 {"ORVAN_UNINSTALLER_RECORD=" + windowsPath(cleared.uninstallerRecord)});
        ended = true;
    });
    // The moment the "@DONE " line is there, as the installer's window would learn of it.
    while (!ended && readFile(log).find("\n@DONE ") == std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Clock::time_point doneLine = Clock::now();
    engine.join();
    auto end = Clock::now();
    std::string output = readFile(log);
    if (status != 0 || output.find("\n@DONE ") == std::string::npos) {
        std::fprintf(stderr, "script round %d: exit %d\n%s", round, status, output.c_str());
        return -1;
    }
    std::printf("  engine alone: @DONE after %.2f s, the engine ended after %.2f s\n", seconds(start, doneLine),
                seconds(start, end));
    return seconds(start, doneLine);
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::uint64_t packageMiB = argc > 2 ? std::max(0, std::atoi(argv[2])) : 64;
    std::string missing = missingPieces();
    if (!missing.empty()) {
        std::fprintf(stderr, "e2e_bench: %s\n", missing.c_str());
        return 2;
    }
    char pattern[] = "/tmp/orvan-e2e-bench.XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 2;
    fs::path work = pattern;
    std::vector<double> empty;
    for (int round = 1; round <= std::max(5, rounds); ++round) {
        double t = emptyScriptRound(work);
        if (t < 0) {
            std::fprintf(stderr, "e2e_bench: the engine did not run an empty script\n");
            return 1;
        }
        empty.push_back(t);
        std::printf("empty script %d: %.2f s\n", round, t);
    }
    std::printf("engine start-up (empty script, start to exit), median of %zu: %.2f s, min %.2f s, max %.2f s\n",
                empty.size(), median(empty), *std::min_element(empty.begin(), empty.end()),
                *std::max_element(empty.begin(), empty.end()));

    makePayload(work / "nutzlast", installerPayload(packageMiB << 20));
    fs::create_directories(work / "server" / "www");
    Outcome built = runBuild(work / "nutzlast", work / "server" / "www", "3.0.0", "");
    HttpsServer server;
    if (built.status != 0 || !startHttpsServer(server, work / "server", serverPort())) {
        std::fprintf(stderr, "e2e_bench: %s%s%s\n", built.out.c_str(), built.err.c_str(), server.error.c_str());
        return 2;
    }

    std::vector<double> installer, script;
    for (int round = 1; round <= rounds; ++round) {
        double a = installerRound(round);
        double b = scriptRound(work, round);
        if (a < 0 || b < 0)
            break;
        installer.push_back(a);
        script.push_back(b);
        std::printf("round %d: installer %.2f s (click to finished window), engine alone %.2f s\n", round, a, b);
    }
    stopHttpsServer(server);
    std::error_code ec;
    fs::remove_all(work, ec);
    if (installer.size() != static_cast<std::size_t>(rounds))
        return 1;
    std::printf("%llu MiB package, median of %d: installer %.2f s, engine alone %.2f s, installer overhead %.2f s\n",
                static_cast<unsigned long long>(packageMiB), rounds, median(installer), median(script),
                median(installer) - median(script));
    return 0;
}
