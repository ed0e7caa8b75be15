// The server failing in different ways: each ends the run with the platform's message, and a
// later attempt installs cleanly once the fault is gone.
#include "script_harness.h"

#include <chrono>
#include <csignal>
#include <regex>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// The run failed with one error line, right after the given lines, and nothing after it.
void expectErrorAfter(const std::vector<std::string>& lines, const std::vector<std::string>& before)
{
    ASSERT_EQ(lines.size(), before.size() + 1) << joined(lines);
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(lines[i], before[i]);
    EXPECT_EQ(lines.back().rfind("ERROR \"", 0), 0u) << lines.back();
    EXPECT_GT(lines.back().size(), std::string("ERROR \"\"").size());
}

void expectErrorAfter(const ScriptRun& result, const std::vector<std::string>& before)
{
    expectErrorAfter(result.lines, before);
}

const std::vector<std::string>& connecting()
{
    static const std::vector<std::string> lines = {connectingLine(), progressLine(3)};
    return lines;
}

// The line that tells of a repetition; a reason of the platform's own is compared as "...".
std::string retryLine(const std::string& what, const std::string& reason, int attempt, int pause)
{
    return logLine("Hinweis: " + what + " konnte nicht geladen werden (" + reason + "). Versuch " +
                   std::to_string(attempt) + " von 3 folgt in " + std::to_string(pause) + " s.");
}

std::vector<std::string> withPlatformReasons(std::vector<std::string> lines)
{
    static const std::regex reason(R"(werden \(.*\)\. Versuch)");
    for (std::string& line : lines)
        if (line != retryLine("Teil 2", "HTTP 503", 2, 1))
            line = std::regex_replace(line, reason, "werden (...). Versuch");
    return lines;
}

} // namespace

class ServerFault : public ScriptTest {
protected:
    // Part 2 of 2 comes from the cut-connection server, behind nginx.
    void publishWithCutPart()
    {
        publishDefault();
        joinPartsTo(tree(), scratch() / "paket.zip");
        std::string package = readFile(scratch() / "paket.zip");
        std::size_t half = package.size() / 2;
        fs::path folder = manifestPath(tree()).parent_path();
        writeFile(folder / "eins.bin", package.substr(0, half));
        writeFile(cutFile(), package.substr(half));
        nlohmann::json document = manifest();
        document["paket"]["teile"] = {{{"url", "eins.bin"}, {"sha256", sha256sum(folder / "eins.bin")}},
                                      {{"url", cutUrl()}, {"sha256", sha256sum(cutFile())}}};
        setManifest(document);
    }
};

TEST_F(ServerFault, NothingListening)
{
    publishDefault();
    Machine machine;

    ScriptRun result = run(machine, unreachableScript());

    expectErrorAfter(withPlatformReasons(result.lines),
                     {connectingLine(), progressLine(3), retryLine("Der Katalog", "...", 2, 2),
                      retryLine("Der Katalog", "...", 3, 4)});
    EXPECT_TRUE(machine.tempEntries().empty());
}

TEST_F(ServerFault, CatalogNotFound)
{
    Machine machine;

    ScriptRun result = run(machine);

    expectErrorAfter(result, connecting());
    EXPECT_NE(result.lines.back().find("404"), std::string::npos) << result.lines.back();
}

TEST_F(ServerFault, ManifestAnswersWithServerError)
{
    publishDefault();
    setCatalogText(R"({"launcher": {"update": "/kaputt/update.json"}})");
    Machine machine;

    ScriptRun result = run(machine);

    expectErrorAfter(result.lines, {connectingLine(), progressLine(3), retryLine("Das Update-Manifest", "HTTP 500", 2, 2),
                                    retryLine("Das Update-Manifest", "HTTP 500", 3, 4)});
    EXPECT_NE(result.lines.back().find("500"), std::string::npos) << result.lines.back();
    EXPECT_TRUE(machine.tempEntries().empty());
}

TEST_F(ServerFault, PartNotFound)
{
    publishDefault();
    fs::remove(partPaths(tree())[0]);
    Machine machine;

    ScriptRun result = run(machine);

    expectErrorAfter(result, {connectingLine(), progressLine(3),
                              statusLine("ORVAN Launcher 1.2.3 wird geladen"), progressLine(6),
                              statusLine("Lade Teil 1 / 1"), progressLine(70)});
    EXPECT_NE(result.lines.back().find("404"), std::string::npos) << result.lines.back();
    EXPECT_FALSE(fs::exists(machine.installDir()));
}

TEST_F(ServerFault, ConnectionCutInsideAPartEveryTimeThenALaterRunInstallsCleanly)
{
    publishWithCutPart();
    setCutAnswers("cut\ncut\ncut");
    Machine machine;

    ScriptRun first = run(machine);

    expectErrorAfter(withPlatformReasons(first.lines),
                     {connectingLine(), progressLine(3), statusLine("ORVAN Launcher 1.2.3 wird geladen"),
                      progressLine(6), statusLine("Lade Teil 1 / 2"), progressLine(38), statusLine("Lade Teil 2 / 2"),
                      progressLine(70), retryLine("Teil 2", "...", 2, 2), retryLine("Teil 2", "...", 3, 4)});
    EXPECT_EQ(cutAnswersGiven(), "cut\ncut\ncut\n");
    EXPECT_FALSE(fs::exists(machine.installDir()));
    ASSERT_EQ(machine.tempEntries(), std::vector<std::string>{"orvan-launcher-1.2.3"});

    ScriptRun second = run(machine);

    EXPECT_EQ(joined(second.lines), joined(successLines("1.2.3", 2, true, machine.launcher()))) << second.raw;
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
    EXPECT_TRUE(machine.tempEntries().empty());
}

