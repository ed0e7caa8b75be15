// orvan-publish upload through rclone to nginx's WebDAV on loopback: what the server received, in
// which order and with which caching headers, and what the installer's server then serves.
#include "publish_test_util.h"
#include "https_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// nginx taking WebDAV uploads over plain http into the folder the https server serves, logging
// every request's method, path and Cache-Control.
struct DavServer {
    fs::path dir;
    int port = 0;
    pid_t pid = -1;

    bool start(const fs::path& folder, const fs::path& root)
    {
        dir = folder;
        fs::create_directories(dir / "tmp");
        port = freeLoopbackPort();
        std::ofstream(dir / "dav.conf", std::ios::trunc)
            << "load_module /usr/lib/nginx/modules/ngx_http_dav_ext_module.so;\n"
               "daemon off;\nmaster_process off;\npid "
            << (dir / "nginx.pid").string() << ";\nerror_log " << (dir / "error.log").string()
            << ";\nevents {}\nhttp {\n"
               "  log_format upload '$request_method $uri $http_cache_control';\n"
               "  access_log "
            << (dir / "access.log").string() << " upload;\n  client_body_temp_path " << (dir / "tmp").string()
            << ";\n  server {\n    listen 127.0.0.1:" << port << ";\n    root " << root.string()
            << ";\n    location / {\n      dav_methods PUT DELETE MKCOL COPY MOVE;\n"
               "      dav_ext_methods PROPFIND OPTIONS;\n      create_full_put_path on;\n"
               "      dav_access user:rw group:r all:r;\n    }\n  }\n}\n";
        std::string prefix = dir.string() + "/";
        std::string config = (dir / "dav.conf").string();
        std::string log = (dir / "error.log").string();
        pid = ::fork();
        if (pid == 0) {
            ::execlp("nginx", "nginx", "-p", prefix.c_str(), "-c", config.c_str(), "-e", log.c_str(), nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 200 && !acceptsConnections(port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return acceptsConnections(port);
    }

    ~DavServer()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // rclone's name of the server's /games/ folder, with no configuration file of its own.
    std::string remote() const { return ":webdav,url='http://127.0.0.1:" + std::to_string(port) + "/':games"; }

    // The requests that change something, as "METHOD path cache-control", and forgets them.
    std::vector<std::string> takeChanges()
    {
        std::vector<std::string> changes;
        std::ifstream in(dir / "access.log");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("PUT ", 0) == 0 || line.rfind("DELETE ", 0) == 0 || line.rfind("MOVE ", 0) == 0)
                changes.push_back(line);
        std::ofstream(dir / "access.log", std::ios::trunc);
        return changes;
    }
};

struct UploadFixture : ::testing::Test {
    TempDir dir;
    TempDir serverDir;
    HttpsServer https;
    DavServer dav;
    fs::path payload = dir.path / "nutzlast";

    void SetUp() override
    {
        ASSERT_TRUE(startHttpsServer(https, serverDir.path)) << https.error;
        ASSERT_TRUE(dav.start(dir.path / "dav", https.root)) << readFile(dir.path / "dav" / "error.log");
    }

    void TearDown() override { stopHttpsServer(https); }

    fs::path release(const std::string& version, const std::vector<std::string>& extra = {})
    {
        return buildVersionTree(dir.path, version, extra);
    }

    Outcome upload(const fs::path& tree)
    {
        return runPublish({"upload", tree.string(), dav.remote()}, "RCLONE_CONFIG=/dev/null");
    }

    std::string base() const { return "https://127.0.0.1:" + std::to_string(https.port) + "/games/"; }
};

std::size_t firstIndex(const std::vector<std::string>& lines, const std::string& prefix)
{
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind(prefix, 0) == 0)
            return i;
    return lines.size();
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

TEST_F(UploadFixture, PartsThenManifestThenCatalogThenDeletionsWithTheirCaching)
{
    fs::path first = release("1.0");
    fs::path second = release("1.1", {"--previous", first.string()});
    fs::path third = release("1.2", {"--previous", second.string(), "--grace-days", "0"});
    std::size_t firstParts = partPaths(first).size();

    for (const fs::path& tree : {first, second, third}) {
        SCOPED_TRACE(tree.filename().string());
        Outcome run = upload(tree);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        std::vector<std::string> changes = dav.takeChanges();
        std::size_t parts = 0, lastPart = 0;
        for (std::size_t i = 0; i < changes.size(); ++i)
            if (changes[i].rfind("PUT /games/launcher/launcher-", 0) == 0) {
                ++parts;
                lastPart = i;
                EXPECT_EQ(changes[i].substr(changes[i].find(".bin ") + 5), "public, max-age=31536000, immutable");
            }
        // Only the new version's parts travel; those already there are never sent again.
        EXPECT_EQ(parts, partPaths(tree).size()) << joined(changes);
        std::size_t manifest = firstIndex(changes, "PUT /games/launcher/update.json no-cache");
        std::size_t catalog = firstIndex(changes, "PUT /games/katalog.json no-cache");
        std::size_t firstDelete = firstIndex(changes, "DELETE ");
        EXPECT_LT(lastPart, manifest) << joined(changes);
        EXPECT_LT(manifest, catalog) << joined(changes);
        EXPECT_EQ(firstIndex(changes, "MOVE "), changes.size()) << joined(changes);
        if (tree == third) {
            EXPECT_LT(catalog, firstDelete) << joined(changes);
            EXPECT_EQ(changes.size() - firstDelete, firstParts) << joined(changes);
            EXPECT_NE(firstIndex(changes, "PUT /games/launcher/freigaben.json no-cache"), changes.size());
        } else {
            EXPECT_EQ(firstDelete, changes.size()) << joined(changes);
        }
    }
    // What players reach now: 1.2, with 1.1's parts still there and 1.0's gone.
    for (const fs::path& part : partPaths(first))
        EXPECT_FALSE(fs::exists(https.root / "games/launcher" / part.filename())) << part;
    for (const fs::path& part : partPaths(second))
        EXPECT_TRUE(fs::exists(https.root / "games/launcher" / part.filename())) << part;
    Outcome check = runPublish({"verify", base(), "--ca-file", https.certificate.string()});
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find("In Ordnung: Version 1.2"), std::string::npos) << check.out;
}

TEST_F(UploadFixture, ATreeThatDropsTheLiveReleasesPartsIsRefusedWhole)
{
    ASSERT_EQ(upload(release("1.0")).status, 0);
    dav.takeChanges();
    Outcome run = upload(release("2.0"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Auf dem Ziel ist Version \"1.0\" ausgeliefert; der Baum behaelt"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("build --previous"), std::string::npos) << run.err;
    EXPECT_TRUE(dav.takeChanges().empty());
}

TEST_F(UploadFixture, AResignedManifestAloneGoesUpAlone)
{
    TempDir keys;
    KeyPair key = makeKeyPair(keys.path, "manifest-key");
    fs::remove_all(payload);
    makePayload(payload);
    fs::path tree = dir.path / "baum";
    buildTree(payload, tree, "1.0", "64K", key.privateKey);
    ASSERT_EQ(upload(tree).status, 0);
    dav.takeChanges();

    // The weekly renewal: the manifest and its signature fetched, renewed, sent back.
    fs::path fetched = dir.path / "vom-server";
    Outcome copy = runShell("RCLONE_CONFIG=/dev/null rclone copy " + shellQuote(dav.remote()) + " " +
                            shellQuote((fetched / "games").string()) +
                            " --include /launcher/update.json --include /launcher/update.json.sig");
    ASSERT_EQ(copy.status, 0) << copy.err;
    Outcome resign = runPublish({"resign", fetched.string(), "--sign-key", key.privateKey.string(), "--valid-days", "30"});
    ASSERT_EQ(resign.status, 0) << resign.err;
    Outcome run = upload(fetched);
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> changes = dav.takeChanges();
    EXPECT_EQ(changes, (std::vector<std::string>{"PUT /games/launcher/update.json no-cache",
                                                 "PUT /games/launcher/update.json.sig no-cache"}));
    Outcome check = runPublish({"verify", base(), "--ca-file", https.certificate.string(), "--key", key.publicKey.string()});
    EXPECT_EQ(check.status, 0) << check.out;
}

} // namespace
