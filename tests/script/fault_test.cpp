// The server failing in different ways: each ends the run with the platform's message, and a
// later attempt installs cleanly once the fault is gone.
#include "script_harness.h"

namespace {

// The run failed with one error line, right after the given lines, and nothing after it.
void expectErrorAfter(const ScriptRun& result, const std::vector<std::string>& before)
{
    ASSERT_EQ(result.lines.size(), before.size() + 1) << result.raw;
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(result.lines[i], before[i]);
    EXPECT_EQ(result.lines.back().rfind("ERROR \"", 0), 0u) << result.lines.back();
    EXPECT_GT(result.lines.back().size(), std::string("ERROR \"\"").size());
}

const std::vector<std::string>& connecting()
{
    static const std::vector<std::string> lines = {connectingLine(), progressLine(3)};
    return lines;
}

} // namespace

class ServerFault : public ScriptTest {};

TEST_F(ServerFault, NothingListening)
{
    publishDefault();
    Machine machine;

    ScriptRun result = run(machine, unreachableScript());

    expectErrorAfter(result, connecting());
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

    expectErrorAfter(result, connecting());
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

TEST_F(ServerFault, ConnectionCutInsideAPartThenARetryInstallsCleanly)
{
    // Part 2 of 2 comes from a server that cuts the first answer after half of its bytes.
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
    Machine machine;

    ScriptRun first = run(machine);

    expectErrorAfter(first, {connectingLine(), progressLine(3),
                             statusLine("ORVAN Launcher 1.2.3 wird geladen"), progressLine(6),
                             statusLine("Lade Teil 1 / 2"), progressLine(38), statusLine("Lade Teil 2 / 2"),
                             progressLine(70)});
    EXPECT_FALSE(fs::exists(machine.installDir()));
    ASSERT_EQ(machine.tempEntries(), std::vector<std::string>{"orvan-launcher-1.2.3"});

    ScriptRun second = run(machine);

    EXPECT_EQ(joined(second.lines), joined(successLines("1.2.3", 2, true, machine.launcher()))) << second.raw;
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
    EXPECT_TRUE(machine.tempEntries().empty());
}
