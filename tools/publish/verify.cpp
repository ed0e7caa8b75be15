// verify: walks a tree (on disk or served) the way the installer walks it, and names every thing
// on the way that would make an installation fail.
#include "publish.h"

#include <nlohmann/json.hpp>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include <unistd.h>

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

struct Verify {
    VerifyReport* report = nullptr;
    bool remote = false;
    fs::path tree;       // the folder served as the host's root (disk only)
    std::string base;    // the installer's base URL
    std::string caFile;
    fs::path work;       // downloads and the joined package
    const ManifestKey* key = nullptr; // the installer's key, when it is built with one
    std::string installerFile; // the installer shipped with the release, when named
};

std::string inQuotes(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

std::string lowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void problem(Verify& v, std::string text)
{
    v.report->problems.push_back(std::move(text));
}

// Scheme and host compared as the web compares them: letter case and default ports aside.
std::string origin(const UriParts& parts)
{
    std::string scheme = lowerAscii(parts.scheme);
    std::string authority = lowerAscii(parts.authority);
    std::size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);
    for (const char* port : {":443", ":80"}) {
        std::size_t length = std::strlen(port);
        if (authority.size() > length && authority.compare(authority.size() - length, length, port) == 0 &&
            authority.find(']') == std::string::npos)
            authority.erase(authority.size() - length);
    }
    return authority;
}

// The file a URL names inside a tree on disk, or false when the URL lies elsewhere.
bool localPath(const Verify& v, const std::string& url, fs::path& path, std::string& why)
{
    UriParts parts = splitUri(url);
    UriParts base = splitUri(v.base);
    if (!parts.hasAuthority || origin(parts) != origin(base)) {
        why = "liegt nicht auf dem Server " + inQuotes(base.scheme + "://" + base.authority) +
              " des Baums und ist hier nicht pruefbar";
        return false;
    }
    std::string decoded = percentDecode(parts.path);
    if (decoded.empty() || decoded[0] != '/' || decoded.find('\0') != std::string::npos) {
        why = "hat keinen pruefbaren Pfad";
        return false;
    }
    fs::path relative = fs::path(decoded.substr(1)).lexically_normal();
    if (!relative.empty() && *relative.begin() == "..") {
        why = "fuehrt aus dem Baum hinaus";
        return false;
    }
    path = v.tree / relative;
    return true;
}

bool isAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Fetches one of the two documents as the installer does: with "?t=" and a timestamp.
bool loadDocument(Verify& v, const std::string& what, const std::string& url, std::string& body)
{
    if (!v.remote) {
        fs::path path;
        std::string why;
        if (!localPath(v, url, path, why)) {
            problem(v, what + " " + inQuotes(url) + " " + why);
            return false;
        }
        std::string error;
        if (!readLocalFile(path.string(), body, error)) {
            problem(v, what + " " + inQuotes(url) + " fehlt im Baum (" + path.string() + ": " + error + ")");
            return false;
        }
        return true;
    }
    std::string request = escapeUri(url) + "?t=" + std::to_string(static_cast<long long>(std::time(nullptr)));
    FetchResult result = fetchUrl(request, v.caFile, &body, {});
    if (!result.ok) {
        problem(v, what + " " + inQuotes(url) + " ist nicht abrufbar: " + result.error);
        return false;
    }
    if (result.status < 200 || result.status >= 300) {
        problem(v, what + " " + inQuotes(url) + " antwortet mit HTTP-Status " + std::to_string(result.status));
        return false;
    }
    // The installer takes the documents only from an https answer: Windows PowerShell would
    // follow a redirect to http, and the installer refuses what arrives that way.
    if (lowerAscii(splitUri(result.finalUrl).scheme) != "https")
        problem(v, what + " " + inQuotes(url) + " wird auf " + inQuotes(result.finalUrl) +
                       " umgeleitet, eine Adresse ohne https; der Installer laedt dann nichts");
    // A cache that keeps one of the documents longer than the others hands out a mix of two
    // releases: an old manifest whose parts are gone, or a signature of another manifest.
    std::string caching = documentCachingProblem(result.cacheControl, result.expires, result.date, std::time(nullptr));
    if (!caching.empty())
        problem(v, what + " wird mit " + caching + "; Katalog, Manifest und Signatur muessen frisch ankommen (hoechstens " +
                       std::to_string(kMaxDocumentCacheSeconds) + " Sekunden, etwa \"Cache-Control: no-cache\")");
    // Windows PowerShell decodes a body without a charset as ISO-8859-1.
    if (!isAscii(body) && lowerAscii(result.contentType).find("charset=utf-8") == std::string::npos)
        problem(v, what + " enthaelt Zeichen ausserhalb ASCII, wird aber ohne \"charset=utf-8\" ausgeliefert (Content-Type " +
                       inQuotes(result.contentType) + "); Windows PowerShell liest es dann als ISO-8859-1");
    return true;
}

