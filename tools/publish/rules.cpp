#include "publish.h"

#include <cctype>
#include <cstring>

namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string inQuotes(std::string_view text)
{
    std::string out = "\"";
    out += text;
    out += '"';
    return out;
}

// Names a character Windows refuses in a file name.
std::string describeCharacter(char c)
{
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20) {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "das Steuerzeichen 0x%02X", u);
        return buffer;
    }
    return std::string("das Zeichen '") + c + "'";
}

// Describes the first character Windows refuses in a file name, or returns empty.
std::string forbiddenCharacter(std::string_view text)
{
    std::size_t at = forbiddenCharacterAt(text);
    return at == std::string_view::npos ? std::string() : describeCharacter(text[at]);
}

} // namespace

bool isDigestText(std::string_view text)
{
    if (text.size() != 64)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

std::string windowsNameProblem(std::string_view name)
{
    NameCheck check = checkWindowsName(name);
    switch (check.fault) {
    case NameFault::none:
        return {};
    case NameFault::empty:
        return "ist leer";
    case NameFault::dots:
        return "ist " + inQuotes(name);
    case NameFault::character:
        return "enthaelt " + describeCharacter(check.character) + ", das Windows in Dateinamen verbietet";
    case NameFault::trailingDotOrBlank:
        return "endet mit einem Punkt oder Leerzeichen, die Windows stillschweigend abschneidet";
    case NameFault::device:
        return "ist unter Windows ein Geraetename";
    }
    return {};
}

std::string versionProblem(std::string_view version)
{
    if (version.empty())
        return "ist leer";
    if (!isValidUtf8(version))
        return "ist kein gueltiges UTF-8";
    if (version.find('/') != std::string_view::npos || version.find('\\') != std::string_view::npos)
        return "enthaelt einen Pfadtrenner";
    if (version.find("..") != std::string_view::npos)
        return "enthaelt \"..\"";
    std::string bad = forbiddenCharacter(version);
    if (!bad.empty())
        return "enthaelt " + bad + ", das Windows in Ordnernamen verbietet";
    // Windows PowerShell reads the download path, which holds the version, as a wildcard pattern.
    std::size_t bracket = version.find_first_of("[]");
    if (bracket != std::string_view::npos)
        return std::string("enthaelt das Zeichen '") + version[bracket] +
               "', das Windows PowerShell in Pfaden als Platzhalter liest";
    // The folder "orvan-launcher-<version>" would lose these on Windows and no longer be the
    // folder the installer later deletes by name.
    if (version.back() == '.' || version.back() == ' ')
        return "endet mit einem Punkt oder Leerzeichen, die Windows im Ordnernamen abschneidet";
    return {};
}

namespace {

std::string longPathProblem(std::string_view relative)
{
    PathLengths lengths = payloadPathLengths(relative);
    if (fitsWithoutLongPaths(lengths))
        return {};
    return "wird unter einem Profilordner von " + std::to_string(kAssumedProfileLength) + " Zeichen " +
           (lengths.file > kMaxWindowsPath
                ? std::to_string(lengths.file) + " Zeichen lang (Windows erlaubt ohne lange Pfade hoechstens " +
                      std::to_string(kMaxWindowsPath) + ")"
                : "ein Ordnerpfad von " + std::to_string(lengths.folder) +
                      " Zeichen (Windows erlaubt ohne lange Pfade hoechstens " + std::to_string(kMaxWindowsFolderPath) + ")");
}

} // namespace

std::string payloadPathProblem(std::string_view relative)
{
    PathCheck check = checkPayloadPath(relative);
    switch (check.fault) {
    case PathFault::none:
        return longPathProblem(relative);
    case PathFault::empty:
        return "ist leer";
    case PathFault::backslash:
        return "enthaelt einen Backslash, den Windows als Pfadtrenner liest";
    case PathFault::absolute:
        return "ist absolut (beginnt mit \"/\")";
    case PathFault::drive:
        return "beginnt mit einem Laufwerk";
    case PathFault::climbsOut:
        return "fuehrt mit \"..\" aus dem Installationsordner hinaus";
    case PathFault::segment:
        return "hat einen Abschnitt " + inQuotes(check.segment) + ", der " + windowsNameProblem(check.segment);
    }
    return {};
}

std::string_view partFileName(std::string_view url)
{
    std::size_t slash = url.find_last_of("/\\");
    return slash == std::string_view::npos ? url : url.substr(slash + 1);
}

std::string partFileNameProblem(std::string_view url)
{
    std::string_view name = partFileName(url);
    if (name.empty())
        return "url endet mit einem Pfadtrenner und nennt keinen Dateinamen";
    if (name.find('?') != std::string_view::npos)
        return "url traegt eine Abfrage (\"?\"), die nicht in einem Dateinamen stehen kann";
    std::string_view kept = name;
    while (!kept.empty() && (kept.back() == ' ' || kept.back() == '.'))
        kept.remove_suffix(1);
    if (equalsIgnoringAsciiCase(kept, kPackageFileName))
        return "Dateiname " + inQuotes(name) + " ist der Name der Paketdatei";
    // Windows PowerShell reads the path a part is stored under as a wildcard pattern.
    std::size_t bracket = name.find_first_of("[]");
    if (bracket != std::string_view::npos)
        return "Dateiname " + inQuotes(name) + " enthaelt das Zeichen '" + name[bracket] +
               "', das Windows PowerShell in Pfaden als Platzhalter liest";
    std::string problem = windowsNameProblem(name);
    if (!problem.empty())
        return "Dateiname " + inQuotes(name) + " " + problem;
    return {};
}

bool parsePartSize(std::string_view text, std::uint64_t& size)
{
    std::size_t digits = 0;
    std::uint64_t value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        if (value > (kMaxPartSize * 10))
            return false; // already far out of range; stop before it could wrap
        value = value * 10 + static_cast<std::uint64_t>(text[digits] - '0');
        ++digits;
    }
    if (digits == 0)
        return false;
    std::string_view suffix = text.substr(digits);
    unsigned shift = 0;
    if (!suffix.empty()) {
        switch (asciiLower(suffix[0])) {
        case 'k': shift = 10; break;
        case 'm': shift = 20; break;
        case 'g': shift = 30; break;
        default: return false;
        }
        suffix.remove_prefix(1);
        if (!suffix.empty() && !equalsIgnoringAsciiCase(suffix, "iB") && !equalsIgnoringAsciiCase(suffix, "B"))
            return false;
    }
    if (value == 0 || value > (kMaxPartSize >> shift))
        return false;
    size = value << shift;
    return true;
}

