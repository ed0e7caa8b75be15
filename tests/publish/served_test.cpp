// orvan-publish verify against a tree served by nginx over TLS on loopback, with a certificate
// made for the test.
#include "publish_test_util.h"
#include "https_server.h"

#include <gtest/gtest.h>

namespace {

HttpsServer* server = nullptr;
TempDir* serverDir = nullptr;

struct ServedFixture : ::testing::Test {
    static void SetUpTestSuite()
    {
        serverDir = new TempDir;
        server = new HttpsServer;
        // Plain http on a second port, and /nach-http/ redirecting there.
        std::string http = "127.0.0.1:" + std::to_string(freeLoopbackPort());
        startHttpsServer(*server, serverDir->path, 0,
                         "    listen " + http + ";\n    location ~ ^/nach-http(/.*)$ { return 302 http://" + http +
                             "$1$is_args$args; }\n");
    }

    static void TearDownTestSuite()
    {
        stopHttpsServer(*server);
        delete server;
        delete serverDir;
        server = nullptr;
    }

    TempDir dir;
    fs::path payload = dir.path / "nutzlast";
    fs::path tree;
    std::string base;

    void SetUp() override
    {
        ASSERT_TRUE(server->error.empty()) << server->error;
        tree = server->root;
        fs::remove_all(tree);
        makePayload(payload);
        buildTree(payload, tree, "1.2.3", "32K");
        fs::permissions(tree, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
        base = "https://127.0.0.1:" + std::to_string(server->port) + "/games/";
    }

    Outcome verifyServed(const std::string& environment = "SSL_CERT_FILE=")
    {
        return runPublish({"verify", base, "--ca-file", server->certificate.string()}, environment);
    }
};

} // namespace

TEST_F(ServedFixture, ServedTreeIsClean)
{
    Outcome run = verifyServed();
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("In Ordnung: Version 1.2.3"), std::string::npos) << run.out;

    // Trust through SSL_CERT_FILE, as the installer's tests give it.
    run = runPublish({"verify", base}, "SSL_CERT_FILE=" + shellQuote(server->certificate.string()));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
}

TEST_F(ServedFixture, AnUntrustedCertificateIsAProblem)
{
    Outcome run = runPublish({"verify", base}, "SSL_CERT_FILE=/dev/null");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(saysProblem(run, "Der Katalog \"" + base + "katalog.json\" ist nicht abrufbar")) << run.out;
}

TEST_F(ServedFixture, HttpErrorsAreNamed)
{
    fs::path second = partPaths(tree)[1];
    fs::remove(second);
    Outcome run = verifyServed();
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(saysProblem(run, "Teil 2 (" + second.filename().string() + "): der Server antwortet mit HTTP-Status 404"))
        << run.out;

    writeFile(catalogPath(tree), R"({"launcher":{"update":"/kaputt/update.json"}})");
    run = verifyServed();
    EXPECT_TRUE(saysProblem(run, "antwortet mit HTTP-Status 500")) << run.out;
}

TEST_F(ServedFixture, UpdateUrlOverPlainHttpIsRefused)
{
    writeFile(catalogPath(tree), "{\"launcher\":{\"update\":\"http://127.0.0.1:" + std::to_string(server->port) +
                                     "/games/launcher/update.json\"}}");
    Outcome run = verifyServed();
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(saysProblem(run, "ist keine https-Adresse")) << run.out;
}

TEST_F(ServedFixture, ManifestRedirectedToPlainHttpIsNamed)
{
    writeFile(catalogPath(tree), "{\"launcher\":{\"update\":\"/nach-http/games/launcher/update.json\"}}");
    Outcome run = verifyServed();
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(saysProblem(run, "Das Manifest \"https://127.0.0.1:" + std::to_string(server->port) +
                                     "/nach-http/games/launcher/update.json\" wird auf \"http://127.0.0.1:"))
        << run.out;
    EXPECT_TRUE(saysProblem(run, "umgeleitet, eine Adresse ohne https")) << run.out;
}

TEST_F(ServedFixture, WithoutKeyVerifySaysWhetherASignatureLiesBesideTheManifest)
{
    Outcome run = verifyServed();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Hinweis: Neben dem Manifest liegt keine Signatur \"" + base +
                           "launcher/update.json.sig\": ein Installer, der mit Schluessel gebaut ist, laedt diese Version nicht"),
              std::string::npos)
        << run.out;

    TempDir keys;
    KeyPair key = makeKeyPair(keys.path, "release");
    fs::remove_all(tree);
    buildTree(payload, tree, "1.2.3", "32K", key.privateKey);
    run = verifyServed();
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Hinweis: Neben dem Manifest liegt eine Signatur \"" + base + "launcher/update.json.sig\""),
              std::string::npos)
        << run.out;
}

