#include "https_server.h"

#include "tests/common/read_file.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool makeCertificate(HttpsServer& server)
{
    if (fs::exists(server.certificate) && fs::exists(server.dir / "key.pem"))
        return true;
    // A Wine session's prefix trusts one CA made for the session (scripts/lib/wine-engine.sh).
    if (const char* shared = std::getenv("ORVAN_TEST_CERT_DIR")) {
        std::error_code ec;
        fs::copy_file(fs::path(shared) / "cert.pem", server.certificate, fs::copy_options::overwrite_existing, ec);
        if (!ec)
            fs::copy_file(fs::path(shared) / "key.pem", server.dir / "key.pem", fs::copy_options::overwrite_existing, ec);
        if (ec)
            server.error = "the session's certificate in " + std::string(shared) + ": " + ec.message();
        return !ec;
    }
    std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost"
                          " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
                          (server.dir / "key.pem").string() + "' -out '" + server.certificate.string() +
                          "' >'" + (server.dir / "openssl.log").string() + "' 2>&1";
    if (std::system(command.c_str()) != 0) {
        server.error = "openssl: " + readFile(server.dir / "openssl.log");
        return false;
    }
    return true;
}

} // namespace

int freeLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool acceptsConnections(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(port);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

bool startHttpsServer(HttpsServer& server, const fs::path& dir, int port, const std::string& extraConfig)
{
    server.dir = dir;
    server.root = dir / "www";
    server.certificate = dir / "cert.pem";
    server.error.clear();
    fs::create_directories(dir / "tmp");
    fs::create_directories(server.root);
    // nginx's worker may run as another user; the served folders must be readable to it.
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    if (!makeCertificate(server))
        return false;
    server.port = port != 0 ? port : freeLoopbackPort();

    std::string conf = readFile(ORVAN_NGINX_TEMPLATE);
    replaceAll(conf, "@DIR@", dir.string());
    replaceAll(conf, "@ROOT@", server.root.string());
    replaceAll(conf, "@PORT@", std::to_string(server.port));
    replaceAll(conf, "@EXTRA@", extraConfig);
    std::ofstream(dir / "nginx.conf", std::ios::trunc) << conf;

    const char* binary = fs::exists("/usr/sbin/nginx") ? "/usr/sbin/nginx" : "nginx";
    std::string prefix = dir.string() + "/";
    std::string config = (dir / "nginx.conf").string();
    std::string log = (dir / "error.log").string();
    server.pid = ::fork();
    if (server.pid == 0) {
        ::execlp(binary, "nginx", "-p", prefix.c_str(), "-c", config.c_str(), "-e", log.c_str(), nullptr);
        ::_exit(127);
    }
    for (int i = 0; i < 200; ++i) {
        if (acceptsConnections(server.port))
            return true;
        int status = 0;
        if (::waitpid(server.pid, &status, WNOHANG) == server.pid) {
            server.pid = -1;
            server.error = "nginx ended: " + readFile(dir / "error.log");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    stopHttpsServer(server);
    server.error = "nginx does not accept connections on port " + std::to_string(server.port);
    return false;
}

void stopHttpsServer(HttpsServer& server)
{
    if (server.pid > 0) {
        ::kill(server.pid, SIGTERM);
        ::waitpid(server.pid, nullptr, 0);
    }
    server.pid = -1;
}
