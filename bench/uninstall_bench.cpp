// What the uninstaller costs under Wine on a large installation: FILES files (default 5000) of
// 1 KiB in 100 folders, with the package's list of them, in the prefix's profile folder "ORVAN
// Launcher", as the installation script leaves it. Per round it times
//  - the registration ("/registrieren /version V": the record merged, the folder measured, the
//    entry written), from the start of wine to its exit;
//  - the silent removal (the registered QuietUninstallString, "/still"): to the exit of the
//    original, and to the moment the finishing copy has removed the uninstaller and the folder.
// Every round checks that nothing is left.
//
// Needs the windows-e2e build and a Wine session (no engine, no display):
//   cmake --build --preset windows-e2e && cmake --build --preset e2e
//   bash -c '. scripts/lib/wine-session.sh; export PATH=/usr/lib/wine:$PATH; wine_session_start;
//            build/e2e/bench/uninstall_bench [rounds [FILES]]; wine_session_stop'
#include "e2e_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

using namespace e2e;
using Clock = std::chrono::steady_clock;

namespace {

void makeInstallation(const fs::path& folder, int files)
{
    fs::create_directories(folder);
    std::string list = "ORVAN Deinstallieren.dateien\nORVAN Deinstallieren.exe\nORVAN Launcher.exe\n";
    std::string bytes(1024, 'x');
    for (int i = 0; i < files; ++i) {
        std::string relative = "daten/ordner" + std::to_string(i % 100) + "/datei" + std::to_string(i) + ".dat";
        fs::create_directories((folder / relative).parent_path());
        std::ofstream(folder / relative, std::ios::binary) << bytes;
        list += relative + "\n";
    }
    std::ofstream(folder / "ORVAN Launcher.exe", std::ios::binary) << "MZ";
    std::ofstream(folder / "ORVAN Deinstallieren.dateien", std::ios::binary) << list;
    fs::copy_file(realUninstaller(), folder / "ORVAN Deinstallieren.exe", fs::copy_options::overwrite_existing);
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    int files = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5000;
    if (wine::prefix().empty() || !fs::exists(realUninstaller())) {
        std::fprintf(stderr, "needs a Wine session and %s\n", realUninstaller().c_str());
        return 2;
    }
    fs::path folder = wine::userProfile() / "ORVAN Launcher";
    std::string program = windowsPath(folder / "ORVAN Deinstallieren.exe");
    std::vector<double> registration, removal, finished;
    for (int round = 1; round <= rounds; ++round) {
        std::error_code ec;
        fs::remove_all(folder, ec);
        makeInstallation(folder, files);
        auto registering = Clock::now();
        int status = runProgram({wine::loader(), program, "/registrieren", "/version", "bench"});
        auto registered = Clock::now();
        if (status != 0) {
            std::fprintf(stderr, "round %d: registration ended with %d\n", round, status);
            return 1;
        }
        auto start = Clock::now();
        status = runProgram({wine::loader(), program, "/still"});
        auto exited = Clock::now();
        while (fs::exists(folder) && seconds(exited, Clock::now()) < 60)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        auto gone = Clock::now();
        if (status != 0 || fs::exists(folder) || !registryValues(kUninstallKey).empty()) {
            std::fprintf(stderr, "round %d: removal ended with %d, folder %s\n", round, status,
                         fs::exists(folder) ? "still there" : "gone");
            return 1;
        }
        registration.push_back(seconds(registering, registered));
        removal.push_back(seconds(start, exited));
        finished.push_back(seconds(start, gone));
        std::printf("round %d: registration %.2f s, removal %.2f s to the original's exit, %.2f s until the folder is gone\n",
                    round, registration.back(), removal.back(), finished.back());
    }
    std::printf("%d files under Wine, median of %d: registration %.2f s, removal %.2f s (%.2f s until the folder is gone)\n",
                files, rounds, median(registration), median(removal), median(finished));
    return 0;
}
