#include "timed_script.h"

#include <chrono>
#include <cstdio>

bool serveRandomRelease(HttpsServer& server, const fs::path& work, std::size_t bytes, std::size_t parts)
{
    if (!startHttpsServer(server, work / "nginx")) {
        std::fprintf(stderr, "nginx: %s\n", server.error.c_str());
        return false;
    }
    buildRandomTreeInEqualParts(work, server.root, bytes, parts);
    return true;
}

TimedScriptRun runScriptTimed(const fs::path& work, const fs::path& script, const fs::path& certificate,
                              const std::string& launcher)
{
    fs::path profile = work / "profil";
    fs::path temp = work / "temp";
    fs::remove_all(profile);
    fs::remove_all(temp);
    fs::create_directories(profile / "Desktop");
    fs::create_directories(temp);
    std::string command = "env SSL_CERT_FILE=" + shellQuote(certificate.string()) + " HOME=" +
                          shellQuote(profile.string()) + " USERPROFILE=" + shellQuote(profile.string()) +
                          " TEMP=" + shellQuote(temp.string()) + " POWERSHELL_TELEMETRY_OPTOUT=1 " + launcher + " " +
                          shellQuote(ORVAN_PWSH) + " -NoProfile -NonInteractive -File " +
                          shellQuote(ORVAN_RUN_SCRIPT_PS1) + " -Script " + shellQuote(script.string()) + " 2>&1";
    TimedScriptRun run;
    auto start = std::chrono::steady_clock::now();
    auto elapsed = [start] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    FILE* pipe = ::popen(command.c_str(), "r");
    char line[4096];
    while (pipe && std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        run.lines.emplace_back(elapsed(), text);
    }
    if (pipe)
        ::pclose(pipe);
    run.seconds = elapsed();
    run.done = !run.lines.empty() && run.lines.back().second.rfind("@DONE ", 0) == 0;
    return run;
}
