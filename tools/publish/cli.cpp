#include "publish.h"

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#ifndef ORVAN_PUBLISH_BASE_URL
#define ORVAN_PUBLISH_BASE_URL "https://download.nordalis.example/games/"
#endif

namespace {

const char* kUsage =
    "Aufruf:\n"
    "  orvan-publish build <Nutzlastordner> --version <Version> --out <Zielordner>\n"
    "                [--part-size <Bytes>] [--sign-key <privater Schluessel.pem> [--valid-days <Tage>]]\n"
    "                [--uninstaller <ORVAN Deinstallieren.exe>]\n"
    "  orvan-publish resign <Zielordner> --sign-key <privater Schluessel.pem> [--valid-days <Tage>]\n"
    "  orvan-publish verify <Zielordner | https://Host[:Port]/games/>\n"
    "                [--ca-file <PEM-Datei>] [--base https://Host[:Port]/games/]\n"
    "                [--key <oeffentlicher Schluessel.pem>]\n"
    "  orvan-publish --help\n";

const char* kHelp =
    "\n"
    "build   packt den Nutzlastordner (mit \"ORVAN Launcher.exe\" direkt darin) unter \"Inhalt/\"\n"
    "        in ein Zip-Paket, teilt es und schreibt einen Baum, der so ausgeliefert wird, wie er\n"
    "        ist: <Zielordner>/games/katalog.json, games/launcher/update.json und die Teile.\n"
    "        Der Zielordner darf noch nicht bestehen oder muss leer sein.\n"
    "        --part-size  Groesse der Teile, Standard 8M; Endungen K, M, G (1024er), hoechstens 1G\n"
    "        --sign-key   signiert das Manifest mit diesem ECDSA-Schluessel (P-256, PEM) und legt\n"
    "                     die Signatur als update.json.sig daneben\n"
    "        --uninstaller  legt dieses Programm als \"ORVAN Deinstallieren.exe\" ins Paket (sonst\n"
    "                     das des Nutzlastordners, falls dort eines liegt); mit ihm kommt die Liste\n"
    "                     aller gelieferten Dateien \"ORVAN Deinstallieren.dateien\" ins Paket\n"
    "        --valid-days so viele Tage (1 bis 366, Standard 90) gilt die Signatur; das Manifest\n"
    "                     nennt den Zeitpunkt in \"gueltigBis\" (UTC)\n"
    "resign  erneuert \"gueltigBis\" und die Signatur eines signierten Baums mit dem Schluessel,\n"
    "        den das Manifest nennt; Katalog, Teile und alles andere im Manifest bleiben, wie sie\n"
    "        sind. Verweigert einen Baum, den verify beanstandet, oder eine ungueltige Signatur.\n"
    "        --valid-days wie bei build\n"
    "verify  prueft einen Baum auf der Platte oder einen Server unter seiner Basisadresse so, wie\n"
    "        der Installer ihn liest, und nennt jedes Problem in einer eigenen Zeile.\n"
    "        --ca-file    zusaetzlich vertrautes Zertifikat (sonst SSL_CERT_FILE, sonst das System)\n"
    "        --base       fuer einen Baum auf der Platte: die Basisadresse, unter der er\n"
    "                     ausgeliefert wird (Standard " ORVAN_PUBLISH_BASE_URL ")\n"
    "        --key        die Signatur des Manifests muss zu diesem oeffentlichen Schluessel\n"
    "                     (P-256, PEM) passen, dem des Installers; nennt dann auch, bis wann\n"
    "                     sie gilt, und warnt 14 Tage vorher\n"
    "\n"
    "Rueckgabe: 0 fertig bzw. ohne Befund, 1 gescheitert bzw. Probleme gefunden, 2 falscher Aufruf,\n"
    "           3 (verify) kein Problem, aber eine Warnung.\n";

struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
    std::string error;
};

// "--name value" and "--name=value"; every option here takes a value.
Arguments splitArguments(int argc, char** argv, int first, const std::vector<std::string>& known)
{
    Arguments result;
    for (int i = first; i < argc; ++i) {
        std::string argument = argv[i];
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
    std::fprintf(err, "orvan-publish: %s\n\n%s\"orvan-publish --help\" erklaert die Befehle.\n", message.c_str(), kUsage);
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

int runBuild(int argc, char** argv, std::FILE* out, std::FILE* err)
{
    Arguments arguments = splitArguments(argc, argv, 2, {"--version", "--out", "--part-size", "--sign-key", "--valid-days", "--uninstaller"});
    if (!arguments.error.empty())
        return usageError(err, arguments.error);
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
    if (const std::string* size = option(arguments, "--part-size"); size && !parsePartSize(*size, options.partSize))
        return usageError(err, "--part-size \"" + *size + "\" ist keine Groesse von 1 Byte bis 1G (etwa 4096, 64K, 8M)");
    std::string problem = versionProblem(options.version);
    if (!problem.empty())
        return usageError(err, "die Version \"" + options.version + "\" " + problem +
                                   "; der Installer benutzt sie als Teil eines Ordnernamens");
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
                 "  Version %s, %zu Dateien, Paket %llu Bytes in %zu Teilen\n",
                 options.outDir.c_str(), options.outDir.c_str(), std::string(kCatalogName).c_str(),
                 options.outDir.c_str(), std::string(kManifestReference).c_str(), options.version.c_str(),
                 summary.payloadFiles, static_cast<unsigned long long>(summary.packageSize), summary.partCount);
    return 0;
}

int runVerify(int argc, char** argv, std::FILE* out, std::FILE* err)
{
    Arguments arguments = splitArguments(argc, argv, 2, {"--ca-file", "--base", "--key"});
    if (!arguments.error.empty())
        return usageError(err, arguments.error);
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
    std::error_code ec;
    if (!remote && !std::filesystem::is_directory(options.target, ec))
        return usageError(err, "der Baum \"" + options.target + "\" ist kein Ordner");

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
    std::fprintf(out, "In Ordnung: Version %s, %zu Teile, Paket %llu Bytes, %zu Dateien%s%s.\n", report.version.c_str(),
                 report.partCount, static_cast<unsigned long long>(report.packageSize), report.payloadFiles,
                 report.hasUninstaller ? ", mit Deinstallationsprogramm" : ", ohne Deinstallationsprogramm",
                 signature.c_str());
    // A signature about to expire is no fault today, but a monitor of the server should notice.
    return report.warnings.empty() ? 0 : 3;
}

int runResign(int argc, char** argv, std::FILE* out, std::FILE* err)
{
    Arguments arguments = splitArguments(argc, argv, 2, {"--sign-key", "--valid-days"});
    if (!arguments.error.empty())
        return usageError(err, arguments.error);
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

} // namespace

int runPublishCommand(int argc, char** argv, std::FILE* out, std::FILE* err)
{
    if (argc < 2)
        return usageError(err, "kein Befehl angegeben");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fprintf(out, "%s%s", kUsage, kHelp);
        return 0;
    }
    if (command == "build")
        return runBuild(argc, argv, out, err);
    if (command == "verify")
        return runVerify(argc, argv, out, err);
    if (command == "resign")
        return runResign(argc, argv, out, err);
    if (command == "winget")
        return runWinget(argc, argv, out, err);
    return usageError(err, "unbekannter Befehl \"" + command + "\"");
}
