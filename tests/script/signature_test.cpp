// The script built with a manifest key: the manifest's signature is fetched and checked before
// anything in the manifest is read, so a server that hands out other bytes than the key signed
// gets nothing installed, nothing downloaded and nothing written.
#include "script_harness.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <regex>
#include <sstream>

namespace {

const char* kMissing = "Die Signatur des Update-Manifests fehlt - das Paket wird nicht geladen.";
const char* kInvalid = "Die Signatur des Update-Manifests ist ungueltig - das Paket wird nicht geladen.";
const char* kExpired = "Die Update-Informationen des Servers sind abgelaufen - bitte spaeter nochmal versuchen.";

// The "?t=" stamp a request for path carried in the access log; empty when there is none.
std::string stampOf(const std::string& log, const std::string& path)
{
    std::smatch match;
    if (!std::regex_search(log, match, std::regex("GET " + path + R"(\?t=([0-9]+) )")))
        return {};
    return match[1];
}

std::string pemBody(const fs::path& pem)
{
    std::string body;
    std::istringstream lines(readFile(pem));
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("-----", 0) != 0)
            body += line;
    return body;
}

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace

class SignedManifest : public ScriptTest {};

TEST_F(SignedManifest, SignedReleaseInstallsWithTheSignatureFetchedFreshBesideTheManifest)
{
    publishSigned(releaseKey().privateKey);
    Machine machine;

    ScriptRun result = run(machine, signedScript());

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
    EXPECT_TRUE(machine.tempEntries().empty());
    std::string log = accessLog();
    std::string stamp = stampOf(log, "/games/launcher/update\\.json");
    EXPECT_FALSE(stamp.empty()) << log;
    EXPECT_EQ(stampOf(log, "/games/launcher/update\\.json\\.sig"), stamp) << log;
    EXPECT_LT(log.find("update.json.sig?t="), log.find(".bin ")) << log;
}

TEST_F(SignedManifest, SignatureWithoutLineFeedOrWithCrLfIsTaken)
{
    publishSigned(releaseKey().privateKey);
    std::string signature = readFile(signaturePath(tree()));
    std::string bare = signature.substr(0, signature.size() - 1);
    for (const std::string& text : {bare, bare + "\r\n"}) {
        writeFile(signaturePath(tree()), text);
        Machine machine;

        ScriptRun result = run(machine, signedScript());

        EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
    }
}

TEST_F(SignedManifest, ManifestIsCheckedAndReadAsTheBytesItIsWhateverCharsetTheServerClaims)
{
    // The manifest with its version in raw UTF-8, signed by openssl, from a folder whose answers
    // claim ISO-8859-1: decoded by that header the version would arrive as "2.0-Ã¤".
    publishSigned(releaseKey().privateKey);
    fs::path folder = www() / "zeichensatz";
    fs::create_directories(folder);
    for (const fs::path& part : partPaths(tree()))
        fs::rename(part, folder / part.filename());
    nlohmann::json document = manifest();
    document["version"] = "2.0-\xC3\xA4";
    writeFile(folder / "update.json", document.dump(2) + "\n");
    ASSERT_NE(readFile(folder / "update.json").find("2.0-\xC3\xA4"), std::string::npos);
    writeFile(folder / "update.json.sig", opensslSignature(releaseKey().privateKey, folder / "update.json"));
    setCatalogText(R"({"launcher": {"update": "/zeichensatz/update.json"}})");
    Machine machine;

    ScriptRun result = run(machine, signedScript());

    EXPECT_EQ(joined(result.lines), joined(successLines("2.0-\xC3\xA4", 1, true, machine.launcher()))) << result.raw;
    EXPECT_EQ(machine.uninstallerCalls(), "[/registrieren][/version][2.0-\xC3\xA4]\n");
}

