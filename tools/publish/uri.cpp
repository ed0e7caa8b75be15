// URI references as RFC 3986 resolves them; the installer resolves the catalog's and the
// manifest's references the same way, so verify must land on the same addresses.
#include "publish.h"

namespace {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

void dropLastSegment(std::string& output)
{
    std::size_t slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
}

std::string mergePaths(const UriParts& base, const std::string& referencePath)
{
    if (base.hasAuthority && base.path.empty())
        return "/" + referencePath;
    std::size_t slash = base.path.rfind('/');
    if (slash == std::string::npos)
        return referencePath;
    return base.path.substr(0, slash + 1) + referencePath;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

UriParts splitUri(std::string_view text)
{
    UriParts parts;
    std::size_t at = 0;
    std::size_t mark = text.find_first_of(":/?#");
    if (mark != std::string_view::npos && mark > 0 && text[mark] == ':') {
        parts.hasScheme = true;
        parts.scheme = text.substr(0, mark);
        at = mark + 1;
    }
    if (startsWith(text.substr(at), "//")) {
        at += 2;
        std::size_t end = text.find_first_of("/?#", at);
        if (end == std::string_view::npos)
            end = text.size();
        parts.hasAuthority = true;
        parts.authority = text.substr(at, end - at);
        at = end;
    }
    std::size_t end = text.find_first_of("?#", at);
    if (end == std::string_view::npos)
        end = text.size();
    parts.path = text.substr(at, end - at);
    at = end;
    if (at < text.size() && text[at] == '?') {
        end = text.find('#', at + 1);
        if (end == std::string_view::npos)
            end = text.size();
        parts.hasQuery = true;
        parts.query = text.substr(at + 1, end - at - 1);
        at = end;
    }
    if (at < text.size() && text[at] == '#') {
        parts.hasFragment = true;
        parts.fragment = text.substr(at + 1);
    }
    return parts;
}

std::string joinUri(const UriParts& parts)
{
    std::string out;
    if (parts.hasScheme) {
        out += parts.scheme;
        out += ':';
    }
    if (parts.hasAuthority) {
        out += "//";
        out += parts.authority;
    }
    out += parts.path;
    if (parts.hasQuery) {
        out += '?';
        out += parts.query;
    }
    if (parts.hasFragment) {
        out += '#';
        out += parts.fragment;
    }
    return out;
}

std::string removeDotSegments(std::string_view path)
{
    std::string input(path);
    std::string output;
    while (!input.empty()) {
        if (startsWith(input, "../")) {
            input.erase(0, 3);
        } else if (startsWith(input, "./")) {
            input.erase(0, 2);
        } else if (startsWith(input, "/./")) {
            input.replace(0, 3, "/");
        } else if (input == "/.") {
            input = "/";
        } else if (startsWith(input, "/../")) {
            input.replace(0, 4, "/");
            dropLastSegment(output);
        } else if (input == "/..") {
            input = "/";
            dropLastSegment(output);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            std::size_t end = input.find('/', input[0] == '/' ? 1 : 0);
            if (end == std::string::npos)
                end = input.size();
            output.append(input, 0, end);
            input.erase(0, end);
        }
    }
    return output;
}

std::string resolveReference(std::string_view base, std::string_view reference)
{
    UriParts b = splitUri(base);
    UriParts r = splitUri(reference);
    UriParts t;
    if (r.hasScheme) {
        t = r;
        t.path = removeDotSegments(r.path);
    } else {
        if (r.hasAuthority) {
            t.hasAuthority = true;
            t.authority = r.authority;
            t.path = removeDotSegments(r.path);
            t.hasQuery = r.hasQuery;
            t.query = r.query;
        } else {
            if (r.path.empty()) {
                t.path = b.path;
                t.hasQuery = r.hasQuery ? true : b.hasQuery;
                t.query = r.hasQuery ? r.query : b.query;
            } else {
                t.path = removeDotSegments(r.path[0] == '/' ? r.path : mergePaths(b, r.path));
                t.hasQuery = r.hasQuery;
                t.query = r.query;
            }
            t.hasAuthority = b.hasAuthority;
            t.authority = b.authority;
        }
        t.hasScheme = b.hasScheme;
        t.scheme = b.scheme;
    }
    t.hasFragment = r.hasFragment;
    t.fragment = r.fragment;
    return joinUri(t);
}

std::string escapeUri(std::string_view uri)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        auto u = static_cast<unsigned char>(uri[i]);
        bool keep;
        if (u == '%')
            keep = i + 2 < uri.size() && hexValue(uri[i + 1]) >= 0 && hexValue(uri[i + 2]) >= 0;
        else
            keep = u > 0x20 && u < 0x7F && u != '"' && u != '<' && u != '>' && u != '\\' &&
                   u != '^' && u != '`' && u != '{' && u != '|' && u != '}';
        if (keep) {
            out += static_cast<char>(u);
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

std::string percentDecode(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}
