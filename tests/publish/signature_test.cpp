// orvan-publish build --sign-key and verify --key on trees on disk: the signature beside the
// manifest, read back by openssl, and every way it can be missing, broken or from another key.
#include "publish_test_util.h"

#include <gtest/gtest.h>

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
        EXPECT_NE(run.out.find(", Signatur gueltig."), std::string::npos) << run.out;
    }
};

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