TEST_F(SignedManifest, ScriptWithoutKeyNeverAsksForTheSignature)
{
    publishSigned(releaseKey().privateKey);
    writeFile(signaturePath(tree()), "keine Signatur\n");
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
    EXPECT_EQ(accessLog().find(".sig"), std::string::npos) << accessLog();
}

TEST_F(SignedManifest, ScriptWithoutKeyIgnoresTheExpiry)
{
    for (const std::string& expiry : {expiryText(std::time(nullptr) - 2 * 86400), std::string("01.01.2020 00:00:00")}) {
        SCOPED_TRACE(expiry);
        publishSigned(releaseKey().privateKey);
        setExpiry(tree(), expiry);
        Machine machine;

        ScriptRun result = run(machine);

        EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
    }
}

// The expiry of a signed manifest, signed anew for each case: what the script accepts and refuses.
struct Expiry {
    const char* name;
    long long secondsFromNow; // used when text is null
    const char* text;         // "-": no member at all
    bool accepted;
    const char* culture;      // the user's culture, when it matters
};

void PrintTo(const Expiry& expiry, std::ostream* out)
{
    *out << expiry.name;
}

class SignedManifestExpiry : public ScriptTest, public ::testing::WithParamInterface<Expiry> {};

TEST_P(SignedManifestExpiry, IsReadInItsOneFormAndCountsWithADayOfClockSkew)
{
    const Expiry& expiry = GetParam();
    publishSigned(releaseKey().privateKey);
    std::optional<std::string> text;
    if (!expiry.text)
        text = expiryText(std::time(nullptr) + expiry.secondsFromNow);
    else if (std::string(expiry.text) != "-")
        text = expiry.text;
    setExpiry(tree(), text, releaseKey().privateKey);
    Machine machine;

    ScriptRun result = run(machine, signedScript(),
                           expiry.culture ? "[cultureinfo]::CurrentCulture = '" + std::string(expiry.culture) + "'" : "");

    if (expiry.accepted) {
        EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
        return;
    }
    EXPECT_EQ(joined(result.lines), joined({statusLine("Verbinde mit 127.0.0.1"), progressLine(3), errorLine(kExpired)}))
        << result.raw;
    EXPECT_TRUE(machine.tempEntries().empty()) << joined(machine.tempEntries());
    EXPECT_FALSE(fs::exists(machine.installDir()));
    EXPECT_EQ(accessLog().find(".bin"), std::string::npos) << accessLog();
}

INSTANTIATE_TEST_SUITE_P(
    Expiries, SignedManifestExpiry,
    ::testing::Values(Expiry{"NinetyDaysAhead", 90 * 86400, nullptr, true, nullptr},
                      // A Buddhist calendar would read the year 2030 as 1487.
                      Expiry{"NinetyDaysAheadUnderAThaiCulture", 90 * 86400, nullptr, true, "th-TH"},
                      Expiry{"NinetyDaysAheadUnderAGermanCulture", 90 * 86400, nullptr, true, "de-DE"},
                      Expiry{"PastByTwoHours", -2 * 3600, nullptr, true, nullptr},
                      Expiry{"PastByTwoDays", -2 * 86400, nullptr, false, nullptr},
                      Expiry{"PastByADayAndTenMinutes", -(86400 + 600), nullptr, false, nullptr},
                      Expiry{"Missing", 0, "-", false, nullptr},
                      Expiry{"WithoutZ", 0, "2030-01-01T00:00:00", false, nullptr},
                      Expiry{"WithAnOffset", 0, "2030-01-01T00:00:00+00:00", false, nullptr},
                      Expiry{"WithLowerCaseZ", 0, "2030-01-01T00:00:00z", false, nullptr},
                      Expiry{"WithFractions", 0, "2030-01-01T00:00:00.000Z", false, nullptr},
                      Expiry{"InAGermanLocalForm", 0, "01.01.2030 00:00:00", false, "de-DE"},
                      Expiry{"InAnAmericanLocalForm", 0, "1/1/2030 12:00:00 AM", false, "en-US"},
                      Expiry{"OnNoSuchDay", 0, "2030-02-29T00:00:00Z", false, nullptr}),
    [](const ::testing::TestParamInfo<Expiry>& info) { return std::string(info.param.name); });

