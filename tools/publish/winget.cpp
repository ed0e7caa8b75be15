// orvan-publish winget: the manifests a studio submits to the Windows Package Manager's community
// repository (microsoft/winget-pkgs) for its installer, in the multi-file form of manifest schema
// 1.10.0: a version, an installer and a default-locale manifest. The installer manifest names the
// unattended switches and maps each of the installer's exit codes to winget's response.
#include "publish.h"

#include "app/command_line.h"
#include "uninstall/core.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr const char* kManifestVersion = "1.10.0";

} // namespace

const char* const kWingetUsage =
    "  orvan-publish winget <Installer.exe> --url <https://.../Installer.exe> --id <Studio.Paket>\n"
    "                --version <Version> --publisher <Name> --out <Zielordner>\n"
    "                [--license <Lizenz>] [--description <Kurzbeschreibung>] [--locale <Sprache>]\n";
const char* const kWingetHelp =
    "winget  schreibt <Id>.yaml, <Id>.installer.yaml und <Id>.locale.<Sprache>.yaml (winget-Manifeste 1.10.0)\n"
    "        in den Zielordner; den SHA-256 des Installers rechnet es aus der Datei aus. Die Version\n"
    "        ist die des Launchers, die die Website gerade ausliefert (so steht sie in\n"
    "        Einstellungen - Apps).\n";
const std::vector<std::string> kWingetOptions = {"--url",     "--id",      "--version",     "--publisher",
                                                 "--out",     "--license", "--description", "--locale"};

