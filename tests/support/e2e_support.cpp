#include "e2e_support.h"

#include "app/palette.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The button, left/top inclusive, right/bottom exclusive, and where the heading is drawn.
constexpr int kButtonLeft = 410, kButtonTop = 398, kButtonRight = 610, kButtonBottom = 434;
constexpr int kHeadingLeft = 30, kHeadingTop = 118, kHeadingRight = 460, kHeadingBottom = 154;

constexpr std::uint32_t hex(Color color) // COLORREF 0x00BBGGRR to 0xRRGGBB
{
    return ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
}

constexpr std::uint32_t kFaceBusy = 0x1A1A1A; // RGB(26, 26, 26)

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int elapsedMs(Clock::time_point since)
{
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

bool windowShown()
{
    return windowExists("^ORVAN Launcher // Installation$", true);
}

} // namespace

int serverPort()
{
    return ORVAN_E2E_PORT;
}

fs::path windowsBuild()
{
    return ORVAN_E2E_WINDOWS_BUILD;
}

fs::path builtScript()
{
    return windowsBuild() / "script" / "install.ps1";
}

std::string missingPieces()
{
    std::string missing;
    auto need = [&](bool ok, const std::string& what) {
        if (!ok)
            missing += (missing.empty() ? "" : "; ") + what;
    };
    std::string peers = wine::missingPieces();
    need(peers.empty(), peers);
    need(!env("DISPLAY").empty(), "no X display in DISPLAY");
    for (const char* file : {"orvan-setup.exe", "script/install.ps1", "ORVAN Deinstallieren.exe"})
        need(fs::exists(windowsBuild() / file), (windowsBuild() / file).string() + " missing (build preset windows-e2e)");
    need(fs::exists(publishProgram()), std::string(publishProgram()) + " missing");
    return missing;
}

bool prepareRun(InstallerRun& run, const std::string& name, std::string& why)
{
    why = missingPieces();
    if (!why.empty())
        return false;
    run = InstallerRun{};
    if (!waitForScriptRuns(30000)) {
        why = "an earlier run's PowerShell is still running";
        return false;
    }
    std::error_code ec;
    fs::path home = wine::userProfile();
    fs::remove_all(wine::prefix() / "drive_c" / "e2e" / name, ec);
    fs::remove_all(home / "ORVAN Launcher", ec);
    fs::remove(home / "Desktop" / "ORVAN Launcher.lnk", ec);
    for (const auto& entry : fs::directory_iterator(home / "Temp", ec))
        fs::remove_all(entry.path(), ec);
    placeInstaller(run, name);
    return true;
}

void placeInstaller(InstallerRun& run, const std::string& name)
{
    run = InstallerRun{};
    run.name = name;
    run.root = wine::prefix() / "drive_c" / "e2e" / name;
    run.runFolder = run.root / "run";
    run.home = wine::userProfile();
    run.launcherRecord = run.root / "launcher.txt";
    run.uninstallerRecord = run.root / "uninstaller.txt";
    fs::create_directories(run.runFolder);
    fs::copy_file(windowsBuild() / "orvan-setup.exe", run.runFolder / "orvan-setup.exe",
                  fs::copy_options::overwrite_existing);
}

bool windowExists(const std::string& titlePattern, bool visibleOnly)
{
    fs::path found = fs::temp_directory_path() / ("orvan-e2e-search-" + std::to_string(::getpid()));
    std::vector<std::string> command = {"xdotool", "search"};
    if (visibleOnly)
        command.push_back("--onlyvisible");
    command.insert(command.end(), {"--name", titlePattern});
    int status = runProgram(command, found);
    bool exists = status == 0 && !readFile(found).empty();
    fs::remove(found);
    return exists;
}

