// build: payload folder -> games/katalog.json, games/launcher/update.json and the parts.
#include "publish.h"

#include <nlohmann/json.hpp>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct PayloadFile {
    std::string relative; // "/"-separated, below the install folder
    std::string source;
    unsigned mode = 0;    // permission bits
    std::time_t mtime = 0;
    std::uint64_t size = 0;
};

struct Progress {
    std::FILE* log = nullptr;
    bool terminal = false;
    const char* label = "";
    int shown = -1;
};

std::string inQuotes(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

std::string lowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

void showProgress(Progress& progress, double fraction)
{
    if (!progress.log)
        return;
    int percent = static_cast<int>(fraction * 100.0);
    percent = std::clamp(percent, 0, 100);
    // A terminal gets one line rewritten in place; a log file a line every tenth.
    int step = progress.terminal ? percent : percent / 10 * 10;
    if (step == progress.shown)
        return;
    progress.shown = step;
    if (progress.terminal) {
        std::fprintf(progress.log, "\r%s %3d %%", progress.label, step);
        if (step == 100)
            std::fputc('\n', progress.log);
    } else {
        std::fprintf(progress.log, "%s %d %%\n", progress.label, step);
    }
    std::fflush(progress.log);
}

void zipProgress(zip_t*, double fraction, void* user)
{
    showProgress(*static_cast<Progress*>(user), fraction);
}

// Regular files below root (links to files count as the files); everything else is a problem
// the publisher must see, since the installer could not reproduce it.
void collectPayload(const fs::path& root, std::vector<PayloadFile>& files,
                    std::vector<std::string>& problems, std::FILE* log)
{
    std::set<std::string> folders;
    std::error_code ec;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    if (ec) {
        problems.push_back("Der Nutzlastordner " + inQuotes(root.string()) + " ist nicht lesbar: " + ec.message());
        return;
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        const fs::path& path = it->path();
        std::string relative = path.lexically_relative(root).generic_string();
        fs::file_status own = it->symlink_status(ec);
        fs::file_status target = fs::status(path, ec);
        ec.clear();
        if (fs::is_directory(own)) {
            folders.insert(relative);
            continue;
        }
        if (fs::is_symlink(own) && fs::is_directory(target)) {
            problems.push_back(inQuotes(relative) + " ist ein Verweis auf einen Ordner; solche Verweise folgt orvan-publish nicht");
            continue;
        }
        if (!fs::is_regular_file(target)) {
            problems.push_back(inQuotes(relative) + (fs::is_symlink(own) ? " ist ein Verweis ins Leere" : " ist keine gewoehnliche Datei"));
            continue;
        }
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            problems.push_back(inQuotes(relative) + " ist nicht lesbar: " + std::strerror(errno));
            continue;
        }
        PayloadFile file;
        file.relative = relative;
        file.source = path.string();
        file.mode = static_cast<unsigned>(info.st_mode) & 0777u;
        file.mtime = info.st_mtime;
        file.size = static_cast<std::uint64_t>(info.st_size);
        files.push_back(std::move(file));
    }
    if (ec)
        problems.push_back("Der Nutzlastordner ist nicht ganz lesbar: " + ec.message());

    // The zip's order is the order of names, so the same payload gives the same package.
    std::sort(files.begin(), files.end(),
              [](const PayloadFile& a, const PayloadFile& b) { return a.relative < b.relative; });

    for (const std::string& folder : folders) {
        bool holdsFile = std::any_of(files.begin(), files.end(), [&](const PayloadFile& f) {
            return f.relative.compare(0, folder.size() + 1, folder + "/") == 0;
        });
        if (!holdsFile && log)
            std::fprintf(log, "Hinweis: der leere Ordner %s kommt nicht ins Paket (der Installer legt nur Ordner mit Dateien an)\n",
                         inQuotes(folder).c_str());
    }
}