namespace {

struct WingetOptions {
    std::string installer;
    std::string url;
    std::string id;
    std::string version;
    std::string publisher;
    std::string out;
    std::string license = "Proprietary";
    std::string description = "Der ORVAN Launcher: installiert und aktualisiert die Spiele des Studios.";
    std::string locale = "de-DE";
};

int wingetUsageError(std::FILE* err, const std::string& message)
{
    std::fprintf(err, "orvan-publish: %s\n\nAufruf:\n%s", message.c_str(), kWingetUsage);
    return 2;
}

// The command line as the publisher's parser split it (each option known and given once).
// Empty on success, else the reason.
std::string readWingetArguments(const std::vector<std::string>& positional,
                                const std::vector<std::pair<std::string, std::string>>& given,
                                WingetOptions& options)
{
    const std::pair<const char*, std::string*> known[] = {
        {"--url", &options.url},           {"--id", &options.id},
        {"--version", &options.version},   {"--publisher", &options.publisher},
        {"--out", &options.out},           {"--license", &options.license},
        {"--description", &options.description}, {"--locale", &options.locale},
    };
    for (const auto& [name, value] : given)
        for (const auto& [option, field] : known)
            if (name == option)
                *field = value;
    if (positional.size() != 1)
        return positional.empty() ? "der Installer fehlt" : "winget nimmt genau einen Installer";
    options.installer = positional[0];
    for (const char* needed : {"--url", "--id", "--version", "--publisher", "--out"})
        if (std::none_of(given.begin(), given.end(), [&](const auto& option) { return option.first == needed; }))
            return std::string(needed) + " fehlt";
    return {};
}

// The schema's rules for the values given on the command line; empty when they hold.
std::string wingetValueProblem(const WingetOptions& options)
{
    // A segment: 1 to 32 characters, none of . blank \ / : * ? " < > | or a control character.
    const std::regex identifier(R"(^[^.\s\\/:*?"<>|\x01-\x1f]{1,32}(\.[^.\s\\/:*?"<>|\x01-\x1f]{1,32}){1,7}$)");
    const std::regex version(R"(^[^\\/:*?"<>|\x01-\x1f]+$)");
    const std::regex locale(R"(^([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*$)");
    if (options.id.size() > 128 || !std::regex_match(options.id, identifier))
        return "--id \"" + options.id + "\" ist keine Paketkennung fuer winget (etwa Studio.Launcher: 2 bis 8 "
               "Teile aus je 1 bis 32 Zeichen, durch Punkte getrennt, ohne Leerzeichen)";
    if (options.version.size() > 128 || !std::regex_match(options.version, version))
        return "--version \"" + options.version + "\" ist keine Version fuer winget";
    if (options.url.size() > 2048 || options.url.compare(0, 8, "https://") != 0 || options.url.size() == 8 ||
        options.url.find_first_of(" \t\r\n") != std::string::npos)
        return "--url \"" + options.url + "\" ist keine https-Adresse";
    if (options.publisher.size() < 2 || options.publisher.size() > 256)
        return "--publisher braucht 2 bis 256 Zeichen";
    if (options.license.size() < 3 || options.license.size() > 512)
        return "--license braucht 3 bis 512 Zeichen";
    if (options.description.size() < 3 || options.description.size() > 256)
        return "--description braucht 3 bis 256 Zeichen";
    if (options.locale.size() > 20 || !std::regex_match(options.locale, locale))
        return "--locale \"" + options.locale + "\" ist keine Sprache wie de-DE";
    return {};
}

// A YAML scalar in single quotes: nothing in it is read as YAML syntax, a number or a boolean.
std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

std::string narrow(std::wstring_view ascii)
{
    std::string out;
    for (wchar_t c : ascii)
        out += static_cast<char>(c);
    return out;
}

// The key name of the uninstaller's entry in the list of installed apps: winget finds an
// installation by it.
std::string productCode()
{
    std::wstring_view key = kUninstallKey;
    return narrow(key.substr(key.rfind(L'\\') + 1));
}

std::string header(const WingetOptions& options, const char* schema)
{
    return std::string("# yaml-language-server: $schema=https://aka.ms/winget-manifest.") + schema + "." +
           kManifestVersion + ".schema.json\n" + "PackageIdentifier: " + quoted(options.id) +
           "\nPackageVersion: " + quoted(options.version) + "\n";
}

std::string versionManifest(const WingetOptions& options)
{
    return header(options, "version") + "DefaultLocale: " + options.locale +
           "\nManifestType: version\nManifestVersion: " + kManifestVersion + "\n";
}

std::string installerManifest(const WingetOptions& options, const std::string& sha256)
{
    struct ReturnCode {
        int code;
        const char* response;
    };
    // Every failure code but 1 (any other failure), for which winget's own message fits.
    const ReturnCode codes[] = {
        {kInstallExitBadCall, "invalidParameter"}, {kInstallExitNoConnection, "noNetwork"},
        {kInstallExitInUse, "fileInUse"},          {kInstallExitDiskFull, "diskFull"},
        {kInstallExitCheckFailed, "contactSupport"}, {kInstallExitAlreadyRunning, "installInProgress"},
    };
    std::string out = header(options, "installer");
    out += "InstallerType: exe\n"
           "Scope: user\n"
           "InstallModes:\n"
           "- interactive\n"
           "- silent\n"
           "- silentWithProgress\n"
           "InstallerSwitches:\n"
           "  Silent: /still\n"
           "  SilentWithProgress: /passiv\n"
           "  Log: ";
    out += quoted("/protokoll \"<LOGPATH>\"") + "\nExpectedReturnCodes:\n";
    for (const ReturnCode& code : codes)
        out += "- InstallerReturnCode: " + std::to_string(code.code) + "\n  ReturnResponse: " + code.response + "\n";
    out += "UpgradeBehavior: install\n"
           "Installers:\n"
           "- Architecture: x64\n"
           "  InstallerUrl: " + quoted(options.url) + "\n"
           "  InstallerSha256: " + quoted(sha256) + "\n"
           "  AppsAndFeaturesEntries:\n"
           "  - DisplayName: " + quoted(narrow(kDisplayName)) + "\n"
           "    ProductCode: " + quoted(productCode()) + "\n"
           "ManifestType: installer\n"
           "ManifestVersion: " + kManifestVersion + "\n";
    return out;
}

std::string localeManifest(const WingetOptions& options)
{
    return header(options, "defaultLocale") + "PackageLocale: " + options.locale +
           "\nPublisher: " + quoted(options.publisher) + "\nPackageName: " + quoted(narrow(kDisplayName)) +
           "\nLicense: " + quoted(options.license) + "\nShortDescription: " + quoted(options.description) +
           "\nManifestType: defaultLocale\nManifestVersion: " + kManifestVersion + "\n";
}

} // namespace

int runWinget(const std::vector<std::string>& positional,
              const std::vector<std::pair<std::string, std::string>>& given, std::FILE* out, std::FILE* err)
{
    WingetOptions options;
    std::string problem = readWingetArguments(positional, given, options);
    if (problem.empty())
        problem = wingetValueProblem(options);
    if (!problem.empty())
        return wingetUsageError(err, problem);
    std::string error;
    std::string sha256 = sha256File(options.installer, error);
    if (!error.empty())
        return wingetUsageError(err, "der Installer: " + error);
    std::transform(sha256.begin(), sha256.end(), sha256.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });

    std::error_code ec;
    std::filesystem::path folder = options.out;
    std::filesystem::create_directories(folder, ec);
    const std::pair<std::string, std::string> files[] = {
        {options.id + ".yaml", versionManifest(options)},
        {options.id + ".installer.yaml", installerManifest(options, sha256)},
        {options.id + ".locale." + options.locale + ".yaml", localeManifest(options)},
    };
    for (const auto& [name, text] : files) {
        std::ofstream file(folder / name, std::ios::binary | std::ios::trunc);
        file << text;
        file.close();
        if (!file) {
            std::fprintf(err, "orvan-publish: %s kann nicht geschrieben werden\n", (folder / name).c_str());
            return 1;
        }
        std::fprintf(out, "Geschrieben: %s\n", (folder / name).c_str());
    }
    return 0;
}