TEST_F(ServedFixture, SignatureIsFetchedBesideTheManifest)
{
    TempDir keys;
    KeyPair key = makeKeyPair(keys.path, "release");
    fs::remove_all(tree);
    buildTree(payload, tree, "1.2.3", "32K", key.privateKey);
    Outcome run = runPublish({"verify", base, "--ca-file", server->certificate.string(), "--key", key.publicKey.string()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Signatur gueltig"), std::string::npos) << run.out;

    fs::remove(signaturePath(tree));
    run = runPublish({"verify", base, "--ca-file", server->certificate.string(), "--key", key.publicKey.string()});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(saysProblem(run, "Die Signatur des Manifests \"" + base + "launcher/update.json.sig\" antwortet mit HTTP-Status 404"))
        << run.out;
}

TEST_F(ServedFixture, PartsOnASecondHostName)
{
    nlohmann::json manifest = readJson(manifestPath(tree));
    std::string other = "https://localhost:" + std::to_string(server->port) + "/games/launcher/";
    for (auto& part : manifest["paket"]["teile"])
        part["url"] = other + part["url"].get<std::string>();
    writeJson(manifestPath(tree), manifest);
    Outcome run = verifyServed();
    EXPECT_EQ(run.status, 0) << run.out;
    // On disk the same tree cannot show those parts.
    run = verify(tree, {"--base", base});
    EXPECT_TRUE(saysProblem(run, "nicht pruefbar")) << run.out;
}

// The same tree behind nginx told to send caching headers: the documented release settings, and
// settings that would let caches keep catalog, manifest or signature for long.
TEST(ServedCaching, DocumentsThatCachesWouldKeepAreNamed)
{
    TempDir dir;
    KeyPair key = makeKeyPair(dir.path, "release");
    makePayload(dir.path / "nutzlast");
    HttpsServer server;
    struct Case {
        const char* name;
        std::string nginx;
        std::vector<std::string> problems; // none: clean
        const char* partCaching = nullptr; // the Cache-Control a part must come with, when given
    };
    const std::string longCache = R"(location /games/ { add_header Cache-Control "public, max-age=86400"; })";
    const Case cases[] = {
        {"the documented release settings", "include " ORVAN_NGINX_RELEASE_CONF ";", {},
         "Cache-Control: public, max-age=31536000, immutable"},
        {"no caching headers at all", "", {}},
        {"a short max-age on the manifest", R"(location = /games/launcher/update.json { add_header Cache-Control "max-age=60"; })", {}},
        {"a day for everything", longCache,
         {"Der Katalog wird mit \"Cache-Control: public, max-age=86400\" ausgeliefert: Caches behalten es bis zu 86400 Sekunden",
          "Das Manifest wird mit \"Cache-Control: public, max-age=86400\"",
          "Die Signatur des Manifests wird mit \"Cache-Control: public, max-age=86400\""}},
        {"an immutable manifest", R"(location = /games/launcher/update.json { add_header Cache-Control "max-age=60, immutable"; })",
         {"Das Manifest wird mit \"Cache-Control: max-age=60, immutable\" ausgeliefert: mit immutable"}},
        {"a catalog that expires in 30 days", "location = /games/katalog.json { expires 30d; }",
         {"Der Katalog wird mit \"Cache-Control: max-age=2592000\""}},
        {"a manifest that expires in 2100", R"(location = /games/launcher/update.json { add_header Expires "Fri, 01 Jan 2100 00:00:00 GMT"; })",
         {"Das Manifest wird mit \"Expires: Fri, 01 Jan 2100 00:00:00 GMT\" ausgeliefert"}},
        {"a signature kept for an hour", R"(location = /games/launcher/update.json.sig { add_header Cache-Control "max-age=3600"; })",
         {"Die Signatur des Manifests wird mit \"Cache-Control: max-age=3600\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(startHttpsServer(server, dir.path / "server", 0, "    " + c.nginx + "\n")) << server.error;
        fs::remove_all(server.root);
        buildTree(dir.path / "nutzlast", server.root, "1.2.3", "32K", key.privateKey);
        std::string base = "https://127.0.0.1:" + std::to_string(server.port) + "/games/";
        Outcome run = runPublish({"verify", base, "--ca-file", server.certificate.string(), "--key", key.publicKey.string()});
        if (c.partCaching) {
            std::string part = base + "launcher/" + partPaths(server.root)[0].filename().string();
            Outcome head = runShell("curl -sSI --cacert " + shellQuote(server.certificate.string()) + " " + shellQuote(part));
            EXPECT_NE(head.out.find(std::string(c.partCaching) + "\r\n"), std::string::npos) << head.out << head.err;
        }
        stopHttpsServer(server);
        if (c.problems.empty()) {
            EXPECT_EQ(run.status, 0) << run.out << run.err;
            EXPECT_NE(run.out.find("Signatur gueltig"), std::string::npos) << run.out;
        } else {
            EXPECT_EQ(run.status, 1) << run.out << run.err;
        }
        for (const std::string& problem : c.problems)
            EXPECT_TRUE(saysProblem(run, problem)) << "expected \"" << problem << "\" in:\n" << run.out;
        std::size_t count = 0;
        for (std::size_t at = run.out.find("FEHLER: "); at != std::string::npos; at = run.out.find("FEHLER: ", at + 1))
            ++count;
        EXPECT_EQ(count, c.problems.size()) << run.out;
    }
}
