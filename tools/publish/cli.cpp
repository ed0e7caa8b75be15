#include "publish.h"

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#ifndef ORVAN_PUBLISH_BASE_URL
#define ORVAN_PUBLISH_BASE_URL "https://download.nordalis.example/games/"
#endif

namespace {

// Each command with its call and its explanation; "orvan-publish --help" shows them all, and
// "orvan-publish <command> --help" the one.
struct Arguments;
struct Command {
    const char* name;
    const char* usage;
    const char* help;
    std::vector<std::string> options; // each takes a value
    std::vector<std::string> flags;   // none takes a value
    int (*run)(const Arguments& arguments, std::FILE* out, std::FILE* err);
};

const char* kBuildUsage =
    "  orvan-publish build <Nutzlastordner> --version <Version> --out <Zielordner>\n"
    "                [--part-size <Bytes>] [--sign-key <privater Schluessel.pem> [--valid-days <Tage>]]\n"
    "                [--uninstaller <ORVAN Deinstallieren.exe>]\n"
    "                [--previous <Baum der ausgelieferten Version> [--grace-days <Tage>]] [--force]\n";
const char* kBuildHelp =
    "build   packt den Nutzlastordner (mit \"ORVAN Launcher.exe\" direkt darin) unter \"Inhalt/\"\n"
    "        in ein Zip-Paket, teilt es und schreibt einen Baum, der so ausgeliefert wird, wie er\n"
    "        ist: <Zielordner>/games/katalog.json, games/launcher/update.json und die Teile.\n"
    "        Der Zielordner darf noch nicht bestehen oder muss leer sein.\n"
    "        --version    ein ASCII-Buchstabe oder eine Ziffer, dann bis zu 40 Buchstaben, Ziffern,\n"
    "                     \".\", \"-\", \"_\" und \"+\" (etwa 1.4.0, 2.0-beta.1)\n"
    "        --part-size  Groesse der Teile, Standard 8M; Endungen K, M, G (1024er), hoechstens 1G,\n"
    "                     mindestens 64K\n"
    "        --sign-key   signiert das Manifest mit diesem ECDSA-Schluessel (P-256, PEM) und legt\n"
    "                     die Signatur als update.json.sig daneben\n"
    "        --uninstaller  legt dieses Programm als \"ORVAN Deinstallieren.exe\" ins Paket (sonst\n"
    "                     das des Nutzlastordners, falls dort eines liegt); mit ihm kommt die Liste\n"
    "                     aller gelieferten Dateien \"ORVAN Deinstallieren.dateien\" ins Paket.\n"
    "                     Vorher signieren (scripts/sign --description \"ORVAN Deinstallieren\")\n"
    "        --valid-days so viele Tage (1 bis 366, Standard 90) gilt die Signatur; das Manifest\n"
    "                     nennt den Zeitpunkt in \"gueltigBis\" (UTC)\n"
    "        --previous   der Baum der Version, die jetzt ausgeliefert wird (mindestens sein\n"
    "                     games/launcher/update.json und freigaben.json): ihre Teile bleiben im\n"
    "                     neuen Baum, freigaben.json vermerkt, wann sie abgeloest wurde\n"
    "        --grace-days so viele Tage (0 bis 366, Standard 7) nach dem Abloesen bleiben die Teile\n"
    "                     einer Version noch; danach nennt freigaben.json sie unter \"entfernt\".\n"
    "                     Die eben abgeloeste Version bleibt immer bis zur naechsten\n"
    "        --force      nimmt Teile unter 64K und eine Version ausserhalb der Form hin\n";

const char* kResignUsage =
    "  orvan-publish resign <Zielordner> --sign-key <privater Schluessel.pem> [--valid-days <Tage>]\n";
const char* kResignHelp =
    "resign  erneuert \"gueltigBis\" und die Signatur eines signierten Baums mit dem Schluessel,\n"
    "        den das Manifest nennt; Katalog, Teile und alles andere im Manifest bleiben, wie sie\n"
    "        sind. Verweigert einen Baum, den verify beanstandet, oder eine ungueltige Signatur.\n"
    "        Ein Baum nur aus Manifest und Signatur (vom Server geholt) genuegt; dann bleiben die\n"
    "        Teile ungeprueft.\n"
    "        --valid-days wie bei build\n";

const char* kVerifyUsage =
    "  orvan-publish verify <Zielordner | https://Host[:Port]/games/>\n"
    "                [--ca-file <PEM-Datei>] [--base https://Host[:Port]/games/]\n"
    "                [--key <oeffentlicher Schluessel.pem>] [--installer <orvan-setup.exe>]\n";
const char* kVerifyHelp =
    "verify  prueft einen Baum auf der Platte oder einen Server unter seiner Basisadresse so, wie\n"
    "        der Installer ihn liest, und nennt jedes Problem in einer eigenen Zeile.\n"
    "        --ca-file    zusaetzlich vertrautes Zertifikat (sonst SSL_CERT_FILE, sonst das System)\n"
    "        --base       fuer einen Baum auf der Platte: die Basisadresse, unter der er\n"
    "                     ausgeliefert wird (Standard " ORVAN_PUBLISH_BASE_URL ")\n"
    "        --key        die Signatur des Manifests muss zu diesem oeffentlichen Schluessel\n"
    "                     (P-256, PEM) passen, dem des Installers; nennt dann auch, bis wann\n"
    "                     sie gilt, und warnt 14 Tage vorher\n"
    "        --installer  der ausgelieferte Installer: ist er signiert (Authenticode), warnt\n"
    "                     verify, wenn das Deinstallationsprogramm im Paket es nicht ist\n";

const char* kUploadUsage = "  orvan-publish upload <Zielordner> <rclone-Ziel des Ordners /games/>\n";
const char* kUploadHelp =
    "upload  uebergibt den Baum an rclone, in der Reihenfolge, in der kein Installer eine halbe\n"
    "        Version sieht: 1. die Teile (Cache-Control: public, max-age=31536000, immutable),\n"
    "        2. Manifest und Signatur, eins gleich nach dem anderen, 3. freigaben.json und\n"
    "        katalog.json (Manifest, Signatur und diese: Cache-Control: no-cache),\n"
    "        4. erst dann die Teile, die freigaben.json unter \"entfernt\" nennt. Nichts sonst\n"
    "        wird geloescht; ein Baum, der die Teile des ausgelieferten Manifests nicht behaelt,\n"
    "        wird verweigert. Das Ziel ist ein rclone-Pfad (\"studio:games\", \":webdav:games\");\n"
    "        Zugang und Optionen nimmt rclone aus seiner Konfiguration oder RCLONE_*-Variablen.\n"
    "        Ein Baum nur aus Manifest und Signatur (nach resign) laedt nur diese beiden hoch.\n";

int runBuild(const Arguments& arguments, std::FILE* out, std::FILE* err);
int runVerify(const Arguments& arguments, std::FILE* out, std::FILE* err);
int runResign(const Arguments& arguments, std::FILE* out, std::FILE* err);
int runUpload(const Arguments& arguments, std::FILE* out, std::FILE* err);
int runWingetCommand(const Arguments& arguments, std::FILE* out, std::FILE* err);

const std::vector<Command>& commands()
{
    static const std::vector<Command> table = {
        {"build", kBuildUsage, kBuildHelp,
         {"--version", "--out", "--part-size", "--sign-key", "--valid-days", "--uninstaller", "--previous", "--grace-days"},
         {"--force"}, runBuild},
        {"resign", kResignUsage, kResignHelp, {"--sign-key", "--valid-days"}, {}, runResign},
        {"verify", kVerifyUsage, kVerifyHelp, {"--ca-file", "--base", "--key", "--installer"}, {}, runVerify},
        {"upload", kUploadUsage, kUploadHelp, {}, {}, runUpload},
        {"winget", kWingetUsage, kWingetHelp, kWingetOptions, {}, runWingetCommand},
    };
    return table;
}

std::string usageText()
{
    std::string text = "Aufruf:\n";
    for (const Command& command : commands())
        text += command.usage;
    return text + "  orvan-publish <Befehl> --help\n  orvan-publish --help\n";
}

const char* kExitCodes =
    "\n"
    "Rueckgabe: 0 fertig bzw. ohne Befund, 1 gescheitert bzw. Probleme gefunden, 2 falscher Aufruf,\n"
    "           3 (verify) kein Problem, aber eine Warnung.\n";

struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
    std::string error;
    bool help = false;
};