// What the platform's JSON reader would reject on top of what any JSON parser rejects: member
// names that differ only in letter case, which PowerShell's objects cannot hold apart.
struct JsonScan {
    std::vector<std::set<std::string>> objects;
    std::vector<std::string> duplicates;
    std::string error;

    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(Json::number_integer_t) { return true; }
    bool number_unsigned(Json::number_unsigned_t) { return true; }
    bool number_float(Json::number_float_t, const Json::string_t&) { return true; }
    bool string(Json::string_t&) { return true; }
    bool binary(Json::binary_t&) { return true; }
    bool start_object(std::size_t)
    {
        objects.emplace_back();
        return true;
    }
    bool key(Json::string_t& name)
    {
        if (!objects.back().insert(lowerAscii(name)).second)
            duplicates.push_back(name);
        return true;
    }
    bool end_object()
    {
        objects.pop_back();
        return true;
    }
    bool start_array(std::size_t) { return true; }
    bool end_array() { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& failure)
    {
        error = failure.what();
        return false;
    }
};

bool parseDocument(Verify& v, const std::string& what, const std::string& body, Json& document)
{
    if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        problem(v, what + " beginnt mit einer Byte-Order-Mark, an der Windows PowerShell das JSON nicht erkennt");
        return false;
    }
    JsonScan scan;
    if (!Json::sax_parse(body, &scan)) {
        problem(v, what + " ist kein gueltiges JSON: " + scan.error);
        return false;
    }
    for (const std::string& name : scan.duplicates)
        problem(v, what + " hat das Mitglied " + inQuotes(name) +
                       " mehrfach (auch in anderer Schreibweise); Windows PowerShell lehnt das Dokument dann ab");
    document = Json::parse(body, nullptr, false);
    if (document.is_discarded()) {
        problem(v, what + " ist kein gueltiges JSON");
        return false;
    }
    if (!document.is_object()) {
        problem(v, what + " ist kein JSON-Objekt");
        return false;
    }
    return true;
}

// PowerShell finds members by name without regard to letter case.
const Json* member(const Json& object, std::string_view name)
{
    if (!object.is_object())
        return nullptr;
    std::string wanted = lowerAscii(name);
    for (auto it = object.begin(); it != object.end(); ++it)
        if (lowerAscii(it.key()) == wanted)
            return &it.value();
    return nullptr;
}

bool countsAsFalse(const Json* value)
{
    if (!value || value->is_null())
        return true;
    if (value->is_boolean())
        return !value->get<bool>();
    if (value->is_number())
        return value->get<double>() == 0.0;
    if (value->is_string())
        return value->get_ref<const std::string&>().empty();
    if (value->is_array())
        return value->empty();
    return false;
}

const char* typeName(const Json* value)
{
    if (!value)
        return "fehlt";
    switch (value->type()) {
    case Json::value_t::null: return "ist null";
    case Json::value_t::object: return "ist ein Objekt";
    case Json::value_t::array: return "ist eine Liste";
    case Json::value_t::string: return "ist ein Text";
    case Json::value_t::boolean: return "ist ein Wahrheitswert";
    default: return "ist eine Zahl";
    }
}