void checkPayload(const std::vector<PayloadFile>& files, std::vector<std::string>& problems)
{
    bool launcher = false;
    std::string launcherOtherCase;
    std::map<std::string, std::string> byLowerName;
    std::set<std::string> lowerFolders;
    for (const PayloadFile& file : files) {
        if (file.relative == kLauncherName)
            launcher = true;
        else if (lowerAscii(file.relative) == lowerAscii(std::string(kLauncherName)))
            launcherOtherCase = file.relative;
        if (!isValidUtf8(file.relative)) {
            problems.push_back("Der Dateiname " + inQuotes(file.relative) + " ist kein gueltiges UTF-8");
            continue;
        }
        std::string problem = payloadPathProblem(file.relative);
        if (!problem.empty()) {
            problems.push_back("Die Datei " + inQuotes(file.relative) + " " + problem);
            continue;
        }
        std::string lower = windowsFoldedName(file.relative);
        auto [at, inserted] = byLowerName.emplace(lower, file.relative);
        if (!inserted)
            problems.push_back("Die Dateien " + inQuotes(at->second) + " und " + inQuotes(file.relative) +
                               " sind unter Windows dieselbe Datei");
        for (std::size_t slash = lower.find('/'); slash != std::string::npos; slash = lower.find('/', slash + 1))
            lowerFolders.insert(lower.substr(0, slash));
    }
    for (const auto& [lower, name] : byLowerName)
        if (lowerFolders.count(lower))
            problems.push_back(inQuotes(name) + " ist unter Windows Datei und Ordner zugleich");
    if (!launcher) {
        std::string problem = "Im Nutzlastordner fehlt " + inQuotes(kLauncherName) +
                              " (direkt im Ordner, nicht in einem Unterordner)";
        if (!launcherOtherCase.empty())
            problem += "; dort liegt " + inQuotes(launcherOtherCase) + ", der Name muss genau so geschrieben sein";
        problems.push_back(problem);
    }
}

// --uninstaller: the built program takes the place of one in the payload folder. A file of
// the list's name in the payload is refused, since build writes the list itself.
void addUninstaller(const std::string& uninstallerFile, std::vector<PayloadFile>& files,
                    std::vector<std::string>& problems, std::FILE* log)
{
    std::vector<std::string> relatives;
    for (const PayloadFile& file : files)
        relatives.push_back(file.relative);
    std::string reserved = fileListReservedProblem(relatives);
    if (!reserved.empty())
        problems.push_back(reserved);
    if (uninstallerFile.empty())
        return;
    struct stat info {};
    if (::stat(uninstallerFile.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        problems.push_back("Das Deinstallationsprogramm " + inQuotes(uninstallerFile) + " ist keine lesbare Datei");
        return;
    }
    auto own = std::find_if(files.begin(), files.end(),
                            [](const PayloadFile& f) { return f.relative == kUninstallerName; });
    if (own != files.end()) {
        if (log)
            std::fprintf(log, "Hinweis: %s aus --uninstaller ersetzt die Datei im Nutzlastordner\n",
                         inQuotes(kUninstallerName).c_str());
        files.erase(own);
    }
    PayloadFile file;
    file.relative = std::string(kUninstallerName);
    file.source = fs::absolute(uninstallerFile).string();
    file.mode = static_cast<unsigned>(info.st_mode) & 0777u;
    file.mtime = info.st_mtime;
    file.size = static_cast<std::uint64_t>(info.st_size);
    files.push_back(std::move(file));
    std::sort(files.begin(), files.end(),
              [](const PayloadFile& a, const PayloadFile& b) { return a.relative < b.relative; });
}

// With the uninstaller comes the list of everything the package delivers, written into the
// work folder and packed beside it.
bool addFileList(std::vector<PayloadFile>& files, const fs::path& work, std::string& error)
{
    bool uninstaller = std::any_of(files.begin(), files.end(),
                                   [](const PayloadFile& f) { return f.relative == kUninstallerName; });
    if (!uninstaller)
        return true;
    std::vector<std::string> relatives;
    for (const PayloadFile& file : files)
        relatives.push_back(file.relative);
    std::string text = fileListText(relatives);
    fs::path listFile = work / "dateiliste.txt";
    std::FILE* out = std::fopen(listFile.c_str(), "wb");
    bool ok = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    ok = out && std::fclose(out) == 0 && ok;
    if (!ok) {
        error = "Kann die Liste der gelieferten Dateien nicht schreiben: " + std::string(std::strerror(errno));
        return false;
    }
    PayloadFile file;
    file.relative = std::string(kFileListName);
    file.source = listFile.string();
    file.mode = 0644;
    // As old as the newest file it lists, so that the same payload gives the same package.
    file.mtime = 0;
    for (const PayloadFile& listed : files)
        file.mtime = std::max(file.mtime, listed.mtime);
    file.size = text.size();
    files.push_back(std::move(file));
    std::sort(files.begin(), files.end(),
              [](const PayloadFile& a, const PayloadFile& b) { return a.relative < b.relative; });
    return true;
}

std::string joinLines(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines) {
        if (!out.empty())
            out += '\n';
        out += line;
    }
    return out;
}

