#include "wine_peer.h"

#include "tests/common/read_file.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace wine {

namespace {

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// A file in /proc as text; NUL separators become line feeds.
std::string procText(const fs::path& file)
{
    std::string text = readFile(file);
    for (char& c : text)
        if (c == '\0')
            c = '\n';
    return text;
}

} // namespace

fs::path prefix()
{
    return env("WINEPREFIX");
}

fs::path engineInPrefix()
{
    return prefix() / "drive_c" / "windows" / "system32" / "WindowsPowerShell" / "v1.0" / "powershell.exe";
}

fs::path windowsTools()
{
    return fs::path(ORVAN_E2E_WINDOWS_BUILD) / "e2e";
}

fs::path userProfile()
{
    const passwd* user = ::getpwuid(::getuid());
    return prefix() / "drive_c" / "users" / (user ? user->pw_name : "root");
}

std::string loader()
{
    for (const char* candidate : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"})
        if (::access(candidate, X_OK) == 0)
            return candidate;
    return "wine64";
}

std::string missingPieces()
{
    std::string missing;
    auto need = [&](bool ok, const std::string& what) {
        if (!ok)
            missing += (missing.empty() ? "" : "; ") + what;
    };
    need(!prefix().empty() && fs::exists(prefix() / "drive_c"), "no Wine prefix in WINEPREFIX (run in a Wine session)");
    // Wine's own stub there is some 100 KB and has no modules beside it.
    need(fs::exists(engineInPrefix().parent_path() / "Modules"),
         "no PowerShell engine at the prefix's system path (scripts/lib/wine-engine.sh, wine_engine_install)");
    for (const char* file : {"start-hidden.exe", "read-shortcut.exe", "ORVAN Launcher.exe", "ORVAN Deinstallieren.exe"})
        need(fs::exists(windowsTools() / file), (windowsTools() / file).string() + " missing (build preset windows-e2e)");
    return missing;
}

std::string windowsPath(const fs::path& linuxPath)
{
    fs::path absolute = fs::absolute(linuxPath).lexically_normal();
    fs::path driveC = (prefix() / "drive_c").lexically_normal();
    std::string relative = absolute.lexically_relative(driveC).string();
    std::string out;
    if (!prefix().empty() && !relative.empty() && relative.rfind("..", 0) != 0)
        out = "C:\\" + (relative == "." ? std::string() : relative);
    else
        out = "Z:" + absolute.string();
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

int runProgram(const std::vector<std::string>& argv, const fs::path& outputFile,
               const std::vector<std::string>& environment, const fs::path& errorFile)
{
    pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int fd = outputFile.empty() ? ::open("/dev/null", O_WRONLY)
                                    : ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int errors = errorFile.empty() ? fd : ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(fd, 1);
        ::dup2(errors, 2);
        for (const std::string& entry : environment)
            ::putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runEngine(const std::vector<std::string>& engineArguments, const fs::path& outputFile,
              const std::vector<std::string>& windowsEnvironment, const std::vector<std::string>& linuxEnvironment,
              int timeoutSeconds)
{
    std::vector<std::string> command = {"timeout", std::to_string(timeoutSeconds), loader(),
                                        (windowsTools() / "start-hidden.exe").string()};
    command.insert(command.end(), windowsEnvironment.begin(), windowsEnvironment.end());
    command.push_back(kEngineWindowsPath);
    command.insert(command.end(), engineArguments.begin(), engineArguments.end());
    // Wine reads the command line in the locale's character set: UTF-8 keeps a name like Jürgen whole.
    std::vector<std::string> environment = {"LC_ALL=C.UTF-8"};
    environment.insert(environment.end(), linuxEnvironment.begin(), linuxEnvironment.end());
    return runProgram(command, outputFile, environment, outputFile.string() + ".wine");
}

std::string readShortcut(const fs::path& linuxPath)
{
    fs::path output = fs::temp_directory_path() / ("orvan-shortcut-" + std::to_string(::getpid()) + ".json");
    int status = runProgram({loader(), (windowsTools() / "read-shortcut.exe").string(), windowsPath(linuxPath)}, output,
                            {"LC_ALL=C.UTF-8"}, "/dev/null");
    std::string text = readFile(output);
    fs::remove(output);
    return status == 0 ? text.substr(0, text.find('\n')) : std::string();
}

std::string recordedArguments(const fs::path& record)
{
    std::string calls;
    std::istringstream lines(readFile(record));
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("argv=", 0) == 0)
            calls += line.substr(5) + "\n";
    return calls;
}

int engineProcesses()
{
    int count = 0;
    std::error_code ec;
    std::string ownPrefix = "WINEPREFIX=" + prefix().string();
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        std::string commandLine = procText(entry.path() / "cmdline");
        // The installer starts it by name, which Wine shows as it was given, with an environment
        // that Windows made, without the prefix's variable; only the tests' engine runs by name.
        if (commandLine.rfind("powershell -NoProfile", 0) == 0) {
            count++;
            continue;
        }
        if (commandLine.find("WindowsPowerShell\\v1.0\\powershell.exe") == std::string::npos)
            continue;
        std::string environment = "\n" + procText(entry.path() / "environ");
        count += environment.find("\n" + ownPrefix + "\n") != std::string::npos;
    }
    return count;
}

} // namespace wine