// System.Uri reads "\" in a web address as "/".
std::string webSlashes(std::string text)
{
    for (char& c : text)
        if (c == '\\')
            c = '/';
    return text;
}

struct Part {
    std::string url;      // as written
    std::string address;  // resolved
    std::string digest;   // as written, when it is digest text
};

bool checkManifest(Verify& v, const Json& manifest, std::vector<Part>& parts, std::string& packageDigest)
{
    bool usable = true;
    const Json* version = member(manifest, "version");
    if (!version || !version->is_string()) {
        problem(v, std::string("Im Manifest: version ") + typeName(version) + ", muss ein Text sein");
    } else {
        v.report->version = version->get<std::string>();
        std::string why = versionProblem(v.report->version);
        if (!why.empty())
            problem(v, "Im Manifest: die Version " + inQuotes(v.report->version) + " " + why);
    }
    const Json* package = member(manifest, "paket");
    if (!package || !package->is_object()) {
        problem(v, std::string("Im Manifest: paket ") + typeName(package) + ", muss ein Objekt sein");
        return false;
    }
    const Json* whole = member(*package, "sha256");
    if (!whole || !whole->is_string())
        problem(v, std::string("Im Manifest: paket.sha256 ") + typeName(whole) + ", muss ein Text sein");
    else if (!isDigestText(whole->get_ref<const std::string&>()))
        problem(v, "Im Manifest: paket.sha256 " + inQuotes(whole->get<std::string>()) +
                       " ist keine Pruefsumme aus genau 64 Hexziffern");
    else
        packageDigest = whole->get<std::string>();
    const Json* list = member(*package, "teile");
    if (!list || !list->is_array()) {
        problem(v, std::string("Im Manifest: paket.teile ") + typeName(list) + ", muss eine Liste sein");
        return false;
    }
    if (list->empty()) {
        problem(v, "Im Manifest: paket.teile ist leer; ein leeres Paket ist kein Zip-Archiv");
        usable = false;
    }
    std::size_t number = 0;
    for (const Json& record : *list) {
        ++number;
        std::string label = "Teil " + std::to_string(number);
        Part part;
        const Json* url = member(record, "url");
        const Json* digest = member(record, "sha256");
        if (!record.is_object()) {
            problem(v, label + " ist kein Objekt");
            usable = false;
            parts.push_back(part);
            continue;
        }
        if (!url || !url->is_string()) {
            problem(v, label + ": url " + typeName(url) + ", muss ein Text sein");
            usable = false;
        } else {
            part.url = url->get<std::string>();
            label += " (" + part.url + ")";
            std::string why = partFileNameProblem(part.url);
            if (!why.empty())
                problem(v, label + ": " + why);
        }
        if (!digest || !digest->is_string())
            problem(v, label + ": sha256 " + typeName(digest) + ", muss ein Text sein");
        else if (!isDigestText(digest->get_ref<const std::string&>()))
            problem(v, label + ": sha256 " + inQuotes(digest->get<std::string>()) +
                           " ist keine Pruefsumme aus genau 64 Hexziffern");
        else
            part.digest = digest->get<std::string>();
        parts.push_back(part);
    }
    return usable;
}

// Where the bytes of a part are: the tree's own file, or a download in the work folder.
bool obtainPart(Verify& v, const std::string& label, const Part& part, std::size_t number, fs::path& path)
{
    UriParts address = splitUri(part.address);
    std::string scheme = lowerAscii(address.scheme);
    if (scheme != "https" && scheme != "http") {
        problem(v, label + ": die Adresse " + inQuotes(part.address) + " ist keine http- oder https-Adresse");
        return false;
    }
    if (!v.remote) {
        std::string why;
        if (!localPath(v, part.address, path, why)) {
            problem(v, label + ": die Adresse " + inQuotes(part.address) + " " + why);
            return false;
        }
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) {
            problem(v, label + ": fehlt im Baum (" + path.string() + ")");
            return false;
        }
        return true;
    }
    path = v.work / ("teil-" + std::to_string(number));
    FetchResult result = fetchUrl(escapeUri(part.address), v.caFile, nullptr, path.string());
    if (!result.ok) {
        problem(v, label + ": nicht abrufbar: " + result.error);
        return false;
    }
    if (result.status < 200 || result.status >= 300) {
        problem(v, label + ": der Server antwortet mit HTTP-Status " + std::to_string(result.status));
        return false;
    }
    return true;
}