bool writeText(const fs::path& path, const std::string& text, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "Kann " + inQuotes(path.string()) + " nicht anlegen: " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        error = "Kann " + inQuotes(path.string()) + " nicht schreiben: " + std::strerror(errno);
    return ok;
}

bool writeZip(const std::vector<PayloadFile>& files, const fs::path& zipPath, std::uint64_t threshold,
              std::FILE* log, std::string& error)
{
    int code = 0;
    zip_t* archive = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_EXCL, &code);
    if (!archive) {
        zip_error_t zerror;
        zip_error_init_with_code(&zerror, code);
        error = "Kann das Paket nicht anlegen: " + std::string(zip_error_strerror(&zerror));
        zip_error_fini(&zerror);
        return false;
    }
    // Rebuilds from an unchanged payload should give unchanged parts; SOURCE_DATE_EPOCH, the
    // usual request for that, caps the stored times.
    std::time_t latest = 0;
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch)
        latest = static_cast<std::time_t>(std::strtoll(epoch, nullptr, 10));
    std::uint64_t total = 0;
    for (const PayloadFile& file : files) {
        std::string name = std::string(kPayloadPrefix) + file.relative;
        zip_source_t* source = zip_source_file(archive, file.source.c_str(), 0, -1);
        zip_int64_t index = source ? zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (source)
                zip_source_free(source);
            error = "Kann " + inQuotes(file.relative) + " nicht ins Paket legen: " + zip_strerror(archive);
            zip_discard(archive);
            return false;
        }
        auto entry = static_cast<zip_uint64_t>(index);
        std::time_t mtime = (latest > 0 && file.mtime > latest) ? latest : file.mtime;
        // Unix mode in the high half, "made by Unix": an executable stays executable where the
        // platform's zip support applies the bits on extraction.
        zip_uint32_t attributes = (static_cast<zip_uint32_t>(S_IFREG) | file.mode) << 16;
        if (zip_set_file_compression(archive, entry, ZIP_CM_DEFLATE, 0) != 0 ||
            zip_file_set_external_attributes(archive, entry, 0, ZIP_OPSYS_UNIX, attributes) != 0 ||
            zip_file_set_mtime(archive, entry, mtime, 0) != 0) {
            error = "Kann " + inQuotes(file.relative) + " nicht ins Paket legen: " + zip_strerror(archive);
            zip_discard(archive);
            return false;
        }
        total += file.size;
    }
    Progress progress;
    if (total >= threshold && log) {
        progress.log = log;
        progress.terminal = isatty(fileno(log)) != 0;
        progress.label = "Packe Dateien";
        zip_register_progress_callback_with_state(archive, 0.01, zipProgress, nullptr, &progress);
    }
    if (zip_close(archive) != 0) {
        error = "Kann das Paket nicht schreiben: " + std::string(zip_strerror(archive));
        zip_discard(archive);
        return false;
    }
    if (progress.log)
        showProgress(progress, 1.0);
    return true;
}

struct PartRecord {
    std::string name;
    std::string digest;
};

