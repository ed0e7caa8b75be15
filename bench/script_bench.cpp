// The installation script installing a 256 MiB incompressible package in 32 parts from nginx on
// loopback, against the same work done by curl, sha256sum, cat and unzip. Prints wall times, the
// ratio, the script's peak memory and how long each of its phases took.
//   script_bench [work folder]   (default: a throw-away folder below the temporary folder)
#include "timed_script.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double timed(const std::string& command)
{
    auto start = Clock::now();
    Outcome run = runShell(command);
    double seconds = secondsSince(start);
    if (run.status != 0)
        std::fprintf(stderr, "failed (%d): %s\n%s", run.status, command.c_str(), run.err.c_str());
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    TempDir scratch;
    fs::path work = argc > 1 ? fs::path(argv[1]) : scratch.path;
    fs::create_directories(work);
    const std::size_t kPayloadBytes = 256u << 20;
    const std::size_t kParts = 32;

    std::printf("Preparing a %zu MiB random payload in %zu parts ...\n", kPayloadBytes >> 20, kParts);
    HttpsServer server;
    if (!serveRandomRelease(server, work, kPayloadBytes, kParts))
        return 1;
    fs::path tree = server.root;
    nlohmann::json manifest = readJson(manifestPath(tree));
    std::size_t packageBytes = 0;
    for (const fs::path& part : partPaths(tree))
        packageBytes += fs::file_size(part);
    std::printf("Package: %zu bytes (%.2f MiB) in %zu parts\n", packageBytes, packageBytes / 1048576.0,
                manifest["paket"]["teile"].size());

    std::string origin = "https://127.0.0.1:" + std::to_string(server.port);
    fs::path script = work / "install.ps1";
    copyScriptFor(origin + "/games/", script);

    // The script, its lines time-stamped as they arrive.
    fs::path rssFile = work / "rss.txt";
    TimedScriptRun run = runScriptTimed(work, script, server.certificate,
                                        "/usr/bin/time -f %M -o " + shellQuote(rssFile.string()));
    const auto& lines = run.lines;
    double scriptSeconds = run.seconds;
    long peakKiB = std::atol(readFile(rssFile).c_str());
    bool done = run.done;

    // Phases between status lines: from one status to the next one.
    std::vector<std::pair<std::string, double>> phase; // in the order the phases began
    auto addTo = [&phase](const std::string& name, double seconds) {
        for (auto& [known, total] : phase)
            if (known == name) {
                total += seconds;
                return;
            }
        phase.emplace_back(name, seconds);
    };
    std::string current = "pwsh start-up";
    double since = 0;
    for (const auto& [at, text] : lines) {
        if (text.rfind("@S ", 0) != 0 && text.rfind("@DONE ", 0) != 0)
            continue;
        addTo(current, at - since);
        since = at;
        if (text.rfind("@DONE ", 0) == 0)
            current = "after @DONE until pwsh ended";
        else if (text.rfind("@S Lade Teil ", 0) == 0)
            current = "parts: download, digest, append";
        else
            current = text.substr(3);
    }
    addTo(current, scriptSeconds - since);

    // The same work by the tools.
    fs::path toolTemp = work / "tools";
    fs::remove_all(toolTemp);
    fs::create_directories(toolTemp / "install");
    std::string cacert = shellQuote(server.certificate.string());
    std::string download, digest;
    for (const auto& part : manifest["paket"]["teile"]) {
        std::string name = part["url"].get<std::string>();
        download += "curl -sS --fail --cacert " + cacert + " -o " + shellQuote((toolTemp / name).string()) + " " +
                    shellQuote(origin + "/games/launcher/" + name) + " && ";
        digest += shellQuote((toolTemp / name).string()) + " ";
    }
    std::string catalogs = "curl -sS --fail --cacert " + cacert + " " + shellQuote(origin + "/games/katalog.json?t=1") +
                           " >/dev/null && curl -sS --fail --cacert " + cacert + " " +
                           shellQuote(origin + "/games/launcher/update.json?t=1") + " >/dev/null";
    fs::path zip = toolTemp / "launcher.zip";
    double tCatalogs = timed(catalogs);
    double tDownload = timed(download + "true");
    double tPartDigests = timed("sha256sum " + digest + ">/dev/null");
    double tJoin = timed("cat " + digest + ">" + shellQuote(zip.string()));
    double tPackageDigest = timed("sha256sum " + shellQuote(zip.string()) + " >/dev/null");
    double tUnzip = timed("unzip -qo " + shellQuote(zip.string()) + " 'Inhalt/*' -d " + shellQuote((toolTemp / "install").string()));
    double toolSeconds = tCatalogs + tDownload + tPartDigests + tJoin + tPackageDigest + tUnzip;

    stopHttpsServer(server);

    std::printf("\nScript (pwsh %s): %.2f s wall, peak RSS %.1f MiB, %s\n", ORVAN_PWSH, scriptSeconds, peakKiB / 1024.0,
                done ? "installed" : "FAILED");
    if (!done)
        for (const auto& [at, text] : lines)
            std::printf("  %7.2f %s\n", at, text.c_str());
    for (const auto& [name, seconds] : phase)
        std::printf("  %-40s %7.2f s\n", name.c_str(), seconds);
    std::printf("\nTools (curl, sha256sum, cat, unzip): %.2f s wall\n", toolSeconds);
    std::printf("  %-40s %7.2f s\n", "catalog + manifest (curl)", tCatalogs);
    std::printf("  %-40s %7.2f s\n", "32 parts (curl)", tDownload);
    std::printf("  %-40s %7.2f s\n", "part digests (sha256sum)", tPartDigests);
    std::printf("  %-40s %7.2f s\n", "join (cat)", tJoin);
    std::printf("  %-40s %7.2f s\n", "package digest (sha256sum)", tPackageDigest);
    std::printf("  %-40s %7.2f s\n", "extract (unzip)", tUnzip);
    std::printf("\nRatio script / tools: %.2f\n", scriptSeconds / toolSeconds);
    std::printf("Throughput: script %.1f MiB/s, tools %.1f MiB/s\n", packageBytes / 1048576.0 / scriptSeconds,
                packageBytes / 1048576.0 / toolSeconds);
    return done ? 0 : 1;
}