// Reads part by part into the joined package, checking every digest on the way.
bool joinParts(Verify& v, const std::vector<Part>& parts, const std::string& packageDigest, fs::path& package)
{
    package = v.work / "paket.zip";
    std::FILE* out = std::fopen(package.c_str(), "wb");
    if (!out) {
        problem(v, "Kann keinen Arbeitsordner fuer das Paket anlegen: " + std::string(std::strerror(errno)));
        return false;
    }
    Sha256* whole = sha256Begin();
    bool complete = true;
    std::vector<char> buffer(1 << 20);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Part& part = parts[i];
        std::string label = "Teil " + std::to_string(i + 1) + (part.url.empty() ? "" : " (" + part.url + ")");
        fs::path path;
        if (part.address.empty() || !obtainPart(v, label, part, i + 1, path)) {
            complete = false;
            continue;
        }
        std::FILE* in = std::fopen(path.c_str(), "rb");
        if (!in) {
            problem(v, label + ": nicht lesbar: " + std::strerror(errno));
            complete = false;
            continue;
        }
        Sha256* own = sha256Begin();
        std::uint64_t size = 0;
        std::size_t got;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
            sha256Add(own, buffer.data(), got);
            sha256Add(whole, buffer.data(), got);
            if (std::fwrite(buffer.data(), 1, got, out) != got)
                complete = false;
            size += got;
        }
        std::fclose(in);
        std::string digest = sha256Finish(own);
        v.report->packageSize += size;
        if (v.remote)
            fs::remove(path);
        // The platform's byte arrays end just below 2 GiB, and the installer reads a part whole.
        if (size > 0x7FFFFFC7ull)
            problem(v, label + ": ist " + std::to_string(size) + " Bytes gross; der Installer kann hoechstens 2147483591 Bytes am Stueck lesen");
        if (!part.digest.empty() && lowerAscii(part.digest) != digest)
            problem(v, label + ": Pruefsumme falsch: im Manifest " + part.digest + ", tatsaechlich " + digest);
    }
    std::string digest = sha256Finish(whole);
    if (std::fclose(out) != 0)
        complete = false;
    if (!complete) {
        v.report->notes.push_back("Das Paket ist nicht vollstaendig zu haben; seine Pruefsumme und sein Inhalt sind nicht geprueft");
        return false;
    }
    if (!packageDigest.empty() && lowerAscii(packageDigest) != digest)
        problem(v, "Paket beschaedigt: paket.sha256 ist " + packageDigest + ", die Teile ergeben " + digest);
    return true;
}

// What the entries of the package add up to.
struct PackageScan {
    bool launcher = false;
    std::size_t outside = 0;
    std::vector<std::string> payloadPaths;
    std::string listText;
    bool hasList = false;
    std::string uninstallerHead; // enough of the uninstaller to read its PE headers
    std::map<std::string, std::string> lowerFiles; // folded as Windows compares -> as written
    std::set<std::string> lowerFolders;
};