bool isInstallerBaseUrl(std::string_view url)
{
    constexpr std::string_view scheme = "https://";
    constexpr std::string_view path = "/games/";
    if (url.size() <= scheme.size() + path.size() || url.substr(0, scheme.size()) != scheme ||
        url.substr(url.size() - path.size()) != path)
        return false;
    std::string_view authority = url.substr(scheme.size(), url.size() - scheme.size() - path.size());
    std::size_t colon = authority.find(':');
    std::string_view host = authority.substr(0, colon);
    if (host.empty())
        return false;
    for (char c : host)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-')
            return false;
    if (colon != std::string_view::npos) {
        std::string_view port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5)
            return false;
        for (char c : port)
            if (c < '0' || c > '9')
                return false;
    }
    return true;
}

std::string releaseVersionProblem(std::string_view version)
{
    if (version.empty())
        return "ist leer";
    if (version.size() > kMaxReleaseVersionLength)
        return "ist laenger als " + std::to_string(kMaxReleaseVersionLength) + " Zeichen";
    auto alnum = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
    if (!alnum(version[0]))
        return "beginnt nicht mit einem Buchstaben oder einer Ziffer";
    for (char c : version) {
        if (alnum(c) || c == '.' || c == '-' || c == '_' || c == '+')
            continue;
        if (c == ' ')
            return "enthaelt ein Leerzeichen";
        if (static_cast<unsigned char>(c) >= 0x80)
            return "enthaelt einen Buchstaben ausserhalb ASCII";
        return describeCharacter(c).insert(0, "enthaelt ");
    }
    return {};
}
