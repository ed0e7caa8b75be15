// Releases that build on each other (build --previous), and the guard rails a studio's build
// engineer meets first: each told by what the program prints.
#include "publish_test_util.h"

#include "publish.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct ReleasesFixture : ::testing::Test {
    TempDir dir;
    fs::path payload = dir.path / "nutzlast";

    fs::path release(const std::string& version, const std::vector<std::string>& extra = {})
    {
        return buildVersionTree(dir.path, version, extra);
    }

    static std::set<std::string> partNames(const fs::path& tree)
    {
        std::set<std::string> names;
        for (const fs::path& part : partPaths(tree))
            names.insert(part.filename().string());
        return names;
    }

    static std::set<std::string> binFiles(const fs::path& tree)
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(tree / "games" / "launcher"))
            if (entry.path().extension() == ".bin")
                names.insert(entry.path().filename().string());
        return names;
    }
};

TEST_F(ReleasesFixture, PreviousKeepsTheReplacedPartsUntilTheGracePeriodEnds)
{
    fs::path first = release("1.0");
    fs::path second = release("1.1", {"--previous", first.string()});
    fs::path third = release("1.2", {"--previous", second.string(), "--grace-days", "0"});
    fs::path patient = release("1.2b", {"--previous", second.string()});
    std::set<std::string> v1 = partNames(first), v2 = partNames(second), v3 = partNames(third);

    // 1.1 beside 1.0: both sets of parts, byte for byte, and the manifest names only its own.
    std::set<std::string> both = v1;
    both.insert(v2.begin(), v2.end());
    EXPECT_FALSE(fs::exists(first / "games/launcher/freigaben.json"));
    EXPECT_EQ(binFiles(second), both);
    for (const std::string& name : v1)
        EXPECT_EQ(sha256sum(second / "games/launcher" / name), sha256sum(first / "games/launcher" / name)) << name;
    nlohmann::json record = readJson(second / "games/launcher/freigaben.json");
    ASSERT_EQ(record["versionen"].size(), 2u) << record.dump(2);
    EXPECT_EQ(record["versionen"][0]["version"], "1.1");
    EXPECT_FALSE(record["versionen"][0].contains("abgeloest"));
    EXPECT_EQ(record["versionen"][1]["version"], "1.0");
    EXPECT_NO_THROW(epochOf(record["versionen"][1]["abgeloest"].get<std::string>()));
    EXPECT_TRUE(record["entfernt"].empty());
    Outcome check = verify(second);
    EXPECT_EQ(check.status, 0) << check.out;

    // With no grace left, 1.0 goes; 1.1, replaced just now, always stays until the next release.
    std::set<std::string> kept = v2;
    kept.insert(v3.begin(), v3.end());
    EXPECT_EQ(binFiles(third), kept);
    record = readJson(third / "games/launcher/freigaben.json");
    EXPECT_EQ(std::set<std::string>(record["entfernt"].begin(), record["entfernt"].end()), v1);
    // Within the default grace period 1.0 stays too.
    EXPECT_EQ(readJson(patient / "games/launcher/freigaben.json")["versionen"].size(), 3u);
    EXPECT_TRUE(readJson(patient / "games/launcher/freigaben.json")["entfernt"].empty());
}

TEST_F(ReleasesFixture, APreviousTreeOfTheDocumentsAloneIsEnough)
{
    fs::path first = release("1.0");
    fs::path documents = dir.path / "vom-server";
    fs::create_directories(documents / "games/launcher");
    fs::copy_file(manifestPath(first), manifestPath(documents));
    PayloadFiles files;
    files.data["version.txt"] = "2.0";
    fs::remove_all(payload);
    makePayload(payload, files);
    Outcome run = runBuild(payload, dir.path / "neu", "2.0", "64K", {}, {"--previous", documents.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("behalten: Version 1.0, " + std::to_string(partNames(first).size()) + " Teile"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("lagen nicht im vorigen Baum; sie bleiben nur auf dem Server"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Hochladen in dieser Reihenfolge (orvan-publish upload tut es so):\n"
                           "  1. die Teile games/launcher/*.bin, ohne etwas zu loeschen\n"
                           "  2. games/launcher/update.json und games/launcher/update.json.sig\n"
                           "  3. games/launcher/freigaben.json, dann games/katalog.json\n"),
              std::string::npos)
        << run.out;
}

TEST_F(ReleasesFixture, GuardRailsSayWhatIsWrongAndWhatToDo)
{
    makePayload(payload);
    std::string p = payload.string();
    std::string out = (dir.path / "baum").string();
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* says; // on standard error for status 2, otherwise on standard output
    };
    const Case cases[] = {
        {{"build", p, "--version", "1", "--out", out, "--part-size", "100"}, 2, "kleiner als 64K"},
        {{"build", p, "--version", "1", "--out", out, "--part-size", "64K", "--grace-days", "3"}, 2, "nur mit --previous"},
        {{"build", p, "--version", "1.0 beta", "--out", out}, 2, "\"1.0 beta\" enthaelt ein Leerzeichen; sie steht in Ordner- und Teilenamen"},
        {{"build", p, "--version", "2.0-\xC3\xA4", "--out", out}, 2, "enthaelt einen Buchstaben ausserhalb ASCII"},
        {{"build", p, "--version", "-1", "--out", out}, 2, "beginnt nicht mit einem Buchstaben oder einer Ziffer"},
        {{"build", p, "--version", "1", "--out", out, "--previous", (dir.path / "fehlt").string()}, 2, "kein Ordner"},
        {{"upload", out}, 2, "das rclone-Ziel fehlt"},
        {{"build", "--help"}, 0, "--previous   der Baum der Version"},
        {{"verify", "--help"}, 0, "--installer"},
        {{"resign", "--help"}, 0, "Ein Baum nur aus Manifest und Signatur"},
        {{"upload", "--help"}, 0, "4. erst dann die Teile"},
        {{"build", p, "--version", "1", "--out", out, "--part-size", "100", "--force"}, 0, "Paket"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& argument : c.arguments)
            shown += " [" + argument + "]";
        Outcome run = runPublish(c.arguments);
        EXPECT_EQ(run.status, c.status) << shown << run.err;
        EXPECT_NE((c.status == 2 ? run.err : run.out).find(c.says), std::string::npos) << shown << "\n" << run.out << run.err;
    }
}

TEST_F(ReleasesFixture, OnePartIsOneTeil)
{
    makePayload(payload);
    fs::path tree = dir.path / "baum";
    Outcome run = runBuild(payload, tree, "1.0", "1G");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(" Bytes in 1 Teil\n"), std::string::npos) << run.out;
    Outcome check = verify(tree, {"--base", "https://download.example.com/games/"});
    EXPECT_NE(check.out.find("In Ordnung: Version 1.0, 1 Teil, "), std::string::npos) << check.out;
    EXPECT_EQ(check.out.find("ohne --base"), std::string::npos) << check.out;
    // Without --base the tree is read under this build's own address, and verify says which.
    check = verify(tree);
    EXPECT_NE(check.out.find("Hinweis: geprueft unter der Basisadresse https://download.nordalis.example/games/ (ohne "
                             "--base die dieses Builds)"),
              std::string::npos)
        << check.out;
}