// The name of one entry as the installer reads it; false for an entry it does not install.
bool checkEntryName(Verify& v, zip_t* archive, zip_uint64_t entry, PackageScan& scan, std::string& label, bool& isList)
{
    const char* rawName = zip_get_name(archive, entry, ZIP_FL_ENC_RAW);
    if (!rawName)
        return false;
    std::string raw = rawName;
    if (raw.compare(0, kPayloadPrefix.size(), kPayloadPrefix) != 0) {
        ++scan.outside;
        return false;
    }
    // The platform's entry Name is what follows the last separator; empty for folders.
    if (raw.back() == '/' || raw.back() == '\\')
        return false;
    const char* strictName = zip_get_name(archive, entry, ZIP_FL_ENC_STRICT);
    label = "Eintrag " + inQuotes(raw);
    if (!isAscii(raw) && (!strictName || raw != strictName))
        problem(v, label + ": Name ausserhalb ASCII ohne UTF-8-Kennzeichen; Windows liest ihn in der Codepage des Systems");
    else if (!isValidUtf8(raw))
        problem(v, label + ": Name ist kein gueltiges UTF-8");
    std::string relative = raw.substr(kPayloadPrefix.size());
    std::string why = payloadPathProblem(relative);
    if (!why.empty())
        problem(v, label + ": der Pfad " + why);
    if (relative == kLauncherName)
        scan.launcher = true;
    if (relative == kUninstallerName)
        v.report->hasUninstaller = true;
    ++v.report->payloadFiles;
    scan.payloadPaths.push_back(relative);
    isList = relative == kFileListName;
    if (!isList && isReservedPayloadPath(relative))
        problem(v, label + ": der Name ist dem Deinstallationsprogramm vorbehalten; mit ihm im Paket schlagen Registrierung "
                           "und Entfernen fehl");
    scan.hasList = scan.hasList || isList;
    std::string lower = windowsFoldedName(relative);
    auto [known, added] = scan.lowerFiles.emplace(lower, relative);
    if (!added)
        problem(v, label + ": ist unter Windows dieselbe Datei wie " + inQuotes(std::string(kPayloadPrefix) + known->second) +
                       "; eine ueberschreibt die andere");
    for (std::size_t slash = lower.find('/'); slash != std::string::npos; slash = lower.find('/', slash + 1))
        scan.lowerFolders.insert(lower.substr(0, slash));
    return true;
}

// Whether Windows can unpack the entry: no encryption, a method it knows, bytes that read whole.
void checkEntryData(Verify& v, zip_t* archive, zip_uint64_t entry, const std::string& label, bool isList,
                    PackageScan& scan, std::vector<char>& buffer)
{
    zip_stat_t info;
    zip_stat_init(&info);
    if (zip_stat_index(archive, entry, 0, &info) == 0) {
        if ((info.valid & ZIP_STAT_ENCRYPTION_METHOD) && info.encryption_method != ZIP_EM_NONE) {
            problem(v, label + ": ist verschluesselt");
            return;
        }
        if ((info.valid & ZIP_STAT_COMP_METHOD) && info.comp_method != ZIP_CM_STORE &&
            info.comp_method != ZIP_CM_DEFLATE && info.comp_method != ZIP_CM_DEFLATE64) {
            problem(v, label + ": Kompressionsverfahren " + std::to_string(info.comp_method) +
                           " kann Windows nicht entpacken (nur Store und Deflate)");
            return;
        }
    }
    zip_file_t* file = zip_fopen_index(archive, entry, 0);
    if (!file) {
        // Deflate64 is read by Windows but not by libzip.
        if (zip_error_code_zip(zip_get_error(archive)) != ZIP_ER_COMPNOTSUPP)
            problem(v, label + ": nicht lesbar: " + zip_strerror(archive));
        return;
    }
    bool isUninstaller = label == "Eintrag " + inQuotes(std::string(kPayloadPrefix) + std::string(kUninstallerName));
    zip_int64_t got;
    while ((got = zip_fread(file, buffer.data(), buffer.size())) > 0) {
        if (isList)
            scan.listText.append(buffer.data(), static_cast<std::size_t>(got));
        if (isUninstaller && scan.uninstallerHead.size() < kAuthenticodeHeadBytes)
            scan.uninstallerHead.append(buffer.data(),
                                        std::min(static_cast<std::size_t>(got), kAuthenticodeHeadBytes - scan.uninstallerHead.size()));
    }
    if (got < 0)
        problem(v, label + ": beschaedigt: " + zip_file_strerror(file));
    zip_fclose(file);
}

