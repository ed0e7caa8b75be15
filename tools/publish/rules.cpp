#include "publish.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwctype>

#include <locale.h>

namespace {

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

std::string inQuotes(std::string_view text)
{
    std::string out = "\"";
    out += text;
    out += '"';
    return out;
}

// Describes the first character Windows refuses in a file name, or returns empty.
std::string forbiddenCharacter(std::string_view text)
{
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20) {
            char buffer[48];
            std::snprintf(buffer, sizeof buffer, "das Steuerzeichen 0x%02X", u);
            return buffer;
        }
        if (std::strchr("<>:\"/\\|?*", c) != nullptr)
            return std::string("das Zeichen '") + c + "'";
    }
    return {};
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 and their superscript variants open devices instead of
// files, with or without an extension.
bool isReservedDeviceName(std::string_view name)
{
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equalsIgnoringCase(stem, device))
            return true;
    if (stem.size() >= 4 && (equalsIgnoringCase(stem.substr(0, 3), "COM") ||
                             equalsIgnoringCase(stem.substr(0, 3), "LPT"))) {
        std::string_view digit = stem.substr(3);
        if (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9')
            return true;
        if (digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3")
            return true;
    }
    return false;
}

} // namespace

bool isValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        std::uint32_t code;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

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
    if (name.empty())
        return "ist leer";
    if (name == "." || name == "..")
        return "ist " + inQuotes(name);
    std::string bad = forbiddenCharacter(name);
    if (!bad.empty())
        return "enthaelt " + bad + ", das Windows in Dateinamen verbietet";
    if (name.back() == '.' || name.back() == ' ')
        return "endet mit einem Punkt oder Leerzeichen, die Windows stillschweigend abschneidet";
    if (isReservedDeviceName(name))
        return "ist unter Windows ein Geraetename";
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

// The UTF-16 units a UTF-8 text takes on Windows; an invalid text counts one per byte.
std::size_t utf16Length(std::string_view utf8)
{
    std::size_t units = 0;
    for (char c : utf8) {
        auto u = static_cast<unsigned char>(c);
        if ((u & 0xC0) != 0x80)
            units += u >= 0xF0 ? 2 : 1;
    }
    return units;
}

// Calls back with each code point of a valid UTF-8 text.
template <typename Visit> void forEachCodePoint(std::string_view text, Visit visit)
{
    for (std::size_t i = 0; i < text.size();) {
        auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        visit(code);
        i += length;
    }
}

void appendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace

std::string windowsFoldedName(std::string_view utf8)
{
    // Unicode's simple upper-case mapping, as the C.UTF-8 locale knows it, whatever locale the
    // program runs in; characters outside the Basic Multilingual Plane stay as they are.
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!isValidUtf8(utf8))
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    forEachCodePoint(utf8, [&](std::uint32_t code) {
        if (code < 0x80)
            code = static_cast<std::uint32_t>(code >= 'a' && code <= 'z' ? code - 'a' + 'A' : code);
        else if (code < 0x10000 && unicode != static_cast<locale_t>(nullptr))
            code = static_cast<std::uint32_t>(towupper_l(static_cast<wint_t>(code), unicode));
        appendUtf8(out, code);
    });
    return out;
}

namespace {

std::string longPathProblem(std::string_view relative)
{
    // "<profile>\ORVAN Launcher\" and the path with its separators turned.
    std::size_t installFolder = kAssumedProfileLength + 1 + kInstallFolderName.size();
    std::size_t file = installFolder + 1 + utf16Length(relative);
    std::size_t slash = relative.rfind('/');
    std::size_t folder = slash == std::string_view::npos ? installFolder
                                                          : installFolder + 1 + utf16Length(relative.substr(0, slash));
    if (file <= kMaxWindowsPath && folder <= kMaxWindowsFolderPath)
        return {};
    return "wird unter einem Profilordner von " + std::to_string(kAssumedProfileLength) + " Zeichen " +
           (file > kMaxWindowsPath ? std::to_string(file) + " Zeichen lang (Windows erlaubt ohne lange Pfade hoechstens " +
                                         std::to_string(kMaxWindowsPath) + ")"
                                   : "ein Ordnerpfad von " + std::to_string(folder) +
                                         " Zeichen (Windows erlaubt ohne lange Pfade hoechstens " +
                                         std::to_string(kMaxWindowsFolderPath) + ")");
}

} // namespace

