// The installation script over an emulated link (tests/support/link_relay.py between it and nginx:
// 100 Mbit/s, 50 ms round trip) installing 64 MiB of incompressible payload in 8 parts, against
// the link's own limit (bytes / rate) and against curl fetching the same parts over one
// connection. Prints when the script's first line came, the catalog and manifest, each part's
// time beyond what its bytes need on the link (also in round trips), the check, the extraction
// and the whole run. Then the same requests made the same way and nothing else (no digest, no
// package, no unpacking): what Invoke-WebRequest itself needs on this link, for the whole run to
// be held against.
//   link_bench [work folder]   (default: a throw-away folder below the temporary folder)
#include "timed_script.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kRate = 100e6; // bits per second
constexpr double kRtt = 0.050;  // seconds

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The script's requests with the script's options (one web session, the 30 s timeouts, each part
// to a file), with the script's status lines before the catalog and before each part.
std::string fetchOnlyScript(const std::string& games, const nlohmann::json& manifest)
{
    std::string script = R"(
$ErrorActionPreference = 'Stop'
$ProgressPreference = 'SilentlyContinue'
$out = [Console]::OpenStandardOutput()
function L([string]$line) { $bytes = [Text.Encoding]::UTF8.GetBytes($line + "`n"); $out.Write($bytes, 0, $bytes.Length); $out.Flush() }
L '@S Verbinde'
$options = @{ UseBasicParsing = $true; WebSession = (New-Object Microsoft.PowerShell.Commands.WebRequestSession); ConnectionTimeoutSeconds = 30; OperationTimeoutSeconds = 30 }
Invoke-WebRequest @options -Uri ')" + games + R"(katalog.json?t=1' | Out-Null
Invoke-WebRequest @options -Uri ')" + games + R"(launcher/update.json?t=1' | Out-Null
)";
    const auto& parts = manifest["paket"]["teile"];
    for (std::size_t i = 1; i <= parts.size(); ++i)
        script += "L '@S Lade Teil " + std::to_string(i) + " / " + std::to_string(parts.size()) +
                  "'\nInvoke-WebRequest @options -Uri '" + games + "launcher/" + parts[i - 1]["url"].get<std::string>() +
                  "' -OutFile (Join-Path $env:TEMP 'teil-" + std::to_string(i) + "') | Out-Null\n";
    return script + "L ('@DONE ' + $env:TEMP)\n";
}

pid_t startRelay(int target, const fs::path& portFile, int& port)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        ::execlp("python3", "python3", ORVAN_LINK_RELAY_PY, std::to_string(target).c_str(), portFile.c_str(), "--rate",
                 std::to_string(kRate).c_str(), "--rtt", std::to_string(kRtt * 1000).c_str(), "--log",
                 (portFile.string() + ".log").c_str(), nullptr);
        ::_exit(127);
    }
    for (int i = 0; i < 200 && !fs::exists(portFile); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    port = std::atoi(readFile(portFile).c_str());
    return pid;
}

} // namespace