// The uninstaller is started from Settings long after the installer: SmartScreen judges it on
// its own signature. A release whose installer is signed should not ship it unsigned.
void checkUninstallerSigned(Verify& v, const PackageScan& scan)
{
    if (!v.report->hasUninstaller || authenticodeOf(scan.uninstallerHead) != Authenticode::unsigned_)
        return;
    std::string remedy = "; vor build signieren: scripts/sign --description \"ORVAN Deinstallieren\" ... \"" +
                         std::string(kUninstallerName) + "\", dann build neu";
    if (!v.installerFile.empty() && authenticodeOfFile(v.installerFile) == Authenticode::signed_)
        v.report->warnings.push_back("Der Installer ist signiert, das Deinstallationsprogramm im Paket nicht (keine "
                                     "Authenticode-Signatur)" + remedy);
    else
        v.report->notes.push_back("Das Deinstallationsprogramm im Paket traegt keine Authenticode-Signatur" + remedy);
}

// What only the entries together show: a name that is file and folder, the launcher missing, a
// list that does not match.
void checkPayloadWhole(Verify& v, const PackageScan& scan)
{
    for (const auto& [lower, name] : scan.lowerFiles)
        if (scan.lowerFolders.count(lower))
            problem(v, "Im Paket ist " + inQuotes(std::string(kPayloadPrefix) + name) +
                           " unter Windows Datei und Ordner zugleich; das Entpacken scheitert");
    if (!scan.launcher)
        problem(v, "Im Paket fehlt " + inQuotes(std::string(kPayloadPrefix) + std::string(kLauncherName)));
    checkFileList(scan.hasList ? &scan.listText : nullptr, scan.payloadPaths, v.report->hasUninstaller,
                  v.report->problems, v.report->notes);
    if (scan.outside > 0)
        v.report->notes.push_back(std::to_string(scan.outside) + " Eintraege liegen nicht unter " +
                                  inQuotes(kPayloadPrefix) + " und werden nicht installiert");
    checkUninstallerSigned(v, scan);
}

void checkPackage(Verify& v, const fs::path& package)
{
    int code = 0;
    zip_t* archive = zip_open(package.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!archive) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        problem(v, "Das Paket ist kein lesbares Zip-Archiv: " + std::string(zip_error_strerror(&error)));
        zip_error_fini(&error);
        return;
    }
    PackageScan scan;
    std::vector<char> buffer(1 << 16);
    zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t index = 0; index < count; ++index) {
        auto entry = static_cast<zip_uint64_t>(index);
        std::string label;
        bool isList = false;
        if (checkEntryName(v, archive, entry, scan, label, isList))
            checkEntryData(v, archive, entry, label, isList, scan, buffer);
    }
    zip_discard(archive);
    checkPayloadWhole(v, scan);
}

// Whether the signature lies beside the manifest, asked quietly: without --key its absence is
// worth a note, not a problem.
bool signatureExists(const Verify& v, const std::string& url)
{
    if (!v.remote) {
        fs::path path;
        std::string why;
        std::error_code ec;
        return localPath(v, url, path, why) && fs::is_regular_file(path, ec);
    }
    std::string body;
    FetchResult result = fetchUrl(escapeUri(url), v.caFile, &body, {});
    return result.ok && result.status >= 200 && result.status < 300;
}