// "--name value" and "--name=value" for options, "--name" alone for flags; "--help" anywhere.
Arguments splitArguments(int argc, char** argv, int first, const std::vector<std::string>& known,
                         const std::vector<std::string>& flags = {})
{
    Arguments result;
    for (int i = first; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            result.help = true;
            continue;
        }
        bool isFlag = false;
        for (const std::string& flag : flags)
            isFlag = isFlag || flag == argument;
        if (isFlag) {
            for (const auto& [seen, ignored] : result.options)
                if (seen == argument) {
                    result.error = argument + " ist doppelt angegeben";
                    return result;
                }
            result.options.emplace_back(argument, "");
            continue;
        }
        if (argument.size() < 2 || argument.compare(0, 2, "--") != 0) {
            result.positional.push_back(argument);
            continue;
        }
        std::string name = argument;
        std::string value;
        bool hasValue = false;
        std::size_t equals = argument.find('=');
        if (equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        bool isKnown = false;
        for (const std::string& option : known)
            isKnown = isKnown || option == name;
        if (!isKnown) {
            result.error = "unbekannte Option \"" + name + "\"";
            return result;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                result.error = "bei " + name + " fehlt der Wert";
                return result;
            }
            value = argv[++i];
        }
        for (const auto& [seen, ignored] : result.options)
            if (seen == name) {
                result.error = name + " ist doppelt angegeben";
                return result;
            }
        result.options.emplace_back(name, value);
    }
    return result;
}