bool splitPackage(const fs::path& zipPath, const fs::path& folder, const BuildOptions& options,
                  std::vector<PartRecord>& parts, std::string& packageDigest,
                  std::uint64_t& packageSize, std::string& error)
{
    std::error_code ec;
    packageSize = fs::file_size(zipPath, ec);
    if (ec) {
        error = "Kann das Paket nicht lesen: " + ec.message();
        return false;
    }
    std::size_t count = static_cast<std::size_t>((packageSize + options.partSize - 1) / options.partSize);
    std::FILE* in = std::fopen(zipPath.c_str(), "rb");
    if (!in) {
        error = "Kann das Paket nicht lesen: " + std::string(std::strerror(errno));
        return false;
    }
    Sha256* whole = sha256Begin();
    std::vector<char> buffer(std::min<std::uint64_t>(options.partSize, 1u << 20));
    fs::path pending = folder / ".teil.tmp";
    bool ok = true;
    for (std::size_t number = 1; ok && number <= count; ++number) {
        std::uint64_t left = std::min<std::uint64_t>(options.partSize, packageSize - (number - 1) * options.partSize);
        std::FILE* out = std::fopen(pending.c_str(), "wb");
        if (!out) {
            error = "Kann einen Teil nicht anlegen: " + std::string(std::strerror(errno));
            ok = false;
            break;
        }
        Sha256* part = sha256Begin();
        while (ok && left > 0) {
            std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
            std::size_t got = std::fread(buffer.data(), 1, want, in);
            if (got != want) {
                error = "Das Paket ist beim Lesen kuerzer geworden";
                ok = false;
                break;
            }
            sha256Add(part, buffer.data(), got);
            sha256Add(whole, buffer.data(), got);
            if (std::fwrite(buffer.data(), 1, got, out) != got) {
                error = "Kann einen Teil nicht schreiben: " + std::string(std::strerror(errno));
                ok = false;
            }
            left -= got;
        }
        if (std::fclose(out) != 0 && ok) {
            error = "Kann einen Teil nicht schreiben: " + std::string(std::strerror(errno));
            ok = false;
        }
        std::string digest = sha256Finish(part);
        if (!ok)
            break;
        PartRecord record{partFileNameFor(options.version, number, count, digest), digest};
        fs::rename(pending, folder / record.name, ec);
        if (ec) {
            error = "Kann den Teil " + inQuotes(record.name) + " nicht anlegen: " + ec.message();
            ok = false;
            break;
        }
        parts.push_back(record);
    }
    std::fclose(in);
    packageDigest = sha256Finish(whole);
    return ok;
}

bool isEmptyFolder(const fs::path& path)
{
    std::error_code ec;
    return fs::is_directory(path, ec) && fs::is_empty(path, ec) && !ec;
}

using SigningKey = std::unique_ptr<ManifestKey, void (*)(ManifestKey*)>;

// What the parts of the package came to.
struct Package {
    std::vector<PartRecord> parts;
    std::string digest;
    std::uint64_t size = 0;
};

// The payload a folder, the version fit for a folder name, the target new or empty.
bool checkBuildOptions(const BuildOptions& options, fs::path& payload, fs::path& out, std::string& error)
{
    std::error_code ec;
    payload = fs::absolute(options.payloadDir, ec);
    out = fs::absolute(options.outDir, ec).lexically_normal();
    if (out.has_filename() == false)
        out = out.parent_path();
    if (!fs::is_directory(payload, ec)) {
        error = "Der Nutzlastordner " + inQuotes(options.payloadDir) + " ist kein Ordner";
        return false;
    }
    std::string problem = versionProblem(options.version);
    if (!problem.empty()) {
        error = "Die Version " + inQuotes(options.version) + " " + problem;
        return false;
    }
    if (fs::exists(fs::symlink_status(out, ec)) && !isEmptyFolder(out)) {
        error = "Der Zielordner " + inQuotes(options.outDir) + " ist nicht leer; orvan-publish schreibt nur in einen neuen oder leeren Ordner";
        return false;
    }
    return true;
}

// The key is read before anything is packed: a release that cannot be signed is not worth packing.
bool loadSigningKey(const BuildOptions& options, SigningKey& key, std::string& error)
{
    if (!options.signKeyFile.empty())
        key.reset(loadManifestKey(options.signKeyFile, true, error));
    return options.signKeyFile.empty() || key;
}

// The uninstaller is signed before it is packed: a signature made later would change the part
// digests. An unsigned one still works, but SmartScreen warns about it when it starts.
void noteUnsignedUninstaller(const std::vector<PayloadFile>& files, std::FILE* log)
{
    auto uninstaller = std::find_if(files.begin(), files.end(),
                                    [](const PayloadFile& f) { return f.relative == kUninstallerName; });
    if (!log || uninstaller == files.end() || authenticodeOfFile(uninstaller->source) != Authenticode::unsigned_)
        return;
    std::fprintf(log,
                 "Hinweis: %s traegt keine Authenticode-Signatur; vor build signieren, etwa mit scripts/sign "
                 "--description \"ORVAN Deinstallieren\" ... %s\n",
                 inQuotes(kUninstallerName).c_str(), inQuotes(uninstaller->source).c_str());
}