std::string payloadPathProblem(std::string_view relative)
{
    if (relative.empty())
        return "ist leer";
    if (relative.find('\\') != std::string_view::npos)
        return "enthaelt einen Backslash, den Windows als Pfadtrenner liest";
    if (relative.front() == '/')
        return "ist absolut (beginnt mit \"/\")";
    if (relative.size() >= 2 && relative[1] == ':' && std::isalpha(static_cast<unsigned char>(relative[0])))
        return "beginnt mit einem Laufwerk";
    // Traversal first: it is the worst thing a name can do, and the reader should see it named.
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        std::string_view segment = relative.substr(start, end - start);
        // Windows drops trailing blanks and reads a run of dots as "..", so ".. " and "..." lead
        // upwards as well.
        std::string_view trimmed = segment;
        while (!trimmed.empty() && trimmed.back() == ' ')
            trimmed.remove_suffix(1);
        if (trimmed.size() >= 2 && trimmed.find_first_not_of('.') == std::string_view::npos)
            return "fuehrt mit \"..\" aus dem Installationsordner hinaus";
        start = end + 1;
    }
    start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        std::string_view segment = relative.substr(start, end - start);
        std::string problem = windowsNameProblem(segment);
        if (!problem.empty())
            return "hat einen Abschnitt " + inQuotes(segment) + ", der " + problem;
        start = end + 1;
    }
    return longPathProblem(relative);
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
    if (equalsIgnoringCase(kept, kPackageFileName))
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
        if (!suffix.empty() && !equalsIgnoringCase(suffix, "iB") && !equalsIgnoringCase(suffix, "B"))
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

std::string documentCachingProblem(const std::string& cacheControl, const std::string& expires,
                                   const std::string& date, std::time_t now)
{
    bool immutable = false;
    bool revalidated = false;
    long long maxAge = -1;
    std::size_t start = 0;
    while (start < cacheControl.size()) {
        std::size_t comma = cacheControl.find(',', start);
        if (comma == std::string::npos)
            comma = cacheControl.size();
        std::string directive = cacheControl.substr(start, comma - start);
        start = comma + 1;
        std::size_t equals = directive.find('=');
        std::string name = directive.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : directive.substr(equals + 1);
        name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == ' ' || c == '\t'; }), name.end());
        for (char& c : name)
            c = asciiLower(c);
        value.erase(std::remove_if(value.begin(), value.end(), [](char c) { return c == ' ' || c == '\t' || c == '"'; }),
                    value.end());
        if (name == "immutable")
            immutable = true;
        else if (name == "no-cache" || name == "no-store")
            revalidated = true;
        else if ((name == "max-age" || name == "s-maxage") && !value.empty() &&
                 std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            maxAge = std::max(maxAge, value.size() > 12 ? 999999999999LL : std::atoll(value.c_str()));
    }
    std::string header = inQuotes("Cache-Control: " + cacheControl);
    if (immutable)
        return header + " ausgeliefert: mit immutable fragen Caches nie nach, ob es sich geaendert hat";
    if (revalidated)
        return {};
    if (maxAge > kMaxDocumentCacheSeconds)
        return header + " ausgeliefert: Caches behalten es bis zu " + std::to_string(maxAge) + " Sekunden";
    // Expires counts only where Cache-Control gives no age; one that cannot be read has expired.
    if (maxAge >= 0 || expires.empty())
        return {};
    std::time_t until = curl_getdate(expires.c_str(), nullptr);
    std::time_t sent = date.empty() ? -1 : curl_getdate(date.c_str(), nullptr);
    if (sent == -1)
        sent = now;
    if (until == -1 || until - sent <= kMaxDocumentCacheSeconds)
        return {};
    return inQuotes("Expires: " + expires) + " ausgeliefert: Caches behalten es bis zu " +
           std::to_string(static_cast<long long>(until - sent)) + " Sekunden";
}