int main(int argc, char** argv)
{
    TempDir scratch;
    fs::path work = argc > 1 ? fs::path(argv[1]) : scratch.path;
    fs::create_directories(work);
    const std::size_t kPayloadBytes = 64u << 20;
    const std::size_t kParts = 8;

    HttpsServer server;
    if (!serveRandomRelease(server, work, kPayloadBytes, kParts))
        return 1;
    fs::path tree = server.root;
    nlohmann::json manifest = readJson(manifestPath(tree));
    std::vector<std::size_t> partBytes;
    std::size_t packageBytes = 0;
    for (const fs::path& part : partPaths(tree)) {
        partBytes.push_back(fs::file_size(part));
        packageBytes += partBytes.back();
    }

    int relayPort = 0;
    fs::remove(work / "relay.port");
    fs::remove(work / "relay.port.log");
    pid_t relay = startRelay(server.port, work / "relay.port", relayPort);
    std::string origin = "https://127.0.0.1:" + std::to_string(relayPort);
    fs::path script = work / "install.ps1";
    copyScriptFor(origin + "/games/", script);
    std::printf("Link: %.0f Mbit/s, %.0f ms round trip; package %.2f MiB in %zu parts\n", kRate / 1e6, kRtt * 1000,
                packageBytes / 1048576.0, partBytes.size());

    TimedScriptRun run = runScriptTimed(work, script, server.certificate);
    const auto& lines = run.lines;
    double whole = run.seconds;
    bool done = run.done;
    std::string accepted = fs::exists(work / "relay.port.log") ? readFile(work / "relay.port.log") : "";
    long connections = std::count(accepted.begin(), accepted.end(), '\n');

    // When the first status line of a run starting with prefix came, and the status line after it.
    auto within = [](const std::vector<std::pair<double, std::string>>& lines, const std::string& prefix) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].second.rfind(prefix, 0) == 0) {
                double next = lines[i].first;
                for (std::size_t j = i + 1; j < lines.size(); ++j)
                    if (lines[j].second.rfind("@S ", 0) == 0 || lines[j].second.rfind("@DONE", 0) == 0) {
                        next = lines[j].first;
                        break;
                    }
                return std::make_pair(lines[i].first, next);
            }
        return std::make_pair(-1.0, -1.0);
    };
    auto at = [&](const std::string& prefix) { return within(lines, prefix); };
    // Part i's time beyond what its bytes need on the link.
    auto beyondOwn = [&](const std::vector<std::pair<double, std::string>>& lines, std::size_t i) {
        auto [from, to] = within(lines, "@S Lade Teil " + std::to_string(i + 1) + " / ");
        return (to - from) - partBytes[i] * 8 / kRate;
    };

    // curl: the same parts over one connection, through the same link.
    std::string cacert = shellQuote(server.certificate.string());
    std::string curl = "curl -sS --fail --cacert " + cacert;
    for (const auto& part : manifest["paket"]["teile"]) {
        std::string name = part["url"].get<std::string>();
        curl += " -o " + shellQuote((work / ("curl-" + name)).string()) + " " +
                shellQuote(origin + "/games/launcher/" + name);
    }
    auto curlStart = Clock::now();
    Outcome fetched = runShell(curl);
    double curlSeconds = secondsSince(curlStart);

    fs::path fetchOnly = work / "fetch-only.ps1";
    writeFile(fetchOnly, fetchOnlyScript(origin + "/games/", manifest));
    TimedScriptRun bare = runScriptTimed(work, fetchOnly, server.certificate);

    ::kill(relay, SIGTERM);
    ::waitpid(relay, nullptr, 0);
    stopHttpsServer(server);

    double limit = packageBytes * 8 / kRate;
    double firstLine = lines.empty() ? -1 : lines.front().first;
    std::printf("\nScript (pwsh): %s\n", done ? "installed" : "FAILED");
    if (!done)
        for (const auto& [t, text] : lines)
            std::printf("  %7.2f %s\n", t, text.c_str());
    std::printf("  %-44s %7ld\n", "connections opened", connections);
    std::printf("  %-44s %7.3f s\n", "start to first line", firstLine);
    auto [connect, loading] = at("@S Verbinde mit ");
    std::printf("  %-44s %7.3f s  (%.1f round trips)\n", "catalog and manifest", loading - connect,
                (loading - connect) / kRtt);
    double worstBeyond = 0;
    for (std::size_t i = 0; i < partBytes.size(); ++i) {
        double own = partBytes[i] * 8 / kRate;
        double beyond = beyondOwn(lines, i);
        worstBeyond = std::max(worstBeyond, beyond);
        std::printf("  part %zu: %7.3f s, link's own %6.3f s, beyond %6.3f s (%.2f round trips)\n", i + 1, own + beyond,
                    own, beyond, beyond / kRtt);
    }
    auto [check, unpack] = at("@S Pruefe Paket");
    auto [unpackFrom, unpackTo] = at("@S Entpacke Dateien");
    std::printf("  %-44s %7.3f s\n", "package check", unpack - check);
    std::printf("  %-44s %7.3f s\n", "extraction and move", unpackTo - unpackFrom);
    // The window reports success with the @DONE line; PowerShell ends a little later.
    double doneAt = done ? lines.back().first : -1;
    std::printf("  %-44s %7.3f s\n", "whole run to @DONE", doneAt);
    std::printf("  %-44s %7.3f s\n", "whole run to PowerShell's exit", whole);
    double target = limit + firstLine + 1;
    std::printf("\nLink's limit (bytes / rate): %.3f s; target: limit + start + 1 s = %.3f s; to @DONE %s it, to the "
                "exit %s it\n",
                limit, target, done && doneAt <= target ? "meets" : "MISSES", done && whole <= target ? "meets" : "MISSES");
    std::printf("Worst part beyond the link's time: %.2f round trips (target at most 1.5)\n", worstBeyond / kRtt);
    std::printf("curl, the same parts over one connection: %.3f s%s (limit %.3f s)\n", curlSeconds,
                fetched.status == 0 ? "" : " FAILED", limit);
    if (bare.done) {
        double bareStart = bare.lines.front().first;
        double bareEnd = bare.lines.back().first;
        std::printf("\nThe requests alone (Invoke-WebRequest, one web session, nothing checked, joined or unpacked):\n");
        std::printf("  first line %.3f s, end of the last part %.3f s = limit + start + %.3f s\n", bareStart, bareEnd,
                    bareEnd - limit - bareStart);
        std::printf("  parts beyond the link's time, in round trips:");
        for (std::size_t i = 0; i < partBytes.size(); ++i)
            std::printf(" %.2f", beyondOwn(bare.lines, i) / kRtt);
        std::printf("\n");
    } else {
        std::printf("The requests alone: FAILED\n");
        for (const auto& [t, text] : bare.lines)
            std::printf("  %7.2f %s\n", t, text.c_str());
    }
    return done ? 0 : 1;
}