// The installer of a signed build reads gueltigBis, in exactly that spelling, once the signature
// checks out, and refuses the manifest a day after that moment; verify already names it a problem
// from that moment on, and warns ahead of it so that resign comes first.
void checkExpiry(Verify& v, const Json& manifest)
{
    const std::string name(kExpiryMember);
    auto found = manifest.is_object() ? manifest.find(name) : manifest.end();
    if (!manifest.is_object() || found == manifest.end()) {
        problem(v, "Das signierte Manifest nennt kein " + name +
                       "; ein Installer mit Schluessel laedt es nicht (orvan-publish resign gibt ihm eines)");
        return;
    }
    std::time_t moment = 0;
    if (!found->is_string() || !parseExpiry(found->get_ref<const std::string&>(), moment)) {
        problem(v, "Im Manifest: " + name + " " + found->dump() +
                       " ist kein Zeitpunkt der Form 2030-01-31T12:00:00Z (UTC, auf die Sekunde); ein Installer mit Schluessel laedt so nichts");
        return;
    }
    v.report->expiry = found->get<std::string>();
    std::time_t now = std::time(nullptr);
    if (moment < now)
        problem(v, "Die Signatur des Manifests ist abgelaufen (" + name + " " + v.report->expiry +
                       "); Installer mit Schluessel laden es nur noch bis 24 Stunden danach; orvan-publish resign "
                       "erneuert sie");
    else if (moment - now < kExpiryWarningDays * 86400LL)
        v.report->warnings.push_back("Die Signatur des Manifests laeuft in weniger als " + std::to_string(kExpiryWarningDays) +
                                     " Tagen ab (" + name + " " + v.report->expiry +
                                     "); orvan-publish resign erneuert sie");
}

// What the installer built with a key demands before it reads a single member of the manifest.
void checkSignature(Verify& v, const std::string& updateUrl, const std::string& manifestBody)
{
    Json document = Json::parse(manifestBody, nullptr, false);
    const Json* named = member(document, kKeyMember);
    std::string namedKey = named && named->is_string() ? named->get<std::string>() : "";
    if (!v.key) {
        if (!namedKey.empty())
            v.report->notes.push_back("Das Manifest ist signiert (Schluessel " + namedKey + "); --key prueft die Signatur");
        // An installer built with a key refuses a release without a signature; one without a
        // key ignores it.
        std::string signatureUrl = updateUrl + std::string(kSignatureSuffix);
        v.report->notes.push_back(signatureExists(v, signatureUrl)
                                      ? "Neben dem Manifest liegt eine Signatur " + inQuotes(signatureUrl)
                                      : "Neben dem Manifest liegt keine Signatur " + inQuotes(signatureUrl) +
                                            ": ein Installer, der mit Schluessel gebaut ist, laedt diese Version nicht; "
                                            "den Baum mit build --sign-key neu bauen");
        return;
    }
    std::string signature;
    if (!loadDocument(v, "Die Signatur des Manifests", updateUrl + std::string(kSignatureSuffix), signature)) {
        v.report->notes.push_back("Die Signatur schreibt build --sign-key: den Baum damit neu bauen (resign erneuert "
                                  "nur eine vorhandene)");
        return;
    }
    std::string fingerprint = manifestKeyFingerprint(v.key);
    switch (checkManifestSignature(v.key, manifestBody, signature)) {
    case SignatureCheck::valid:
        v.report->signatureValid = true;
        checkExpiry(v, document);
        return;
    case SignatureCheck::malformed:
        problem(v, "Die Signatur des Manifests ist kein Base64-Text von 64 Bytes (r und s nach IEEE P1363: 88 Zeichen, "
                   "dann ein Zeilenende); der Installer laedt so nichts");
        return;
    case SignatureCheck::mismatch:
        if (namedKey.empty())
            problem(v, "Die Signatur passt nicht zu Manifest und Schluessel " + fingerprint +
                           ": falscher Schluessel, oder das Manifest wurde nach dem Signieren geaendert");
        else if (lowerAscii(namedKey) != fingerprint)
            problem(v, "Die Signatur des Manifests stammt von einem anderen Schluessel (falscher Schluessel): das Manifest nennt " +
                           namedKey + ", --key ist " + fingerprint);
        else
            problem(v, "Die Signatur passt nicht zum Manifest: es wurde nach dem Signieren geaendert, oder die Signatur "
                       "gehoert zu einem anderen Manifest; der Installer laedt so nichts");
        return;
    }
}

