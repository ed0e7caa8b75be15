// orvan-publish verify against a tree served by nginx over TLS on loopback, with a certificate
// made for the test.
#include "publish_test_util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int freePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool accepts(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

struct Server {
    TempDir dir;
    fs::path root = dir.path / "www";
    fs::path certificate = dir.path / "cert.pem";
    int port = 0;
    pid_t pid = -1;
    std::string error;
};

Server* server = nullptr;

bool startServer(Server& s)
{
    Outcome cert = runShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost"
                        " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout " +
                        shellQuote((s.dir.path / "key.pem").string()) + " -out " + shellQuote(s.certificate.string()));
    if (cert.status != 0) {
        s.error = "openssl: " + cert.err;
        return false;
    }
    s.port = freePort();
    fs::path d = s.dir.path;
    std::string conf =
        "daemon off;\nmaster_process off;\npid " + (d / "nginx.pid").string() + ";\n"
        "error_log " + (d / "error.log").string() + ";\n"
        "events {}\n"
        "http {\n"
        "  access_log off;\n"
        "  client_body_temp_path " + (d / "tmp").string() + ";\n"
        "  proxy_temp_path " + (d / "tmp").string() + ";\n"
        "  fastcgi_temp_path " + (d / "tmp").string() + ";\n"
        "  uwsgi_temp_path " + (d / "tmp").string() + ";\n"
        "  scgi_temp_path " + (d / "tmp").string() + ";\n"
        "  types { application/json json; }\n"
        "  default_type application/octet-stream;\n"
        "  server {\n"
        "    listen 127.0.0.1:" + std::to_string(s.port) + " ssl;\n"
        "    ssl_certificate " + s.certificate.string() + ";\n"
        "    ssl_certificate_key " + (d / "key.pem").string() + ";\n"
        "    ssl_protocols TLSv1.2 TLSv1.3;\n"
        "    root " + s.root.string() + ";\n"
        "    location /kaputt/ { return 500; }\n"
        "  }\n"
        "}\n";
    writeFile(d / "nginx.conf", conf);
    fs::create_directories(d / "tmp");
    fs::create_directories(s.root);
    const char* binary = fs::exists("/usr/sbin/nginx") ? "/usr/sbin/nginx" : "nginx";
    s.pid = ::fork();
    if (s.pid == 0) {
        std::string prefix = d.string() + "/";
        std::string config = (d / "nginx.conf").string();
        std::string log = (d / "error.log").string();
        ::execlp(binary, "nginx", "-p", prefix.c_str(), "-c", config.c_str(), "-e", log.c_str(), nullptr);
        ::_exit(127);
    }
    for (int i = 0; i < 100; ++i) {
        if (accepts(s.port))
            return true;
        int status = 0;
        if (::waitpid(s.pid, &status, WNOHANG) == s.pid) {
            s.pid = -1;
            s.error = "nginx ended: " + readFile(d / "error.log");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    s.error = "nginx does not accept connections";
    return false;
}

struct ServedFixture : ::testing::Test {
    static void SetUpTestSuite()
    {
        server = new Server;
        startServer(*server);
    }

    static void TearDownTestSuite()
    {
        if (server->pid > 0) {
            ::kill(server->pid, SIGTERM);
            ::waitpid(server->pid, nullptr, 0);
        }
        delete server;
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