TEST_F(ReleasesFixture, AMissingSignatureNamesTheRemedy)
{
    makePayload(payload);
    KeyPair key = makeKeyPair(dir.path, "manifest-key");
    fs::path tree = dir.path / "baum";
    buildTree(payload, tree, "1.0", "64K", key.privateKey);
    fs::remove(signaturePath(tree));
    Outcome check = verify(tree);
    EXPECT_NE(check.out.find("laedt diese Version nicht; den Baum mit build --sign-key neu bauen"), std::string::npos)
        << check.out;
    check = verify(tree, {"--key", key.publicKey.string()});
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("Hinweis: Die Signatur schreibt build --sign-key: den Baum damit neu bauen"), std::string::npos)
        << check.out;
}

} // namespace

namespace {

// A real Windows program from the cross compiler, and a copy signed by osslsigncode with a
// certificate made for the test.
struct Programs {
    fs::path plain;
    fs::path signed_;
};

Programs makePrograms(const fs::path& folder)
{
    Programs programs{folder / "plain.exe", folder / "signed.exe"};
    writeFile(folder / "main.c", "int main(void) { return 0; }\n");
    Outcome compile = runShell("x86_64-w64-mingw32-gcc -o " + shellQuote(programs.plain.string()) + " " +
                               shellQuote((folder / "main.c").string()));
    EXPECT_EQ(compile.status, 0) << compile.err;
    std::string key = shellQuote((folder / "key.pem").string());
    std::string cert = shellQuote((folder / "cert.pem").string());
    Outcome sign = runShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Test -keyout " + key + " -out " +
                            cert + " 2>/dev/null && osslsigncode sign -h sha256 -key " + key + " -certs " + cert +
                            " -in " + shellQuote(programs.plain.string()) + " -out " +
                            shellQuote(programs.signed_.string()) + " >/dev/null");
    EXPECT_EQ(sign.status, 0) << sign.err;
    return programs;
}

} // namespace

TEST_F(ReleasesFixture, AnUnsignedUninstallerBesideASignedInstallerIsWarnedAbout)
{
    Programs programs = makePrograms(dir.path);
    ASSERT_EQ(authenticodeOfFile(programs.plain.string()), Authenticode::unsigned_);
    ASSERT_EQ(authenticodeOfFile(programs.signed_.string()), Authenticode::signed_);
    makePayload(payload);
    struct Case {
        fs::path uninstaller;
        fs::path installer;
        int status;
        const char* buildSays;  // nullptr: build says nothing about signatures
        const char* verifySays; // nullptr: verify says nothing about signatures
    };
    const Case cases[] = {
        {programs.plain, programs.signed_, 3, "traegt keine Authenticode-Signatur; vor build signieren",
         "WARNUNG: Der Installer ist signiert, das Deinstallationsprogramm im Paket nicht"},
        {programs.plain, {}, 0, "traegt keine Authenticode-Signatur",
         "Hinweis: Das Deinstallationsprogramm im Paket traegt keine Authenticode-Signatur"},
        {programs.signed_, programs.signed_, 0, nullptr, nullptr},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(number);
        fs::path tree = dir.path / ("baum-" + std::to_string(++number));
        Outcome built = runBuild(payload, tree, "1.0", "64K", {}, {"--uninstaller", c.uninstaller.string()});
        ASSERT_EQ(built.status, 0) << built.err;
        EXPECT_EQ(built.err.find("Authenticode") != std::string::npos, c.buildSays != nullptr) << built.err;
        if (c.buildSays) {
            EXPECT_NE(built.err.find(c.buildSays), std::string::npos) << built.err;
        }
        std::vector<std::string> extra = {"--base", "https://download.example.com/games/"};
        if (!c.installer.empty())
            extra.insert(extra.end(), {"--installer", c.installer.string()});
        Outcome check = verify(tree, extra);
        EXPECT_EQ(check.status, c.status) << check.out;
        EXPECT_EQ(check.out.find("Authenticode") != std::string::npos, c.verifySays != nullptr) << check.out;
        if (c.verifySays) {
            EXPECT_NE(check.out.find(c.verifySays), std::string::npos) << check.out;
        }
    }
}