// Every file of the payload, the uninstaller of --uninstaller among them, each fit for Windows.
bool gatherPayload(const BuildOptions& options, const fs::path& payload, const fs::path& out,
                   std::vector<PayloadFile>& files, std::string& error, std::FILE* log)
{
    std::error_code ec;
    fs::path realPayload = fs::canonical(payload, ec);
    fs::path realOut = fs::weakly_canonical(out, ec);
    std::string payloadText = realPayload.string() + "/";
    if ((realOut.string() + "/").compare(0, payloadText.size(), payloadText) == 0) {
        error = "Der Zielordner liegt im Nutzlastordner";
        return false;
    }
    std::vector<std::string> problems;
    collectPayload(realPayload, files, problems, log);
    if (problems.empty())
        addUninstaller(options.uninstallerFile, files, problems, log);
    if (problems.empty())
        checkPayload(files, problems);
    if (!problems.empty())
        error = joinLines(problems);
    else
        noteUnsignedUninstaller(files, log);
    return problems.empty();
}

// Everything is made in a hidden sibling and renamed into place at the end, so a run that fails
// or is stopped never leaves a tree that looks complete.
bool makeWorkFolder(const fs::path& out, fs::path& work, std::string& error)
{
    std::error_code ec;
    fs::create_directories(out.parent_path(), ec);
    std::string pattern = (out.parent_path() / ("." + out.filename().string() + ".tmp-XXXXXX")).string();
    std::vector<char> patternBuffer(pattern.begin(), pattern.end());
    patternBuffer.push_back('\0');
    if (!::mkdtemp(patternBuffer.data())) {
        error = "Kann neben dem Zielordner keinen Arbeitsordner anlegen: " + std::string(std::strerror(errno));
        return false;
    }
    work = patternBuffer.data();
    return true;
}

fs::path gamesFolder(const fs::path& work)
{
    return work / "games";
}

// The list of files, the zip and its parts beside where the manifest goes.
bool packPayload(const BuildOptions& options, const fs::path& work, std::vector<PayloadFile>& files, Package& package,
                 std::string& error, std::FILE* log)
{
    std::error_code ec;
    fs::path launcherFolder = gamesFolder(work) / fs::path(std::string(kManifestReference)).parent_path();
    fs::create_directories(launcherFolder, ec);
    if (ec) {
        error = "Kann den Baum nicht anlegen: " + ec.message();
        return false;
    }
    fs::path zipPath = work / "paket.zip";
    if (!addFileList(files, work, error) || !writeZip(files, zipPath, options.progressThreshold, log, error) ||
        !splitPackage(zipPath, launcherFolder, options, package.parts, package.digest, package.size, error))
        return false;
    fs::remove(zipPath, ec);
    fs::remove(work / "dateiliste.txt", ec);
    return true;
}

// The manifest naming the parts, the catalog naming the manifest, and the manifest's signature.
bool writeDocuments(const BuildOptions& options, const ManifestKey* key, const fs::path& work, const Package& package,
                    std::string& error)
{
    nlohmann::ordered_json manifest;
    manifest["version"] = options.version;
    manifest["paket"]["sha256"] = package.digest;
    manifest["paket"]["teile"] = nlohmann::ordered_json::array();
    for (const PartRecord& part : package.parts)
        manifest["paket"]["teile"].push_back({{"url", part.name}, {"sha256", part.digest}});
    if (key) {
        manifest[std::string(kKeyMember)] = manifestKeyFingerprint(key);
        manifest[std::string(kExpiryMember)] = formatExpiry(std::time(nullptr) + options.validDays * 86400LL);
    }
    nlohmann::ordered_json catalog;
    catalog["launcher"]["update"] = std::string(kManifestReference);
    // Pure ASCII documents: the platform's web call decodes a body without a charset as
    // ISO-8859-1, which would spoil a version outside ASCII.
    std::string manifestText = manifest.dump(2, ' ', true) + "\n";
    fs::path games = gamesFolder(work);
    fs::path manifestFile = games / std::string(kManifestReference);
    if (!writeText(manifestFile, manifestText, error) ||
        !writeText(games / std::string(kCatalogName), catalog.dump(2, ' ', true) + "\n", error))
        return false;
    std::string signature;
    return !key || (signManifest(key, manifestText, signature, error) &&
                    writeText(manifestFile.string() + std::string(kSignatureSuffix), signature, error));
}

