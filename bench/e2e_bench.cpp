// What the installer itself adds to an installation: the wall time from the click on
// "INSTALLIEREN" to the finished window, for a 64 MiB package served by nginx on loopback, against
// the same installation by the script alone (pwsh with the WScript.Shell stand-in runner, no Wine,
// no window), from its start to its "@DONE " line. The difference is the installer's overhead:
// writing the script, the PowerShell start through Wine and the relay, the pipe and the window
// showing the outcome (read from the screen every ~50 ms). pwsh's own exit after "@DONE " is
// printed too; the installer does not wait for it before it shows the outcome.
//
// Needs the windows-e2e build and a Wine session with a display:
//   cmake --build --preset windows-e2e && cmake --build --preset e2e
//   bash -c '. scripts/lib/wine-session.sh; export PATH=/usr/lib/wine:$PATH; wine_session_start;
//            build/e2e/bench/e2e_bench [rounds]; wine_session_stop'
#include "e2e_support.h"
#include "https_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace e2e;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// One installation through the installer; seconds from the click to the finished window, or < 0.
double installerRound(const fs::path& certificate, int round)
{
    InstallerRun run;
    std::string why;
    Shot shot;
    if (!prepareRun(run, "bench-" + std::to_string(round), certificate, why) || !startInstaller(run, why) ||
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

// The same installation by pwsh alone, with the environment the relay gives it.
double scriptRound(const fs::path& work, const fs::path& certificate, int round)
{
    fs::path home = work / ("script-home-" + std::to_string(round));
    fs::create_directories(home / "Desktop");
    fs::create_directories(home / "Temp");
    fs::path log = work / "script.log";
    fs::remove(log);
    auto start = Clock::now();
    int status = -1;
    std::atomic<bool> ended = false;
    std::thread pwsh([&] {
        status = runProgram({pwshProgram().string(), "-NoProfile", "-NonInteractive", "-File", runScript().string(),
                             "-Script", builtScript().string()},
                            log,
                            {"HOME=" + home.string(), "USERPROFILE=" + home.string(),
                             "TEMP=" + (home / "Temp").string(), "SSL_CERT_FILE=" + certificate.string()});
        ended = true;
    });
    // The moment the "@DONE " line is there, as the installer's window would learn of it.
    Clock::time_point doneLine{};
    while (!ended && readFile(log).find("\n@DONE ") == std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    doneLine = Clock::now();
    pwsh.join();
    auto end = Clock::now();
    std::string output = readFile(log);
    std::error_code ec;
    fs::remove_all(home, ec);
    if (status != 0 || output.find("\n@DONE ") == std::string::npos) {
        std::fprintf(stderr, "script round %d: exit %d\n%s", round, status, output.c_str());
        return -1;
    }
    std::printf("  script alone: @DONE after %.2f s, pwsh ended after %.2f s\n", seconds(start, doneLine),
                seconds(start, end));
    return seconds(start, doneLine);
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string missing = missingPieces();
    if (!missing.empty()) {
        std::fprintf(stderr, "e2e_bench: %s\n", missing.c_str());
        return 2;
    }
    char pattern[] = "/tmp/orvan-e2e-bench.XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 2;
    fs::path work = pattern;
    makePayload(work / "nutzlast", work / "deinstallieren.txt", 64ull << 20);
    fs::create_directories(work / "server" / "www");
    std::string why;
    HttpsServer server;
    if (!publishTree(work / "nutzlast", "3.0.0", work / "server" / "www", "", why) ||
        !startHttpsServer(server, work / "server", serverPort())) {
        std::fprintf(stderr, "e2e_bench: %s%s\n", why.c_str(), server.error.c_str());
        return 2;
    }

    std::vector<double> installer, script;
    for (int round = 1; round <= rounds; ++round) {
        double a = installerRound(server.certificate, round);
        double b = scriptRound(work, server.certificate, round);
        if (a < 0 || b < 0)
            break;
        installer.push_back(a);
        script.push_back(b);
        std::printf("round %d: installer %.2f s (click to finished window), script alone %.2f s\n", round, a, b);
    }
    stopHttpsServer(server);
    std::error_code ec;
    fs::remove_all(work, ec);
    if (installer.size() != static_cast<std::size_t>(rounds))
        return 1;
    std::printf("64 MiB package, median of %d: installer %.2f s, script alone %.2f s, installer overhead %.2f s\n",
                rounds, median(installer), median(script), median(installer) - median(script));
    return 0;
}
