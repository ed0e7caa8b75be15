// orvan-publish build --sign-key and verify --key on trees on disk: the signature beside the
// manifest, read back by openssl, and every way it can be missing, broken or from another key.
#include "publish_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

struct SignatureFixture : ::testing::Test {
    TempDir dir;
    fs::path payload = dir.path / "nutzlast";
    fs::path tree = dir.path / "baum";
    KeyPair key;
    KeyPair otherKey;

    void SetUp() override
    {
        key = makeKeyPair(dir.path, "release");
        otherKey = makeKeyPair(dir.path, "fremd");
        makePayload(payload);
        buildTree(payload, tree, "1.2.3", "32K", key.privateKey);
    }

    Outcome verifyWith(const fs::path& publicKey) { return verify(tree, {"--key", publicKey.string()}); }

    void expectValid(const fs::path& publicKey)
    {
        Outcome run = verifyWith(publicKey);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        std::string expiry = readJson(manifestPath(tree)).value("gueltigBis", "");
        EXPECT_NE(run.out.find(", Signatur gueltig bis " + expiry + ".\n"), std::string::npos) << run.out;
    }

    // Relative path -> bytes of every file in the tree.
    std::map<std::string, std::string> treeFiles() const
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(tree))
            if (entry.is_regular_file())
                files[entry.path().lexically_relative(tree).generic_string()] = readFile(entry.path());
        return files;
    }
};

// The expiry a build or resign run between two moments wrote: days after one of them.
void expectExpiryAfter(const fs::path& manifest, std::time_t before, std::time_t after, int days)
{
    nlohmann::json document = readJson(manifest);
    ASSERT_TRUE(document.contains("gueltigBis")) << document.dump();
    std::string text = document["gueltigBis"];
    EXPECT_EQ(text, expiryText(epochOf(text))) << "not in the one form";
    EXPECT_GE(epochOf(text), before + days * 86400LL) << text;
    EXPECT_LE(epochOf(text), after + days * 86400LL) << text;
}

// What openssl prints as the key's fingerprint: SHA-256 of the DER public key.
std::string opensslFingerprint(const fs::path& publicKey)
{
    Outcome run = runShell("openssl pkey -pubin -in " + shellQuote(publicKey.string()) + " -outform DER | sha256sum");
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out.substr(0, 64);
}

} // namespace

TEST_F(SignatureFixture, BuildSignsTheManifestAndVerifyChecksIt)
{
    std::string signature = readFile(signaturePath(tree));
    ASSERT_EQ(signature.size(), 89u) << signature;
    nlohmann::json manifest = readJson(manifestPath(tree));
    std::time_t built = epochOf(manifest.value("gueltigBis", "")) - 90 * 86400LL;
    EXPECT_LE(std::abs(built - std::time(nullptr)), 600) << manifest.dump();
    EXPECT_EQ(signature.back(), '\n');
    Outcome decoded = runShell("openssl base64 -d -A -in " + shellQuote(signaturePath(tree).string()) + " | wc -c");
    EXPECT_EQ(decoded.out, "64\n") << decoded.err;
    EXPECT_EQ(readJson(manifestPath(tree))["signaturschluessel"], opensslFingerprint(key.publicKey));
    expectValid(key.publicKey);

    // Without --key the signature is only mentioned.
    Outcome run = verify(tree);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Hinweis: Das Manifest ist signiert (Schluessel " + opensslFingerprint(key.publicKey)),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Signatur gueltig"), std::string::npos) << run.out;

    // Without --sign-key the tree is as it always was.
    fs::path unsigned_ = dir.path / "ohne";
    buildTree(payload, unsigned_, "1.2.3", "32K");
    EXPECT_FALSE(fs::exists(signaturePath(unsigned_)));
    EXPECT_FALSE(readJson(manifestPath(unsigned_)).contains("signaturschluessel"));
    EXPECT_FALSE(readJson(manifestPath(unsigned_)).contains("gueltigBis"));
}

