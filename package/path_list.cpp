#include "package/path_list.h"

#include "package/utf8.h"

#include <algorithm>

bool parsePathList(std::string_view bytes, std::vector<std::string>& paths)
{
    paths.clear();
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    if (bytes.find('\0') != std::string_view::npos || !isValidUtf8(bytes))
        return false;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = std::min(bytes.find('\n', start), bytes.size());
        std::string line(bytes.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::replace(line.begin(), line.end(), '\\', '/');
        if (!line.empty())
            paths.push_back(std::move(line));
    }
    return true;
}

std::string pathListText(const std::vector<std::string>& paths)
{
    std::string text;
    for (const std::string& path : paths)
        text += path + "\n";
    return text;
}
