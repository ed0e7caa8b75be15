// upload: hands a tree to rclone in the order in which an installer never meets half a release.
#include "publish.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

// Parts never change under their name, so any cache may keep them; the documents change with
// every release and must reach the installer fresh.
constexpr const char* kPartCaching = "Cache-Control: public, max-age=31536000, immutable";
constexpr const char* kDocumentCaching = "Cache-Control: no-cache";

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

std::string remotePath(const std::string& remote, std::string_view relative)
{
    if (remote.empty() || remote.back() == '/' || remote.back() == ':')
        return remote + std::string(relative);
    return remote + "/" + std::string(relative);
}

struct Run {
    int status = -1; // rclone's exit code; -1 when it could not be started
    std::string out;
};

// rclone with these arguments; its standard output is kept when asked for, its diagnostics go to
// our standard error as they come.
Run runRclone(const UploadOptions& options, const std::vector<std::string>& arguments, bool keepOutput)
{
    Run run;
    int pipeEnds[2] = {-1, -1};
    if (keepOutput && ::pipe(pipeEnds) != 0)
        return run;
    // What rclone says about a read that fails is shown only when the failure is not the
    // expected "not there".
    std::FILE* diagnostics = keepOutput ? std::tmpfile() : nullptr;
    std::vector<std::string> all = {options.rclone};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        if (keepOutput) {
            ::dup2(pipeEnds[1], 1);
            ::close(pipeEnds[0]);
            ::close(pipeEnds[1]);
            if (diagnostics)
                ::dup2(fileno(diagnostics), 2);
        } else {
            ::dup2(2, 1);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (keepOutput) {
        ::close(pipeEnds[1]);
        char buffer[65536];
        ssize_t got;
        while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
            run.out.append(buffer, static_cast<std::size_t>(got));
        ::close(pipeEnds[0]);
    }
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    if (diagnostics) {
        if (run.status != 0 && run.status != 3 && run.status != 4) {
            std::rewind(diagnostics);
            char buffer[4096];
            std::size_t got;
            while ((got = std::fread(buffer, 1, sizeof buffer, diagnostics)) > 0)
                std::fwrite(buffer, 1, got, stderr);
        }
        std::fclose(diagnostics);
    }
    return run;
}

bool rclone(const UploadOptions& options, const std::vector<std::string>& arguments, const std::string& what,
            std::string& error)
{
    Run run = runRclone(options, arguments, false);
    if (run.status == 0)
        return true;
    error = run.status == 127 || run.status < 0
                ? "rclone (" + inQuotes(options.rclone) + ") laesst sich nicht starten"
                : what + " ist gescheitert (rclone endete mit " + std::to_string(run.status) + ")";
    return false;
}

// The part file names of a manifest's text; false when it is no manifest.
bool manifestParts(const std::string& text, std::string& version, std::vector<std::string>& parts)
{
    Json manifest = Json::parse(text, nullptr, false);
    if (!manifest.is_object() || !manifest.contains("paket") || !manifest["paket"].is_object() ||
        !manifest["paket"].contains("teile") || !manifest["paket"]["teile"].is_array())
        return false;
    if (manifest.contains("version") && manifest["version"].is_string())
        version = manifest["version"].get<std::string>();
    for (const Json& part : manifest["paket"]["teile"])
        if (part.is_object() && part.contains("url") && part["url"].is_string())
            parts.push_back(std::string(partFileName(part["url"].get<std::string>())));
    return true;
}

// The live manifest's parts must stay reachable through this upload: installers may be reading
// it right now, and it stays live until the new catalog and manifest are in place.
bool checkLiveRelease(const UploadOptions& options, const std::set<std::string>& kept, std::FILE* log,
                      std::string& error)
{
    Run live = runRclone(options, {"cat", remotePath(options.remote, kManifestReference)}, true);
    // rclone's codes for "directory not found" and "file not found": nothing published yet.
    if (live.status == 3 || live.status == 4) {
        std::fprintf(log, "Auf dem Ziel liegt noch kein Manifest.\n");
        return true;
    }
    if (live.status != 0) {
        error = live.status == 127 || live.status < 0
                    ? "rclone (" + inQuotes(options.rclone) + ") laesst sich nicht starten"
                    : "Das Manifest auf dem Ziel ist nicht lesbar (rclone endete mit " + std::to_string(live.status) + ")";
        return false;
    }
    std::string version;
    std::vector<std::string> parts;
    if (!manifestParts(live.out, version, parts)) {
        error = "Das Manifest auf dem Ziel ist kein Manifest mit Teilen; nichts hochgeladen";
        return false;
    }
    std::size_t missing = 0;
    for (const std::string& part : parts)
        missing += kept.count(part) ? 0 : 1;
    if (missing > 0) {
        error = "Auf dem Ziel ist Version " + inQuotes(version) + " ausgeliefert; der Baum behaelt " + std::to_string(missing) +
                " ihrer Teile nicht. Mit build --previous <Baum dieser Version> bauen, damit Installer, die sie gerade "
                "laden, ihre Teile noch finden; nichts hochgeladen";
        return false;
    }
    std::fprintf(log, "Auf dem Ziel ausgeliefert: Version %s; ihre Teile bleiben.\n", version.c_str());
    return true;
}

} // namespace