// What a server, or whoever can change its files, might hand out instead of a signed release.
enum class Forgery { otherPackage, otherKey, missing, truncated, notBase64, olderManifest, expiryChanged };

struct Refusal {
    const char* name;
    Forgery forgery;
    const char* error;
};

void PrintTo(const Refusal& refusal, std::ostream* out)
{
    *out << refusal.name;
}

class SignedManifestRefused : public ScriptTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SignedManifestRefused, EndsBeforeAnyPartIsFetchedOrAnythingWritten)
{
    const Refusal& refusal = GetParam();
    publishSigned(refusal.forgery == Forgery::otherKey ? otherKey().privateKey : releaseKey().privateKey);
    std::string signature = readFile(signaturePath(tree()));
    switch (refusal.forgery) {
    case Forgery::otherPackage:
        // Another package, with the manifest's digests made to fit it.
        pythonZip(scratch() / "fremd.zip", {{"Inhalt/ORVAN Launcher.exe", "MZ fremd"}});
        republish(tree(), scratch() / "fremd.zip");
        break;
    case Forgery::otherKey:
        break;
    case Forgery::missing:
        fs::remove(signaturePath(tree()));
        break;
    case Forgery::truncated:
        writeFile(signaturePath(tree()), signature.substr(0, 44) + "\n");
        break;
    case Forgery::notBase64:
        writeFile(signaturePath(tree()), "Das ist keine Signatur.\n");
        break;
    case Forgery::olderManifest:
        publishSigned(releaseKey().privateKey, "1.2.4");
        writeFile(signaturePath(tree()), signature);
        break;
    case Forgery::expiryChanged: {
        // Moved after signing to a moment long past: the signature fails before the date counts.
        std::string text = readFile(manifestPath(tree()));
        std::string expiry = manifest()["gueltigBis"];
        text.replace(text.find(expiry), expiry.size(), expiryText(std::time(nullptr) - 30 * 86400));
        writeFile(manifestPath(tree()), text);
        break;
    }
    }
    Machine machine;

    ScriptRun result = run(machine, signedScript());

