#include "command_line.h"

#include <cstdio>

namespace {

// The switch's name without its "/" or "-", in ASCII lower case; empty for an argument that is
// no switch.
std::wstring switchName(std::wstring_view arg)
{
    if (arg.size() < 2 || (arg[0] != L'/' && arg[0] != L'-'))
        return {};
    std::wstring name(arg.substr(1));
    for (wchar_t& c : name)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    return name;
}

} // namespace

int exitCodeFor(FailureClass failure)
{
    switch (failure) {
    case FailureClass::network: return kInstallExitNoConnection;
    case FailureClass::inUse: return kInstallExitInUse;
    case FailureClass::diskFull: return kInstallExitDiskFull;
    case FailureClass::check: return kInstallExitCheckFailed;
    case FailureClass::running: return kInstallExitAlreadyRunning;
    case FailureClass::other: break;
    }
    return kInstallExitOtherFailure;
}

bool parseInstallerArguments(const std::vector<std::wstring>& args, InstallerCall& call, std::wstring& problem)
{
    call = InstallerCall{};
    bool silentSeen = false, passiveSeen = false, logSeen = false;
    // Read to the end even after a fault, so that a silent call stays silent whatever came first.
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        std::wstring name = switchName(arg);
        bool* seen = name == L"still" ? &silentSeen : name == L"passiv" ? &passiveSeen
                                                    : name == L"protokoll" ? &logSeen : nullptr;
        if (seen == nullptr) {
            if (problem.empty())
                problem = L"Unbekannte Angabe \"" + arg + L"\".";
            continue;
        }
        if (*seen && problem.empty())
            problem = L"\"" + arg + L"\" ist doppelt angegeben.";
        *seen = true;
        if (seen == &logSeen) {
            if (i + 1 >= args.size() || args[i + 1].empty() || !switchName(args[i + 1]).empty()) {
                if (problem.empty())
                    problem = L"Nach \"" + arg + L"\" fehlt der Name der Protokolldatei.";
                continue;
            }
            if (call.logFile.empty())
                call.logFile = args[i + 1];
            ++i;
        }
    }
    call.mode = silentSeen ? RunMode::silent : passiveSeen ? RunMode::passive : RunMode::window;
    if (problem.empty() && silentSeen && passiveSeen)
        problem = L"\"/still\" und \"/passiv\" schlie\u00DFen einander aus.";
    if (problem.empty() && logSeen && !silentSeen && !passiveSeen)
        problem = L"\"/protokoll\" gilt nur zusammen mit \"/still\" oder \"/passiv\".";
    return problem.empty();
}

std::wstring runLogLine(const LogTime& time, std::wstring_view text)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d ", time.year, time.month, time.day, time.hour,
                  time.minute, time.second);
    std::wstring line(stamp, stamp + std::char_traits<char>::length(stamp));
    line += text;
    line += L"\r\n";
    return line;
}

std::wstring outcomeText(int exitCode, std::wstring_view detail)
{
    std::wstring out = L"ERGEBNIS " + std::to_wstring(exitCode) + L": ";
    switch (exitCode) {
    case kInstallExitInstalled: out += L"installiert"; break;
    case kInstallExitBadCall: out += L"falscher Aufruf"; break;
    case kInstallExitNoConnection: out += L"keine Verbindung zum Server"; break;
    case kInstallExitInUse: out += L"Datei in Gebrauch"; break;
    case kInstallExitDiskFull: out += L"kein Platz auf dem Datentr\u00E4ger"; break;
    case kInstallExitCheckFailed: out += L"Pr\u00FCfung fehlgeschlagen"; break;
    case kInstallExitAlreadyRunning: out += L"eine andere Installation l\u00E4uft"; break;
    default: out += L"Fehler"; break;
    }
    if (!detail.empty()) {
        out += L" - ";
        out += detail;
    }
    return out;
}

namespace installerText {

std::wstring badCall(std::wstring_view reason)
{
    return std::wstring(reason) +
           L"\n\nAufruf ohne Angaben: das Fenster der Installation. "
           L"\"/still\" installiert ohne Fenster, \"/passiv\" mit Fenster, aber ohne R\u00FCckfragen; "
           L"\"/protokoll DATEI\" schreibt dazu jeden Schritt in die Datei.";
}

} // namespace installerText
