// The catalog's launcher member and where the manifest and the parts are looked for.
#include "script_harness.h"

class CatalogWithoutLauncher : public ScriptTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CatalogWithoutLauncher, FailsRightAfterConnecting)
{
    publishDefault();
    setCatalogText(GetParam());
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines),
              joined({connectingLine(), progressLine(3),
                      errorLine("Auf der Website ist noch kein Launcher veroeffentlicht.")})) << result.raw;
    EXPECT_EQ(accessLog().find("update.json"), std::string::npos);
    EXPECT_TRUE(machine.tempEntries().empty());
}

INSTANTIATE_TEST_SUITE_P(Values, CatalogWithoutLauncher,
                         ::testing::Values(R"({"spiele": []})", R"({"launcher": null})", R"({"launcher": false})",
                                           R"({"launcher": 0})", R"({"launcher": ""})", R"({"launcher": []})"));

class UrlResolution : public ScriptTest {
protected:
    // Moves the manifest (and, unless told otherwise, its parts) from the published place to
    // folder below the served root.
    void moveManifestTo(const std::string& folder, bool withParts = true)
    {
        fs::path from = manifestPath(tree());
        fs::path to = www() / folder;
        fs::create_directories(to);
        if (withParts)
            for (const fs::path& part : partPaths(tree()))
                fs::rename(part, to / part.filename());
        fs::rename(from, to / "update.json");
    }
};

TEST_F(UrlResolution, RootedUpdateReferenceStartsAtTheHostAndPartsLieBesideTheManifest)
{
    publishDefault();
    moveManifestTo("anders/wo");
    setCatalogText(R"({"launcher": {"update": "/anders/wo/update.json"}})");
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
}

TEST_F(UrlResolution, AbsoluteUpdateUrlOnAnotherHostName)
{
    publishDefault();
    moveManifestTo("anderswo");
    setCatalogText(R"({"launcher": {"update": ")" + origin("localhost") + R"(/anderswo/update.json"}})");
    Machine machine;

    ScriptRun result = run(machine);

    // /anderswo/ answers only to the host name localhost.
    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
    EXPECT_NE(accessLog().find("GET /anderswo/update.json?t="), std::string::npos) << accessLog();
}

TEST_F(UrlResolution, BareUpdateNameAndBarePartNameRootedPartAndAbsolutePart)
{
    publishInParts(3);
    // The manifest goes to /games/update.json; part 1 beside it by bare name, part 2 from the
    // host's root, part 3 from another host name.
    std::vector<fs::path> parts = partPaths(tree());
    moveManifestTo("games", false);
    fs::create_directories(www() / "teile");
    fs::create_directories(www() / "anderswo");
    fs::rename(parts[0], www() / "games" / "eins.bin");
    fs::rename(parts[1], www() / "teile" / "zwei.bin");
    fs::rename(parts[2], www() / "anderswo" / "drei.bin");
    nlohmann::json document = readJson(www() / "games" / "update.json");
    document["paket"]["teile"][0]["url"] = "eins.bin";
    document["paket"]["teile"][1]["url"] = "/teile/zwei.bin";
    document["paket"]["teile"][2]["url"] = origin("localhost") + "/anderswo/drei.bin";
    writeJson(www() / "games" / "update.json", document);
    setCatalogText(R"({"launcher": {"update": "update.json"}})");
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 3, true, machine.launcher()))) << result.raw;
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
    std::string log = accessLog();
    EXPECT_NE(log.find("GET /games/update.json?t="), std::string::npos) << log;
    EXPECT_NE(log.find("GET /games/eins.bin "), std::string::npos) << log;
    EXPECT_NE(log.find("GET /teile/zwei.bin "), std::string::npos) << log;
    EXPECT_NE(log.find("GET /anderswo/drei.bin "), std::string::npos) << log;
}