// With --previous: the parts of the versions that stay come along from the previous tree (linked
// where the file system allows), so that the tree can be served as it is, and the record goes
// beside the manifest.
bool carryOnReleases(const BuildOptions& options, const fs::path& work, const Package& package,
                     BuildSummary& summary, std::string& error)
{
    std::vector<std::string> names;
    for (const PartRecord& part : package.parts)
        names.push_back(part.name);
    if (!planReleaseRecord(options.previousTree, options.version, names, options.graceDays, std::time(nullptr),
                           summary.record, error))
        return false;
    fs::path launcherFolder = gamesFolder(work) / fs::path(std::string(kManifestReference)).parent_path();
    fs::path previousFolder = fs::path(options.previousTree) / "games" / fs::path(std::string(kManifestReference)).parent_path();
    for (std::size_t i = 1; i < summary.record.versions.size(); ++i)
        for (const std::string& name : summary.record.versions[i].parts) {
            std::error_code ec;
            fs::path target = launcherFolder / name;
            if (fs::exists(target, ec))
                continue;
            fs::path source = previousFolder / name;
            if (!fs::is_regular_file(source, ec)) {
                ++summary.partsNotCopied;
                continue;
            }
            fs::create_hard_link(source, target, ec);
            if (ec) {
                ec.clear();
                fs::copy_file(source, target, ec);
            }
            if (ec) {
                error = "Kann den Teil " + inQuotes(name) + " aus dem vorigen Baum nicht uebernehmen: " + ec.message();
                return false;
            }
        }
    // A first release needs no record: its manifest says all a later --previous needs to know.
    return options.previousTree.empty() ||
           writeText(gamesFolder(work) / std::string(kReleasesReference), releaseRecordText(summary.record), error);
}

bool moveIntoPlace(const fs::path& work, const fs::path& out, const BuildOptions& options, std::string& error)
{
    std::error_code ec;
    fs::permissions(work, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec, ec);
    fs::rename(work, out, ec);
    if (ec)
        error = "Kann den Baum nicht nach " + inQuotes(options.outDir) + " legen: " + ec.message();
    return !ec;
}

} // namespace

std::string partFileNameFor(std::string_view version, std::size_t number, std::size_t count,
                            std::string_view digest)
{
    std::string safe;
    for (char c : version) {
        if (safe.size() >= 40)
            break;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || (c == '.' && !safe.empty());
        safe += plain ? c : '_';
    }
    if (safe.empty())
        safe = "v";
    int width = 4;
    for (std::size_t rest = count / 10000; rest > 0; rest /= 10)
        ++width;
    char numberText[32];
    std::snprintf(numberText, sizeof numberText, "%0*zu", width, number);
    return "launcher-" + safe + "-" + numberText + "-" + std::string(digest.substr(0, 12)) + ".bin";
}

bool buildTree(const BuildOptions& options, BuildSummary& summary, std::string& error, std::FILE* log)
{
    fs::path payload, out, work;
    SigningKey key(nullptr, freeManifestKey);
    std::vector<PayloadFile> files;
    if (!checkBuildOptions(options, payload, out, error) || !loadSigningKey(options, key, error) ||
        !gatherPayload(options, payload, out, files, error, log) || !makeWorkFolder(out, work, error))
        return false;
    Package package;
    if (!packPayload(options, work, files, package, error, log) || !carryOnReleases(options, work, package, summary, error) ||
        !writeDocuments(options, key.get(), work, package, error) || !moveIntoPlace(work, out, options, error)) {
        std::error_code ec;
        fs::remove_all(work, ec);
        return false;
    }
    summary.payloadFiles = files.size();
    summary.packageSize = package.size;
    summary.partCount = package.parts.size();
    return true;
}
