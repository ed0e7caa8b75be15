// How long the installation script takes for a package of many small files: 20,000 files of 100
// bytes in 200 folders against one file of the same 2,000,000 bytes, both from nginx on
// loopback. The difference is what the script spends per file (checks, stage, moves). Prints
// wall times; not a test.
//   build/host/bench/extract_bench                                   (Linux pwsh)
//   ORVAN_SCRIPT_RUNNER=engine build/host/bench/extract_bench       (the engine under Wine; needs
//   the windows-e2e build and a Wine session with the engine, as the engine tests do)
#include "script_harness.h"

#include <chrono>
#include <cstdio>

namespace {

constexpr int kFiles = 20000;
constexpr int kFolders = 200;
constexpr std::size_t kFileBytes = 100;

class ManyFiles : public ScriptTest {
protected:
    double timedInstall(const std::vector<ZipEntry>& entries, std::size_t& lines)
    {
        publishDefault();
        pythonZip(scratch() / "paket.zip", entries);
        republish(tree(), scratch() / "paket.zip", 8u << 20);
        Machine machine;
        auto start = std::chrono::steady_clock::now();
        ScriptRun result = run(machine);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_FALSE(result.lines.empty());
        if (!result.lines.empty()) {
            EXPECT_EQ(result.lines.back(), doneLine(machine.launcher())) << result.raw;
        }
        lines = filesBelow(machine.installDir()).size();
        return seconds;
    }
};

} // namespace

TEST_F(ManyFiles, ExtractionTime)
{
    std::vector<ZipEntry> many = {{"Inhalt/ORVAN Launcher.exe", "MZ"}};
    for (int i = 0; i < kFiles; ++i)
        many.push_back({"Inhalt/daten/ordner-" + std::to_string(i % kFolders) + "/datei-" + std::to_string(i) + ".txt",
                        std::string(kFileBytes, static_cast<char>('a' + i % 26)), "store"});
    std::vector<ZipEntry> one = {{"Inhalt/ORVAN Launcher.exe", "MZ"},
                                 {"Inhalt/daten/alles.bin", std::string(kFiles * kFileBytes, 'a'), "store"}};
    std::size_t manyInstalled = 0;
    std::size_t oneInstalled = 0;
    double manySeconds = timedInstall(many, manyInstalled);
    double oneSeconds = timedInstall(one, oneInstalled);
    EXPECT_EQ(manyInstalled, static_cast<std::size_t>(kFiles + 1));
    std::printf("\n%s: %d files of %zu bytes in %d folders: %.1f s; one file of the same bytes: %.1f s\n",
                underWine() ? "engine under Wine" : "Linux pwsh", kFiles, kFileBytes, kFolders, manySeconds, oneSeconds);
    std::printf("per file: %.2f ms\n", (manySeconds - oneSeconds) * 1000.0 / kFiles);
}