bool uploadTree(const UploadOptions& options, std::string& error, std::FILE* log)
{
    fs::path games = fs::path(options.tree) / "games";
    fs::path manifestFile = games / std::string(kManifestReference);
    fs::path signatureFile = manifestFile.string() + std::string(kSignatureSuffix);
    fs::path recordFile = games / std::string(kReleasesReference);
    fs::path catalogFile = games / std::string(kCatalogName);
    std::string text;
    std::string why;
    std::string version;
    std::vector<std::string> current;
    if (!readLocalFile(manifestFile.string(), text, why) || !manifestParts(text, version, current)) {
        error = "Im Baum fehlt das Manifest " + inQuotes(manifestFile.string()) + " (" + (why.empty() ? "ohne Teile" : why) + ")";
        return false;
    }
    ReleaseRecord record;
    std::error_code ec;
    text.clear();
    if (fs::exists(recordFile, ec) &&
        (!readLocalFile(recordFile.string(), text, why) || !parseReleaseRecord(text, record, why))) {
        error = "Das Verzeichnis der Versionen " + inQuotes(recordFile.string()) + " " + why;
        return false;
    }
    std::set<std::string> kept(current.begin(), current.end());
    for (const ReleaseEntry& entry : record.versions)
        kept.insert(entry.parts.begin(), entry.parts.end());
    if (!checkLiveRelease(options, kept, log, error))
        return false;

    std::string launcherFolder = fs::path(std::string(kManifestReference)).parent_path().string();
    std::fprintf(log, "1. Teile nach %s\n", remotePath(options.remote, launcherFolder).c_str());
    // A part of the same name holds the same bytes (the name carries its digest): never sent twice.
    if (!rclone(options, {"copy", games.string(), options.remote, "--include", "*.bin", "--ignore-existing",
                          "--header-upload", kPartCaching},
                "Das Hochladen der Teile", error))
        return false;

    std::fprintf(log, "2. Manifest und Signatur\n");
    std::vector<std::pair<fs::path, std::string>> documents = {{manifestFile, std::string(kManifestReference)}};
    if (fs::exists(signatureFile, ec))
        documents.emplace_back(signatureFile, std::string(kManifestReference) + std::string(kSignatureSuffix));
    // Each replaced whole by the server, one right after the other: between the two a signed
    // installer meets a pair that does not fit. No temporary names: rclone moves onto an existing
    // file by deleting it first, which would leave no manifest at all for that moment.
    for (const auto& [file, name] : documents)
        if (!rclone(options, {"copyto", file.string(), remotePath(options.remote, name), "--ignore-times",
                              "--header-upload", kDocumentCaching},
                    "Das Hochladen von " + name, error))
            return false;

    std::fprintf(log, "3. Verzeichnis der Versionen und Katalog\n");
    for (const auto& [file, name] : std::vector<std::pair<fs::path, std::string>>{
             {recordFile, std::string(kReleasesReference)}, {catalogFile, std::string(kCatalogName)}}) {
        if (!fs::exists(file, ec))
            continue;
        if (!rclone(options, {"copyto", file.string(), remotePath(options.remote, name), "--ignore-times",
                              "--header-upload", kDocumentCaching},
                    "Das Hochladen von " + name, error))
            return false;
    }

    std::size_t deleted = 0;
    for (const std::string& part : record.dropped) {
        // The record never drops a part that stays; this guards against a record edited by hand.
        if (kept.count(part) || part.empty() || part.find('/') != std::string::npos)
            continue;
        Run run = runRclone(options, {"deletefile", remotePath(options.remote, launcherFolder + "/" + part)}, false);
        if (run.status == 0)
            ++deleted;
        else if (run.status != 3 && run.status != 4) {
            error = "Das Loeschen des abgeloesten Teils " + inQuotes(part) + " ist gescheitert (rclone endete mit " +
                    std::to_string(run.status) + ")";
            return false;
        }
    }
    std::fprintf(log, "4. Abgeloeste Teile geloescht: %zu\n", deleted);
    std::fprintf(log, "Hochgeladen: Version %s nach %s\n", version.c_str(), options.remote.c_str());
    return true;
}
