#include "publish.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

struct Sink {
    std::string* body;
    std::FILE* file;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    std::size_t bytes = size * count;
    if (sink->file)
        return std::fwrite(data, 1, bytes, sink->file);
    if (sink->body)
        sink->body->append(data, bytes);
    return bytes;
}

std::string trimmed(std::string text)
{
    std::size_t start = text.find_first_not_of(" \t\r\n");
    std::size_t end = text.find_last_not_of(" \t\r\n");
    return start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
}

// Keeps the caching headers of the last response: a redirect starts a new set.
std::size_t receiveHeader(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* result = static_cast<FetchResult*>(user);
    std::string line(data, size * count);
    if (line.compare(0, 5, "HTTP/") == 0) {
        result->cacheControl.clear();
        result->expires.clear();
        result->date.clear();
    }
    std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return size * count;
    std::string name = line.substr(0, colon);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string value = trimmed(line.substr(colon + 1));
    // Several Cache-Control lines count as one list.
    if (name == "cache-control")
        result->cacheControl += (result->cacheControl.empty() ? "" : ", ") + value;
    else if (name == "expires")
        result->expires = value;
    else if (name == "date")
        result->date = value;
    return size * count;
}

} // namespace

FetchResult fetchUrl(const std::string& url, const std::string& caFile, std::string* body,
                     const std::string& toFile)
{
    FetchResult result;
    Sink sink{body, nullptr};
    if (!toFile.empty()) {
        sink.file = std::fopen(toFile.c_str(), "wb");
        if (!sink.file) {
            result.error = "kann \"" + toFile + "\" nicht anlegen";
            return result;
        }
    }
    CURL* curl = curl_easy_init();
    char message[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result);
    // As the installer's web requests: redirects followed up to five times, on the web only;
    // TLS 1.2 at least.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    // The test servers are trusted the way the installer's tests trust them: through
    // SSL_CERT_FILE, which libcurl itself does not read.
    std::string trust = caFile;
    if (trust.empty()) {
        const char* fromEnvironment = std::getenv("SSL_CERT_FILE");
        if (fromEnvironment && *fromEnvironment)
            trust = fromEnvironment;
    }
    if (!trust.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, trust.c_str());
    CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OK) {
        result.ok = true;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
        const char* type = nullptr;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
        if (type)
            result.contentType = type;
        const char* finalUrl = nullptr;
        curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &finalUrl);
        if (finalUrl)
            result.finalUrl = finalUrl;
    } else {
        result.error = message[0] ? message : curl_easy_strerror(code);
    }
    curl_easy_cleanup(curl);
    if (sink.file && std::fclose(sink.file) != 0 && result.ok) {
        result.ok = false;
        result.error = "kann \"" + toFile + "\" nicht schreiben";
    }
    return result;
}

bool readLocalFile(const std::string& path, std::string& body, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        body.append(buffer, got);
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    if (!ok)
        error = "Lesefehler";
    return ok;
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
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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
    std::string header = "\"Cache-Control: " + cacheControl + "\"";
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
    return "\"Expires: " + expires + "\" ausgeliefert: Caches behalten es bis zu " +
           std::to_string(static_cast<long long>(until - sent)) + " Sekunden";
}