// What the server does to part 2 (half-way through it, where it breaks off), and how the run goes
// on: a failure that may pass is tried again within the run, without the progress moving; one that
// will not ends the run at once. A stall takes the 30 s until the request is abandoned.
struct PartFault {
    const char* name;
    const char* answers;           // of the cut-connection server, in order
    std::vector<std::string> told; // the lines after "Lade Teil 2 / 2" and its progress
    std::string error;             // the run's error, empty when it installs
    const char* given;             // the answers the server gave
};

void PrintTo(const PartFault& fault, std::ostream* out) { *out << fault.name; }

class PartFaults : public ServerFault, public ::testing::WithParamInterface<PartFault> {};

TEST_P(PartFaults, RunGoesOnAsTheFaultAllows)
{
    publishWithCutPart();
    setCutAnswers(GetParam().answers);
    Machine machine;

    ScriptRun result = run(machine);

    std::vector<std::string> expected = successLines("1.2.3", 2, true, machine.launcher());
    auto after = std::find(expected.begin(), expected.end(), progressLine(70)) + 1;
    if (!GetParam().error.empty())
        expected.erase(after, expected.end());
    after = std::find(expected.begin(), expected.end(), progressLine(70)) + 1;
    std::vector<std::string> told;
    for (const std::string& line : GetParam().told)
        told.push_back(logLine(line));
    expected.insert(after, told.begin(), told.end());
    if (!GetParam().error.empty() && GetParam().error != "404")
        expected.push_back(errorLine(GetParam().error));
    std::vector<std::string> lines = withPlatformReasons(result.lines);
    if (GetParam().error == "404") {
        ASSERT_FALSE(lines.empty()) << result.raw;
        EXPECT_NE(lines.back().find("404"), std::string::npos) << lines.back();
        lines.pop_back();
    }
    EXPECT_EQ(joined(lines), joined(expected)) << result.raw;
    EXPECT_EQ(cutAnswersGiven(), GetParam().given);
    if (GetParam().error.empty())
        EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
    else
        EXPECT_FALSE(fs::exists(machine.installDir()));
}

const std::string kPlatformRetry = "Hinweis: Teil 2 konnte nicht geladen werden (...). Versuch 2 von 3 folgt in 2 s.";
const std::string kDamaged = "Hinweis: Teil 2 kam mit falscher Pruefsumme an und wird noch einmal geladen.";

INSTANTIATE_TEST_SUITE_P(
    Server, PartFaults,
    ::testing::Values(
        PartFault{"ResetHalfWay", "reset", {kPlatformRetry}, "", "reset\nok\n"},
        PartFault{"StallHalfWay", "stall", {kPlatformRetry}, "", "stall\nok\n"},
        PartFault{"UnavailableOnce", "503",
                  {"Hinweis: Teil 2 konnte nicht geladen werden (HTTP 503). Versuch 2 von 3 folgt in 1 s."}, "",
                  "503\nok\n"},
        PartFault{"NotFound", "404", {}, "404", "404\n"},
        PartFault{"DamagedOnce", "damaged", {kDamaged}, "", "damaged\nok\n"},
        PartFault{"DamagedTwice", "damaged\ndamaged", {kDamaged}, "Pruefsumme falsch: Teil 2", "damaged\ndamaged\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// The connection to nginx reset at the TCP level, inside TLS, half-way through the package
// (tests/support/link_relay.py between the script and the server): the part it hit is fetched
// again on a new connection and the installation completes.
TEST_F(ServerFault, ConnectionResetOnTheLinkInsideAPartIsRepeated)
{
    PayloadFiles files;
    files.uninstaller.reset();
    files.randomBytes = 1u << 20;
    fs::remove_all(payload());
    makePayload(payload(), files);
    publish(payload(), "1.2.3", "256K");
    std::size_t parts = manifest()["paket"]["teile"].size();
    ASSERT_GE(parts, 4u);
    fs::path portFile = scratch() / "relay.port";
    pid_t relay = ::fork();
    if (relay == 0) {
        ::execlp("python3", "python3", ORVAN_LINK_RELAY_PY, std::to_string(port()).c_str(), portFile.c_str(), "--reset",
                 std::to_string(600 * 1024).c_str(), nullptr);
        ::_exit(127);
    }
    for (int i = 0; i < 200 && !fs::exists(portFile); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    std::string relayOrigin = "https://" + serverHost() + ":" + readFile(portFile);
    fs::path script = scratch() / "relayed" / "install.ps1";
    copyScriptFor(relayOrigin + "/games/", script);
    Machine machine;

    ScriptRun result = run(machine, script);
    ::kill(relay, SIGTERM);
    ::waitpid(relay, nullptr, 0);

    std::vector<std::string> lines, told;
    for (const std::string& line : withPlatformReasons(result.lines))
        (line.find("Hinweis: ") != std::string::npos ? told : lines).push_back(line);
    EXPECT_EQ(joined(lines), joined(successLines("1.2.3", static_cast<int>(parts), false, machine.launcher())))
        << result.raw;
    ASSERT_EQ(told.size(), 1u) << result.raw;
    EXPECT_TRUE(std::regex_match(told[0], std::regex(".*Hinweis: Teil [2-9] konnte nicht geladen werden \\(\\.\\.\\.\\)\\. "
                                                     "Versuch 2 von 3 folgt in 2 s\\..*")))
        << told[0];
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
}