void launchInstaller(InstallerRun& run, const std::vector<std::string>& arguments)
{
    std::string loader = wine::loader();
    std::vector<std::string> argv = {loader, windowsPath(run.runFolder / "orvan-setup.exe")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string launcherRecord = windowsPath(run.launcherRecord);
    std::string uninstallerRecord = windowsPath(run.uninstallerRecord);
    run.pid = ::fork();
    if (run.pid == 0) {
        if (::chdir(run.runFolder.c_str()) != 0)
            ::_exit(127);
        // Both pass through the installer and the engine to the programs they start.
        ::setenv("ORVAN_LAUNCHER_RECORD", launcherRecord.c_str(), 1);
        ::setenv("ORVAN_UNINSTALLER_RECORD", uninstallerRecord.c_str(), 1);
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> pointers;
        for (std::string& arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        ::execv(loader.c_str(), pointers.data());
        ::_exit(127);
    }
}

bool startInstaller(InstallerRun& run, std::string& why)
{
    launchInstaller(run);
    auto start = Clock::now();
    while (elapsedMs(start) < 20000) {
        if (windowShown())
            return true;
        if (waitForExit(run, 0)) {
            why = "the installer ended before its window was shown, exit " + std::to_string(run.exitStatus);
            return false;
        }
        sleepMs(100);
    }
    why = "no installer window within 20 s";
    return false;
}

bool waitForExit(InstallerRun& run, int timeoutMs)
{
    if (run.pid <= 0)
        return true;
    auto start = Clock::now();
    for (;;) {
        int status = 0;
        if (::waitpid(run.pid, &status, WNOHANG) == run.pid) {
            run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            run.pid = -1;
            return true;
        }
        if (elapsedMs(start) >= timeoutMs)
            return false;
        sleepMs(20);
    }
}

bool waitForScriptRuns(int timeoutMs)
{
    auto start = Clock::now();
    for (;;) {
        if (wine::engineProcesses() == 0)
            return true;
        if (elapsedMs(start) >= timeoutMs)
            return false;
        sleepMs(100);
    }
}

void endRun(InstallerRun& run)
{
    if (run.pid > 0) {
        ::kill(run.pid, SIGKILL);
        ::waitpid(run.pid, nullptr, 0);
        run.pid = -1;
    }
    waitForScriptRuns(30000);
}

std::uint32_t Shot::at(int x, int y) const
{
    std::size_t i = (static_cast<std::size_t>(y) * kClientWidth + static_cast<std::size_t>(x)) * 3;
    if (i + 2 >= rgb.size())
        return 0xFFFFFFFF;
    return (static_cast<std::uint32_t>(rgb[i]) << 16) | (static_cast<std::uint32_t>(rgb[i + 1]) << 8) | rgb[i + 2];
}

const char* screenName(Screen screen)
{
    switch (screen) {
    case Screen::Ready: return "Ready";
    case Screen::Installing: return "Installing";
    case Screen::Failed: return "Failed";
    case Screen::Finished: return "Finished";
    default: return "unknown";
    }
}

bool captureClient(Shot& shot, const fs::path& png)
{
    fs::path raw = fs::temp_directory_path() / ("orvan-e2e-shot-" + std::to_string(::getpid()) + ".rgb");
    std::string crop = std::to_string(kClientWidth) + "x" + std::to_string(kClientHeight) + "+" +
                       std::to_string(kClientLeft) + "+" + std::to_string(kClientTop);
    std::vector<std::string> command = {"import", "-silent", "-window", "root", "-crop", crop, "+repage", "-depth", "8",
                                        "rgb:" + raw.string()};
    bool ok = runProgram(command) == 0;
    if (ok && !png.empty()) { // import writes one file; the picture is made from the same bytes
        ok = runProgram({"convert", "-size", std::to_string(kClientWidth) + "x" + std::to_string(kClientHeight),
                         "-depth", "8", "rgb:" + raw.string(), png.string()}) == 0;
    }
    std::string bytes = readFile(raw);
    fs::remove(raw);
    shot.rgb.assign(bytes.begin(), bytes.end());
    return ok && shot.rgb.size() == static_cast<std::size_t>(kClientWidth) * kClientHeight * 3;
}

Screen classify(const Shot& shot)
{
    // The face away from the stripe (left 4 pixels) and the label (rows about 407 ... 425).
    const int samples[][2] = {{425, 401}, {600, 401}, {600, 431}, {425, 431}};
    std::uint32_t face = shot.at(samples[0][0], samples[0][1]);
    for (const auto& sample : samples)
        if (shot.at(sample[0], sample[1]) != face)
            return Screen::Unknown;
    auto headingPixels = [&](std::uint32_t color) {
        int n = 0;
        for (int y = kHeadingTop; y < kHeadingBottom; ++y)
            for (int x = kHeadingLeft; x < kHeadingRight; ++x)
                n += shot.at(x, y) == color;
        return n;
    };
    constexpr int kSomeText = 20;
    if (face == kFaceBusy)
        return Screen::Installing;
    if (face == hex(palette.colorSuccess))
        return headingPixels(hex(palette.colorSuccess)) >= kSomeText ? Screen::Finished : Screen::Unknown;
    if (face == hex(palette.colorAccentDark)) {
        if (headingPixels(hex(palette.colorAccent)) >= kSomeText)
            return Screen::Failed;
        return headingPixels(hex(palette.colorText)) >= kSomeText ? Screen::Ready : Screen::Unknown;
    }
    return Screen::Unknown;
}

int labelWidth(const Shot& shot)
{
    std::uint32_t face = shot.at(600, 401);
    int left = kButtonRight, right = kButtonLeft;
    for (int y = kButtonTop + 2; y < kButtonBottom - 2; ++y)
        for (int x = kButtonLeft + 6; x < kButtonRight - 2; ++x)
            if (shot.at(x, y) != face) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return right >= left ? right - left + 1 : 0;
}

bool waitForScreen(Screen wanted, int timeoutMs, Shot& last, const fs::path& onTimeout)
{
    auto start = Clock::now();
    for (;;) {
        if (captureClient(last) && classify(last) == wanted)
            return true;
        if (elapsedMs(start) >= timeoutMs) {
            if (!onTimeout.empty())
                captureClient(last, onTimeout);
            return false;
        }
        sleepMs(50);
    }
}

void clickClient(int x, int y)
{
    runProgram({"xdotool", "mousemove", std::to_string(kClientLeft + x), std::to_string(kClientTop + y), "click", "1"});
}

void pressButton()
{
    clickClient((kButtonLeft + kButtonRight) / 2, (kButtonTop + kButtonBottom) / 2);
}

void closeWindow()
{
    // No window manager: the click on a spot without a control gives the window the keyboard,
    // and Wine turns Alt+F4 into the system menu's Close, as Windows does.
    clickClient(300, 80);
    sleepMs(200);
    runProgram({"xdotool", "key", "alt+F4"});
}

PayloadFiles installerPayload(std::uint64_t fillBytes)
{
    PayloadFiles files;
    files.launcher = readFile(wine::windowsTools() / "ORVAN Launcher.exe");
    files.uninstaller = readFile(wine::windowsTools() / "ORVAN Deinstallieren.exe");
    files.data = {{"daten/spiel.cfg", "sprache=de\n"}};
    files.randomBytes = fillBytes;
    return files;
}

fs::path realUninstaller()
{
    return windowsBuild() / "ORVAN Deinstallieren.exe";
}

std::map<std::string, RegistryValue> registryValues(const std::string& key)
{
    fs::path out = fs::temp_directory_path() / ("orvan-e2e-reg-" + std::to_string(::getpid()));
    std::map<std::string, RegistryValue> values;
    if (runProgram({wine::loader(), "reg", "query", key}, out) == 0) {
        // "    Name    REG_SZ    data": four blanks between the columns.
        std::istringstream lines(readFile(out));
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.compare(0, 4, "    ") != 0)
                continue;
            std::size_t typeAt = line.find("    REG_", 4);
            if (typeAt == std::string::npos)
                continue;
            std::size_t dataAt = line.find("    ", typeAt + 4);
            RegistryValue value;
            value.type = line.substr(typeAt + 4, dataAt == std::string::npos ? std::string::npos : dataAt - typeAt - 4);
            value.data = dataAt == std::string::npos ? "" : line.substr(dataAt + 4);
            values[line.substr(4, typeAt - 4)] = value;
        }
    }
    fs::remove(out);
    return values;
}

std::string installedApps()
{
    fs::path out = fs::temp_directory_path() / ("orvan-e2e-apps-" + std::to_string(::getpid()));
    runProgram({wine::loader(), "uninstaller", "--list"}, out);
    std::string list = readFile(out);
    fs::remove(out);
    return list;
}

bool answerDialog(const std::string& title, int timeoutMs)
{
    fs::path found = fs::temp_directory_path() / ("orvan-e2e-dialog-" + std::to_string(::getpid()));
    auto start = Clock::now();
    bool answered = false;
    while (!answered && elapsedMs(start) < timeoutMs) {
        if (runProgram({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"}, found) == 0) {
            std::istringstream ids(readFile(found));
            std::string id;
            if (std::getline(ids, id) && !id.empty())
                answered = runProgram({"xdotool", "windowfocus", "--sync", id, "key", "Return"}) == 0;
        }
        if (!answered)
            sleepMs(100);
    }
    fs::remove(found);
    return answered;
}

} // namespace e2e