void walkTree(Verify& v)
{
    std::string body;
    Json catalog;
    std::string catalogUrl = v.base + std::string(kCatalogName);
    if (!loadDocument(v, "Der Katalog", catalogUrl, body) || !parseDocument(v, "Der Katalog", body, catalog))
        return;
    const Json* launcher = member(catalog, "launcher");
    if (countsAsFalse(launcher)) {
        problem(v, std::string("Im Katalog: launcher ") + (launcher ? "ist leer" : "fehlt") +
                       "; der Installer meldet \"Auf der Website ist noch kein Launcher veroeffentlicht.\"");
        return;
    }
    if (!launcher->is_object()) {
        problem(v, std::string("Im Katalog: launcher ") + typeName(launcher) + ", muss ein Objekt sein");
        return;
    }
    const Json* update = member(*launcher, "update");
    if (!update || !update->is_string() || update->get_ref<const std::string&>().empty()) {
        problem(v, std::string("Im Katalog: launcher.update ") +
                       (update && update->is_string() ? "ist leer" : typeName(update)) +
                       ", muss die Adresse des Manifests sein");
        return;
    }
    std::string updateUrl = resolveReference(v.base, webSlashes(update->get<std::string>()));
    UriParts address = splitUri(updateUrl);
    if (lowerAscii(address.scheme) != "https")
        problem(v, "Die Update-Adresse " + inQuotes(updateUrl) +
                       " ist keine https-Adresse; der Installer vertraut dem Manifest nur ueber https");
    if (!address.hasAuthority || address.authority.empty())
        problem(v, "Die Update-Adresse " + inQuotes(updateUrl) + " nennt keinen Server");
    if (address.hasQuery || address.hasFragment)
        problem(v, "Die Update-Adresse " + inQuotes(updateUrl) +
                       " hat eine eigene Abfrage oder ein Fragment; der Installer haengt \"?t=\" als Text an");

    body.clear();
    Json manifest;
    if (!loadDocument(v, "Das Manifest", updateUrl, body))
        return;
    checkSignature(v, updateUrl, body);
    if (!parseDocument(v, "Das Manifest", body, manifest))
        return;
    std::vector<Part> parts;
    std::string packageDigest;
    bool usable = checkManifest(v, manifest, parts, packageDigest);
    for (Part& part : parts)
        if (!part.url.empty())
            part.address = resolveReference(updateUrl, webSlashes(part.url));
    v.report->partCount = parts.size();
    fs::path package;
    if (usable && joinParts(v, parts, packageDigest, package))
        checkPackage(v, package);
}

} // namespace

void verifyTree(const VerifyOptions& options, VerifyReport& report)
{
    Verify v;
    v.report = &report;
    v.caFile = options.caFile;
    v.installerFile = options.installerFile;
    std::string_view target = options.target;
    v.remote = lowerAscii(target.substr(0, 8)) == "https://" || lowerAscii(target.substr(0, 7)) == "http://";
    if (v.remote) {
        v.base = options.target;
    } else {
        v.base = options.baseUrl;
        v.tree = fs::absolute(options.target);
        std::error_code ec;
        if (!fs::is_directory(v.tree, ec)) {
            problem(v, "Der Baum " + inQuotes(options.target) + " ist kein Ordner");
            return;
        }
    }
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = std::string(temporary && *temporary ? temporary : "/tmp") + "/orvan-verify-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) {
        problem(v, "Kann keinen Arbeitsordner anlegen: " + std::string(std::strerror(errno)));
        return;
    }
    v.work = buffer.data();
    ManifestKey* key = nullptr;
    std::string keyError;
    if (!options.keyFile.empty() && !(key = loadManifestKey(options.keyFile, false, keyError)))
        problem(v, keyError);
    v.key = key;
    if (options.keyFile.empty() || key)
        walkTree(v);
    freeManifestKey(key);
    std::error_code ec;
    fs::remove_all(v.work, ec);
}