const std::string* option(const Arguments& arguments, const char* name)
{
    for (const auto& [key, value] : arguments.options)
        if (key == name)
            return &value;
    return nullptr;
}

// One problem, one line: control characters a document smuggled into a text are shown escaped.
std::string oneLine(const std::string& text)
{
    std::string out;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

// Whether the key file holds what the command needs; the message starts in lower case like
// every other argument error.
std::string manifestKeyProblem(const std::string& path, bool privateKey)
{
    std::string error;
    ManifestKey* key = loadManifestKey(path, privateKey, error);
    freeManifestKey(key);
    if (!error.empty())
        error[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(error[0])));
    return error;
}

int usageError(std::FILE* err, const std::string& message)
{
    std::fprintf(err, "orvan-publish: %s\n\n%s\"orvan-publish --help\" erklaert die Befehle.\n", message.c_str(),
                 usageText().c_str());
    return 2;
}

std::string validDaysProblem(const std::string& text, int& days)
{
    if (parseValidDays(text, days))
        return {};
    return "--valid-days \"" + text + "\" ist keine Zahl von Tagen von 1 bis " + std::to_string(kMaxValidDays);
}

void printLines(std::FILE* err, const std::string& lines)
{
    std::size_t start = 0;
    while (start <= lines.size()) {
        std::size_t end = lines.find('\n', start);
        if (end == std::string::npos)
            end = lines.size();
        std::fprintf(err, "orvan-publish: %s\n", lines.substr(start, end - start).c_str());
        start = end + 1;
    }
}

// What the tree keeps of earlier releases, and the order in which it goes to the server.
void printReleases(std::FILE* out, const BuildOptions& options, const BuildSummary& summary)
{
    const ReleaseRecord& record = summary.record;
    for (std::size_t i = 1; i < record.versions.size(); ++i)
        std::fprintf(out, "  behalten: Version %s, %zu %s, abgeloest %s\n", record.versions[i].version.c_str(),
                     record.versions[i].parts.size(), record.versions[i].parts.size() == 1 ? "Teil" : "Teile",
                     record.versions[i].superseded.c_str());
    if (summary.partsNotCopied == 1)
        std::fprintf(out, "  1 behaltener Teil lag nicht im vorigen Baum; er bleibt nur auf dem Server\n");
    else if (summary.partsNotCopied > 1)
        std::fprintf(out, "  %zu behaltene Teile lagen nicht im vorigen Baum; sie bleiben nur auf dem Server\n",
                     summary.partsNotCopied);
    if (!record.dropped.empty())
        std::fprintf(out, "  entfernt: %zu %s abgeloester Versionen (Frist %d Tage vorbei)\n", record.dropped.size(),
                     record.dropped.size() == 1 ? "Teil" : "Teile", options.graceDays);
    std::fprintf(out,
                 "Hochladen in dieser Reihenfolge (orvan-publish upload tut es so):\n"
                 "  1. die Teile games/launcher/*.bin, ohne etwas zu loeschen\n"
                 "  2. games/%s und games/%s%s\n"
                 "  3. games/%s, dann games/%s\n"
                 "  4. erst dann die Teile loeschen, die games/%s unter \"entfernt\" nennt\n",
                 std::string(kManifestReference).c_str(), std::string(kManifestReference).c_str(),
                 std::string(kSignatureSuffix).c_str(), std::string(kReleasesReference).c_str(),
                 std::string(kCatalogName).c_str(), std::string(kReleasesReference).c_str());
}