TEST_F(SignatureFixture, ValidDaysSetHowLongTheSignatureCounts)
{
    for (const char* days : {"1", "366"}) {
        SCOPED_TRACE(days);
        fs::path out = dir.path / ("tage-" + std::string(days));
        std::time_t before = std::time(nullptr);
        Outcome run = runPublish({"build", payload.string(), "--version", "1.0", "--out", out.string(), "--sign-key",
                                  key.privateKey.string(), "--valid-days", days});
        ASSERT_EQ(run.status, 0) << run.err;
        expectExpiryAfter(manifestPath(out), before, std::time(nullptr), std::atoi(days));
    }

    struct Case {
        std::vector<std::string> options;
        const char* message;
    };
    const Case cases[] = {
        {{"--sign-key", key.privateKey.string(), "--valid-days", "0"}, "--valid-days \"0\" ist keine Zahl von Tagen von 1 bis 366"},
        {{"--sign-key", key.privateKey.string(), "--valid-days", "367"}, "--valid-days \"367\" ist keine Zahl"},
        {{"--sign-key", key.privateKey.string(), "--valid-days", "-5"}, "--valid-days \"-5\" ist keine Zahl"},
        {{"--sign-key", key.privateKey.string(), "--valid-days", "30d"}, "--valid-days \"30d\" ist keine Zahl"},
        {{"--sign-key", key.privateKey.string(), "--valid-days", ""}, "--valid-days \"\" ist keine Zahl"},
        {{"--valid-days", "30"}, "--valid-days gilt nur mit --sign-key"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        fs::path out = dir.path / "abgelehnt";
        std::vector<std::string> arguments = {"build", payload.string(), "--version", "1.0", "--out", out.string()};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        Outcome run = runPublish(arguments);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

// verify --key reads the expiry as the installer of a signed build does: exactly one form, and
// the moment itself, with a warning ahead of it.
TEST_F(SignatureFixture, VerifyNamesTheExpiryAndWhatIsWrongWithIt)
{
    std::time_t now = std::time(nullptr);
    struct Case {
        const char* name;
        std::optional<std::string> expiry;
        int status;
        std::string line; // expected at the start of a line of the output
    };
    const std::string inForm = " ist kein Zeitpunkt der Form 2030-01-31T12:00:00Z (UTC, auf die Sekunde)";
    const Case cases[] = {
        {"thirty days ahead", expiryText(now + 30 * 86400), 0, "In Ordnung: "},
        {"thirteen days ahead", expiryText(now + 13 * 86400), 3,
         "WARNUNG: Die Signatur des Manifests laeuft in weniger als 14 Tagen ab (gueltigBis " + expiryText(now + 13 * 86400) + ")"},
        {"two hours past", expiryText(now - 2 * 3600), 1,
         "FEHLER: Die Signatur des Manifests ist abgelaufen (gueltigBis " + expiryText(now - 2 * 3600) + ")"},
        {"two days past", expiryText(now - 2 * 86400), 1,
         "FEHLER: Die Signatur des Manifests ist abgelaufen (gueltigBis " + expiryText(now - 2 * 86400) + ")"},
        {"missing", std::nullopt, 1, "FEHLER: Das signierte Manifest nennt kein gueltigBis"},
        {"without Z", "2030-01-01T00:00:00", 1, "FEHLER: Im Manifest: gueltigBis \"2030-01-01T00:00:00\"" + inForm},
        {"with an offset", "2030-01-01T00:00:00+00:00", 1, "FEHLER: Im Manifest: gueltigBis \"2030-01-01T00:00:00+00:00\"" + inForm},
        {"local form", "01.01.2030 00:00:00", 1, "FEHLER: Im Manifest: gueltigBis \"01.01.2030 00:00:00\"" + inForm},
        {"no such day", "2030-02-29T00:00:00Z", 1, "FEHLER: Im Manifest: gueltigBis \"2030-02-29T00:00:00Z\"" + inForm},
        {"fractions", "2030-01-01T00:00:00.5Z", 1, "FEHLER: Im Manifest: gueltigBis \"2030-01-01T00:00:00.5Z\"" + inForm},
        {"a number", "1893456000", 1, "FEHLER: Im Manifest: gueltigBis \"1893456000\"" + inForm},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setExpiry(tree, c.expiry, key.privateKey);
        Outcome run = verifyWith(key.publicKey);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE(("\n" + run.out).find("\n" + c.line), std::string::npos) << run.out;
        if (c.status == 0 || c.status == 3) {
            EXPECT_NE(run.out.find(", Signatur gueltig bis " + *c.expiry + ".\n"), std::string::npos) << run.out;
        }
    }
}

TEST_F(SignatureFixture, ResignMovesOnlyTheExpiryAndTheSignature)
{
    // A release whose signature ran out two days ago: verify names it, resign renews it.
    std::string expired = expiryText(std::time(nullptr) - 2 * 86400);
    setExpiry(tree, expired, key.privateKey);
    std::string builtManifest = readFile(manifestPath(tree));
    std::string oldSignature = readFile(signaturePath(tree));
    ASSERT_EQ(verifyWith(key.publicKey).status, 1);
    std::map<std::string, std::string> before = treeFiles();

    std::time_t start = std::time(nullptr);
    Outcome run = runPublish({"resign", tree.string(), "--sign-key", key.privateKey.string(), "--valid-days", "30"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;

    expectExpiryAfter(manifestPath(tree), start, std::time(nullptr), 30);
    std::string renewed = readJson(manifestPath(tree))["gueltigBis"];
    EXPECT_NE(run.out.find("gueltig bis " + renewed), std::string::npos) << run.out;
    std::string expected = builtManifest;
    expected.replace(expected.find(expired), expired.size(), renewed);
    EXPECT_EQ(readFile(manifestPath(tree)), expected);
    EXPECT_NE(readFile(signaturePath(tree)), oldSignature);
    std::map<std::string, std::string> after = treeFiles();
    for (const auto& [name, bytes] : before) {
        if (fs::path(name).filename() == "update.json" || fs::path(name).filename() == "update.json.sig")
            continue;
        EXPECT_EQ(after[name], bytes) << name;
    }
    EXPECT_EQ(after.size(), before.size());
    // A signature openssl accepts, read back by verify as well.
    Outcome checked = runShell("openssl base64 -d -A -in " + shellQuote(signaturePath(tree).string()) + " | wc -c");
    EXPECT_EQ(checked.out, "64\n");
    expectValid(key.publicKey);

    // Without --valid-days: ninety days.
    start = std::time(nullptr);
    ASSERT_EQ(runPublish({"resign", tree.string(), "--sign-key", key.privateKey.string()}).status, 0);
    expectExpiryAfter(manifestPath(tree), start, std::time(nullptr), 90);
}

TEST_F(SignatureFixture, ResignRefusesWhatItCannotVouchFor)
{
    fs::path unsignedTree = dir.path / "ohne";
    buildTree(payload, unsignedTree, "1.2.3", "32K");
    struct Case {
        const char* name;
        fs::path tree;
        fs::path signKey;
        std::function<void()> change;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {"another key", tree, otherKey.privateKey, [] {}, 1,
         "Der Schluessel passt nicht zum Baum (falscher Schluessel): das Manifest nennt "},
        {"manifest changed after signing", tree, key.privateKey,
         [&] {
             nlohmann::json manifest = readJson(manifestPath(tree));
             manifest["version"] = "6.6.6";
             writeJson(manifestPath(tree), manifest);
         },
         1, "Die Signatur passt nicht zum Manifest: es wurde nach dem Signieren geaendert"},
        {"no signature", tree, key.privateKey, [&] { fs::remove(signaturePath(tree)); }, 1, "ist nicht lesbar"},
        {"a part changed", tree, key.privateKey, [&] { writeFile(partPaths(tree)[0], "fremde Bytes"); }, 1,
         "Pruefsumme falsch"},
        {"a part missing", tree, key.privateKey, [&] { fs::remove(partPaths(tree)[1]); }, 1, "fehlt im Baum"},
        {"an unsigned tree", unsignedTree, key.privateKey, [] {}, 1, "Das Manifest nennt keinen Schluessel (signaturschluessel)"},
        {"the public key", tree, key.publicKey, [] {}, 2, "enthaelt nur einen oeffentlichen Schluessel"},
    };
    ASSERT_GE(partPaths(tree).size(), 2u);
    std::map<std::string, std::string> pristine = treeFiles();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [name, bytes] : pristine)
            writeFile(tree / name, bytes);
        c.change();
        std::map<std::string, std::string> before = treeFiles();
        std::string unsignedManifest = readFile(manifestPath(unsignedTree));
        Outcome run = runPublish({"resign", c.tree.string(), "--sign-key", c.signKey.string()});
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(treeFiles(), before);
        EXPECT_EQ(readFile(manifestPath(unsignedTree)), unsignedManifest);
    }
}

TEST_F(SignatureFixture, SignaturesMadeByOpensslAreReadWithAnyLineEnding)
{
    std::string signature = opensslSignature(key.privateKey, manifestPath(tree));
    std::string bare = signature.substr(0, signature.size() - 1);
    for (const std::string& text : {signature, bare, bare + "\r\n"}) {
        writeFile(signaturePath(tree), text);
        expectValid(key.publicKey);
    }
}

TEST_F(SignatureFixture, BrokenSignaturesAreNamed)
{
    std::string signature = readFile(signaturePath(tree));
    fs::path older = dir.path / "aelter";
    buildTree(payload, older, "1.2.2", "32K", key.privateKey);
    nlohmann::json changed = readJson(manifestPath(tree));
    changed["version"] = "6.6.6";
    std::string changedText = changed.dump(2) + "\n";

    struct Case {
        const char* name;
        std::string manifest;  // empty: as built
        std::string signature; // "-": no file
        const char* problem;
    };
    const Case cases[] = {
        {"missing", {}, "-", "Die Signatur des Manifests \"https://download.nordalis.example/games/launcher/update.json.sig\" fehlt im Baum"},
        {"empty", {}, "", "kein Base64-Text von 64 Bytes"},
        {"truncated", {}, signature.substr(0, 44) + "\n", "kein Base64-Text von 64 Bytes"},
        {"cut by one character", {}, signature.substr(0, 87) + "\n", "kein Base64-Text von 64 Bytes"},
        {"not base64", {}, std::string(86, '!') + "==\n", "kein Base64-Text von 64 Bytes"},
        {"65 bytes", {}, signature.substr(0, 86) + "AAAA\n", "kein Base64-Text von 64 Bytes"},
        {"two line feeds", {}, signature + "\n", "kein Base64-Text von 64 Bytes"},
        {"manifest changed after signing", changedText, signature, "es wurde nach dem Signieren geaendert"},
        {"older manifest's signature", {}, readFile(signaturePath(older)), "oder die Signatur gehoert zu einem anderen Manifest"},
    };
    std::string builtManifest = readFile(manifestPath(tree));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(manifestPath(tree), c.manifest.empty() ? builtManifest : c.manifest);
        if (c.signature == "-")
            fs::remove(signaturePath(tree));
        else
            writeFile(signaturePath(tree), c.signature);
        Outcome run = verifyWith(key.publicKey);
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_TRUE(saysProblem(run, c.problem)) << "expected \"" << c.problem << "\" in:\n" << run.out;
    }
}

TEST_F(SignatureFixture, AnotherKeyIsNamedAsTheWrongKey)
{
    Outcome run = verifyWith(otherKey.publicKey);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(saysProblem(run, "stammt von einem anderen Schluessel (falscher Schluessel): das Manifest nennt " +
                                     opensslFingerprint(key.publicKey) + ", --key ist " +
                                     opensslFingerprint(otherKey.publicKey)))
        << run.out;

    // A manifest that names no key: a wrong key and a changed manifest look alike.
    nlohmann::json manifest = readJson(manifestPath(tree));
    manifest.erase("signaturschluessel");
    writeJson(manifestPath(tree), manifest);
    writeFile(signaturePath(tree), opensslSignature(otherKey.privateKey, manifestPath(tree)));
    run = verifyWith(key.publicKey);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(saysProblem(run, "passt nicht zu Manifest und Schluessel " + opensslFingerprint(key.publicKey) +
                                     ": falscher Schluessel, oder das Manifest wurde nach dem Signieren geaendert"))
        << run.out;
    expectValid(otherKey.publicKey);
}

TEST_F(SignatureFixture, KeysThatAreNoP256KeysAreRefused)
{
    KeyPair p384 = makeKeyPair(dir.path, "p384", "-algorithm EC -pkeyopt ec_paramgen_curve:P-384");
    KeyPair rsa = makeKeyPair(dir.path, "rsa", "-algorithm RSA -pkeyopt rsa_keygen_bits:1024");
    KeyPair ed25519 = makeKeyPair(dir.path, "ed25519", "-algorithm ED25519");
    writeFile(dir.path / "kein-schluessel.pem", "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n");
    struct Case {
        const char* command;
        fs::path file;
        std::string message;
    };
    const std::string notP256 = " ist kein ECDSA-Schluessel auf der Kurve P-256 (prime256v1), sondern ";
    const Case cases[] = {
        {"build", p384.privateKey, notP256 + "ein EC-Schluessel auf der Kurve secp384r1"},
        {"build", rsa.privateKey, notP256 + "ein RSA-Schluessel"},
        {"build", ed25519.privateKey, notP256 + "ein ED25519-Schluessel"},
        {"build", key.publicKey, "enthaelt nur einen oeffentlichen Schluessel; zum Signieren braucht es den privaten"},
        {"build", dir.path / "kein-schluessel.pem", "enthaelt keinen privaten Schluessel im PEM-Format"},
        {"build", dir.path / "fehlt.pem", "die Schluesseldatei \"" + (dir.path / "fehlt.pem").string() + "\" gibt es nicht"},
        {"verify", p384.publicKey, notP256 + "ein EC-Schluessel auf der Kurve secp384r1"},
        {"verify", rsa.publicKey, notP256 + "ein RSA-Schluessel"},
        {"verify", key.privateKey, "enthaelt einen privaten Schluessel; zum Pruefen gehoert nur der oeffentliche dorthin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.filename().string() + " for " + c.command);
        fs::path out = dir.path / "neu";
        Outcome run = std::string(c.command) == "build"
                          ? runPublish({"build", payload.string(), "--version", "1.0", "--out", out.string(), "--sign-key",
                                        c.file.string()})
                          : verifyWith(c.file);
        EXPECT_EQ(run.status, 2) << run.out << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out));
    }
}
