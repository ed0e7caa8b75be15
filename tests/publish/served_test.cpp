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
        startHttpsServer(*server, serverDir->path);
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