int runBuild(const Arguments& arguments, std::FILE* out, std::FILE* err)
{
    if (arguments.positional.size() != 1)
        return usageError(err, arguments.positional.empty() ? "der Nutzlastordner fehlt"
                                                            : "build nimmt genau einen Nutzlastordner");
    const std::string* version = option(arguments, "--version");
    const std::string* target = option(arguments, "--out");
    if (!version)
        return usageError(err, "--version fehlt");
    if (!target || target->empty())
        return usageError(err, "--out fehlt");
    BuildOptions options;
    options.payloadDir = arguments.positional[0];
    options.version = *version;
    options.outDir = *target;
    bool force = option(arguments, "--force") != nullptr;
    if (const std::string* size = option(arguments, "--part-size"); size && !parsePartSize(*size, options.partSize))
        return usageError(err, "--part-size \"" + *size + "\" ist keine Groesse von 1 Byte bis 1G (etwa 4096, 64K, 8M)");
    if (options.partSize < kMinPartSize && !force)
        return usageError(err, "--part-size " + std::to_string(options.partSize) + " Bytes ist kleiner als 64K; das Paket "
                               "zerfiele in sehr viele Teile. Gemeint ist wohl eine Endung (100M statt 100); wirklich so "
                               "klein: --force");
    std::string problem = versionProblem(options.version);
    if (!problem.empty())
        return usageError(err, "die Version \"" + options.version + "\" " + problem +
                                   "; der Installer benutzt sie als Teil eines Ordnernamens");
    problem = releaseVersionProblem(options.version);
    if (!problem.empty() && !force)
        return usageError(err, "die Version \"" + options.version + "\" " + problem +
                                   "; sie steht in Ordner- und Teilenamen, erlaubt sind ein ASCII-Buchstabe oder eine "
                                   "Ziffer, dann Buchstaben, Ziffern, \".\", \"-\", \"_\" und \"+\" (hoechstens " +
                                   std::to_string(kMaxReleaseVersionLength) + " Zeichen; trotzdem: --force)");
    std::error_code ec;
    if (!std::filesystem::is_directory(options.payloadDir, ec))
        return usageError(err, "der Nutzlastordner \"" + options.payloadDir + "\" ist kein Ordner");
    if (const std::string* key = option(arguments, "--sign-key")) {
        options.signKeyFile = *key;
        if (std::string keyProblem = manifestKeyProblem(*key, true); !keyProblem.empty())
            return usageError(err, keyProblem);
    }
    if (const std::string* days = option(arguments, "--valid-days")) {
        if (options.signKeyFile.empty())
            return usageError(err, "--valid-days gilt nur mit --sign-key");
        if (std::string problem = validDaysProblem(*days, options.validDays); !problem.empty())
            return usageError(err, problem);
    }

    if (const std::string* uninstaller = option(arguments, "--uninstaller")) {
        if (uninstaller->empty())
            return usageError(err, "--uninstaller braucht den Pfad des Deinstallationsprogramms");
        options.uninstallerFile = *uninstaller;
    }
    if (const std::string* previous = option(arguments, "--previous")) {
        std::error_code ec;
        if (!std::filesystem::is_directory(*previous, ec))
            return usageError(err, "der vorige Baum \"" + *previous + "\" ist kein Ordner");
        options.previousTree = *previous;
    }
    if (const std::string* days = option(arguments, "--grace-days")) {
        if (options.previousTree.empty())
            return usageError(err, "--grace-days gilt nur mit --previous");
        if (!parseGraceDays(*days, options.graceDays))
            return usageError(err, "--grace-days \"" + *days + "\" ist keine Zahl von Tagen von 0 bis " +
                                       std::to_string(kMaxGraceDays));
    }

    BuildSummary summary;
    std::string error;
    if (!buildTree(options, summary, error, err)) {
        printLines(err, error);
        std::fprintf(err, "orvan-publish: nichts geschrieben\n");
        return 1;
    }
    std::fprintf(out,
                 "Baum geschrieben: %s\n"
                 "  Katalog:  %s/games/%s\n"
                 "  Manifest: %s/games/%s\n"
                 "  Version %s, %zu Dateien, Paket %llu Bytes in %zu %s\n",
                 options.outDir.c_str(), options.outDir.c_str(), std::string(kCatalogName).c_str(),
                 options.outDir.c_str(), std::string(kManifestReference).c_str(), options.version.c_str(),
                 summary.payloadFiles, static_cast<unsigned long long>(summary.packageSize), summary.partCount,
                 summary.partCount == 1 ? "Teil" : "Teilen");
    printReleases(out, options, summary);
    return 0;
}