    EXPECT_EQ(joined(result.lines),
              joined({statusLine("Verbinde mit 127.0.0.1"), progressLine(3), errorLine(refusal.error)}))
        << result.raw;
    EXPECT_TRUE(machine.tempEntries().empty()) << joined(machine.tempEntries());
    EXPECT_FALSE(fs::exists(machine.installDir()));
    EXPECT_FALSE(fs::exists(machine.shortcut()));
    std::string log = accessLog();
    EXPECT_NE(log.find("GET /games/launcher/update.json.sig?t="), std::string::npos) << log;
    EXPECT_EQ(log.find(".bin"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Forgeries, SignedManifestRefused,
    ::testing::Values(Refusal{"OtherPackageWithFittingDigests", Forgery::otherPackage, kInvalid},
                      Refusal{"SignedWithAnotherKey", Forgery::otherKey, kInvalid},
                      Refusal{"NoSignature", Forgery::missing, kMissing},
                      Refusal{"TruncatedSignature", Forgery::truncated, kInvalid},
                      Refusal{"SignatureNotBase64", Forgery::notBase64, kInvalid},
                      Refusal{"SignatureOfTheOlderManifest", Forgery::olderManifest, kInvalid},
                      Refusal{"ExpiryChangedAfterSigning", Forgery::expiryChanged, kInvalid}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// The embed step with keys of every kind: a P-256 public key lands in the script once, as the
// body of its PEM file; anything else stops the build and leaves no script behind.
TEST(ManifestKeyEmbedding, OnlyAP256PublicKeyGetsIntoTheScript)
{
    TempDir dir;
    const std::string url = "https://download.example.com/games/";
    std::string source = readFile(ORVAN_SCRIPT_DIR "/install.ps1.in");
    EXPECT_EQ(occurrences(source, "@ORVAN_MANIFEST_KEY@"), 1u);

    KeyPair key = makeKeyPair(dir.path, "release");
    fs::path compressed = dir.path / "komprimiert.pub.pem";
    Outcome converted = runShell("openssl ec -pubin -in " + shellQuote(key.publicKey.string()) +
                                 " -conv_form compressed -out " + shellQuote(compressed.string()));
    ASSERT_EQ(converted.status, 0) << converted.err;
    for (const fs::path& pem : {key.publicKey, compressed}) {
        SCOPED_TRACE(pem.filename().string());
        fs::path out = dir.path / "install.ps1";
        Outcome embedded = embedScript(url, pem, out);
        ASSERT_EQ(embedded.status, 0) << embedded.out << embedded.err;
        std::string script = readFile(out);
        EXPECT_EQ(occurrences(script, "'" + pemBody(key.publicKey) + "'"), 1u);
        EXPECT_EQ(occurrences(script, "@ORVAN_"), 0u);
    }

    KeyPair p384 = makeKeyPair(dir.path, "p384", "-algorithm EC -pkeyopt ec_paramgen_curve:P-384");
    KeyPair rsa = makeKeyPair(dir.path, "rsa", "-algorithm RSA -pkeyopt rsa_keygen_bits:1024");
    KeyPair ed25519 = makeKeyPair(dir.path, "ed25519", "-algorithm ED25519");
    struct Case {
        fs::path pem;
        const char* message;
    };
    const Case cases[] = {
        {p384.publicKey, "is no ECDSA key on the curve P-256"},
        {rsa.publicKey, "is no ECDSA key on the curve P-256"},
        {ed25519.publicKey, "is no ECDSA key on the curve P-256"},
        {key.privateKey, "holds no public key in PEM form"},
        {dir.path / "fehlt.pem", "there is no file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pem.filename().string());
        fs::path out = dir.path / "abgelehnt" / "install.ps1";
        writeFile(out, "vom letzten Lauf");
        Outcome embedded = embedScript(url, c.pem, out);
        EXPECT_NE(embedded.status, 0);
        EXPECT_NE(embedded.err.find("ORVAN_MANIFEST_KEY: "), std::string::npos) << embedded.err;
        std::string message = embedded.err;
        message.erase(std::remove(message.begin(), message.end(), '\n'), message.end());
        EXPECT_NE(std::regex_replace(message, std::regex(" +"), " ").find(c.message), std::string::npos) << embedded.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

// .NET Framework before 4.7 has no ECParameters: a signed run there ends with what is missing,
// before any part is fetched or anything written. The type the check asks for is exchanged for
// one that no framework has.
TEST_F(SignedManifest, FrameworkWithoutEcParametersIsNamedBeforeAnythingIsFetched)
{
    publishSigned(releaseKey().privateKey);
    Machine machine;

    ScriptRun result = run(machine, signedScript(),
                           "$PSDefaultParameterValues['Assert-SignatureSupport:TypeName'] = "
                           "'System.Security.Cryptography.ECParametersVonMorgen'");

    EXPECT_EQ(joined(result.lines),
              joined({connectingLine(), progressLine(3),
                      errorLine("Zum Pruefen der Signatur des Update-Manifests fehlt .NET Framework 4.7 (ECParameters). "
                                "Bitte .NET Framework 4.8 von Microsoft installieren und nochmal versuchen.")}))
        << result.raw;
    EXPECT_TRUE(machine.tempEntries().empty()) << joined(machine.tempEntries());
    EXPECT_FALSE(fs::exists(machine.installDir()));
    EXPECT_EQ(accessLog().find(".bin"), std::string::npos) << accessLog();
}
