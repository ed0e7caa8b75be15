// The expiry of a manifest's signature as text: UTC, to the second, one fixed form that the
// installer's script reads without regard to any culture.
#include "publish.h"

#include <chrono>

std::string formatExpiry(std::time_t moment)
{
    std::tm parts{};
    gmtime_r(&moment, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

bool parseExpiry(std::string_view text, std::time_t& moment)
{
    constexpr std::string_view shape = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == 'd' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != shape[i])
            return false;
    auto number = [&](std::size_t at, std::size_t digits) {
        int value = 0;
        for (std::size_t i = at; i < at + digits; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    using namespace std::chrono;
    year_month_day date{year{number(0, 4)}, month{static_cast<unsigned>(number(5, 2))},
                        day{static_cast<unsigned>(number(8, 2))}};
    int hour = number(11, 2);
    int minute = number(14, 2);
    int second = number(17, 2);
    if (!date.ok() || hour > 23 || minute > 59 || second > 59)
        return false;
    auto since = sys_days{date}.time_since_epoch() + hours{hour} + minutes{minute} + seconds{second};
    moment = static_cast<std::time_t>(duration_cast<seconds>(since).count());
    return true;
}

bool parseDayCount(std::string_view text, int lowest, int highest, int& days)
{
    if (text.empty() || text.size() > 3)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < lowest || value > highest)
        return false;
    days = value;
    return true;
}

bool parseValidDays(std::string_view text, int& days)
{
    return parseDayCount(text, 1, kMaxValidDays, days);
}