int runVerify(const Arguments& arguments, std::FILE* out, std::FILE* err)
{
    if (arguments.positional.size() != 1)
        return usageError(err, arguments.positional.empty() ? "der Baum oder die Basisadresse fehlt"
                                                            : "verify nimmt genau einen Baum oder eine Basisadresse");
    VerifyOptions options;
    options.target = arguments.positional[0];
    bool remote = options.target.compare(0, 7, "http://") == 0 || options.target.compare(0, 8, "https://") == 0;
    if (remote && !isInstallerBaseUrl(options.target))
        return usageError(err, "\"" + options.target + "\" ist keine Basisadresse des Installers (https://Host[:Port]/games/)");
    if (const std::string* base = option(arguments, "--base")) {
        if (remote)
            return usageError(err, "--base gilt nur fuer einen Baum auf der Platte");
        if (!isInstallerBaseUrl(*base))
            return usageError(err, "--base \"" + *base + "\" ist keine Basisadresse des Installers (https://Host[:Port]/games/)");
        options.baseUrl = *base;
    } else {
        options.baseUrl = ORVAN_PUBLISH_BASE_URL;
    }
    bool defaultBase = !remote && !option(arguments, "--base");
    if (const std::string* ca = option(arguments, "--ca-file")) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(*ca, ec))
            return usageError(err, "die Zertifikatsdatei \"" + *ca + "\" gibt es nicht");
        options.caFile = *ca;
    }
    if (const std::string* key = option(arguments, "--key")) {
        options.keyFile = *key;
        if (std::string keyProblem = manifestKeyProblem(*key, false); !keyProblem.empty())
            return usageError(err, keyProblem);
    }
    if (const std::string* installer = option(arguments, "--installer")) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(*installer, ec))
            return usageError(err, "der Installer \"" + *installer + "\" ist keine Datei");
        options.installerFile = *installer;
    }
    std::error_code ec;
    if (!remote && !std::filesystem::is_directory(options.target, ec))
        return usageError(err, "der Baum \"" + options.target + "\" ist kein Ordner");

    // A tree on disk is read as if served at a base URL; without --base it is this build's own,
    // which is the example host unless the tool was configured for the studio's server.
    if (defaultBase)
        std::fprintf(out, "Hinweis: geprueft unter der Basisadresse %s (ohne --base die dieses Builds); "
                          "--base nennt die des eigenen Servers\n", options.baseUrl.c_str());
    VerifyReport report;
    verifyTree(options, report);
    for (const std::string& problem : report.problems)
        std::fprintf(out, "FEHLER: %s\n", oneLine(problem).c_str());
    for (const std::string& warning : report.warnings)
        std::fprintf(out, "WARNUNG: %s\n", oneLine(warning).c_str());
    for (const std::string& note : report.notes)
        std::fprintf(out, "Hinweis: %s\n", oneLine(note).c_str());
    if (!report.problems.empty()) {
        std::fprintf(out, "%zu Problem%s gefunden.\n", report.problems.size(), report.problems.size() == 1 ? "" : "e");
        return 1;
    }
    std::string signature = report.signatureValid ? ", Signatur gueltig bis " + report.expiry : "";
    std::fprintf(out, "In Ordnung: Version %s, %zu %s, Paket %llu Bytes, %zu Dateien%s%s.\n", report.version.c_str(),
                 report.partCount, report.partCount == 1 ? "Teil" : "Teile", static_cast<unsigned long long>(report.packageSize), report.payloadFiles,
                 report.hasUninstaller ? ", mit Deinstallationsprogramm" : ", ohne Deinstallationsprogramm",
                 signature.c_str());
    // A signature about to expire is no fault today, but a monitor of the server should notice.
    return report.warnings.empty() ? 0 : 3;
}

int runResign(const Arguments& arguments, std::FILE* out, std::FILE* err)
{
    if (arguments.positional.size() != 1)
        return usageError(err, arguments.positional.empty() ? "der Baum fehlt" : "resign nimmt genau einen Baum");
    ResignOptions options;
    options.tree = arguments.positional[0];
    const std::string* key = option(arguments, "--sign-key");
    if (!key)
        return usageError(err, "--sign-key fehlt");
    options.signKeyFile = *key;
    if (std::string keyProblem = manifestKeyProblem(*key, true); !keyProblem.empty())
        return usageError(err, keyProblem);
    if (const std::string* days = option(arguments, "--valid-days"))
        if (std::string problem = validDaysProblem(*days, options.validDays); !problem.empty())
            return usageError(err, problem);
    std::error_code ec;
    if (!std::filesystem::is_directory(options.tree, ec))
        return usageError(err, "der Baum \"" + options.tree + "\" ist kein Ordner");

    std::string expiry;
    std::string error;
    if (!resignTree(options, expiry, error)) {
        printLines(err, error);
        std::fprintf(err, "orvan-publish: nichts geaendert\n");
        return 1;
    }
    std::fprintf(out, "Neu signiert: %s/games/%s, gueltig bis %s\n", options.tree.c_str(),
                 std::string(kManifestReference).c_str(), expiry.c_str());
    return 0;
}

int runUpload(const Arguments& arguments, std::FILE* out, std::FILE* err)
{
    if (arguments.positional.size() != 2)
        return usageError(err, arguments.positional.empty() ? "der Baum und das Ziel fehlen"
                                                            : arguments.positional.size() == 1 ? "das rclone-Ziel fehlt"
                                                                                               : "upload nimmt einen Baum und ein Ziel");
    UploadOptions options;
    options.tree = arguments.positional[0];
    options.remote = arguments.positional[1];
    std::error_code ec;
    if (!std::filesystem::is_directory(options.tree, ec))
        return usageError(err, "der Baum \"" + options.tree + "\" ist kein Ordner");
    if (options.remote.empty())
        return usageError(err, "das rclone-Ziel ist leer");
    std::string error;
    if (!uploadTree(options, error, out)) {
        printLines(err, error);
        return 1;
    }
    return 0;
}

int runWingetCommand(const Arguments& arguments, std::FILE* out, std::FILE* err)
{
    return runWinget(arguments.positional, arguments.options, out, err);
}

} // namespace

int runPublishCommand(int argc, char** argv, std::FILE* out, std::FILE* err)
{
    if (argc < 2)
        return usageError(err, "kein Befehl angegeben");
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        std::string help = usageText() + "\n";
        for (const Command& command : commands())
            help += command.help;
        std::fprintf(out, "%s%s", help.c_str(), kExitCodes);
        return 0;
    }
    for (const Command& command : commands()) {
        if (name != command.name)
            continue;
        Arguments arguments = splitArguments(argc, argv, 2, command.options, command.flags);
        if (arguments.help) {
            std::fprintf(out, "Aufruf:\n%s\n%s%s", command.usage, command.help, kExitCodes);
            return 0;
        }
        if (!arguments.error.empty())
            return usageError(err, arguments.error);
        return command.run(arguments, out, err);
    }
    return usageError(err, "unbekannter Befehl \"" + name + "\"");
}
