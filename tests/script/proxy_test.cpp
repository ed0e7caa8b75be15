// The installation through a proxy as Windows users have it: squid carries the HTTPS with CONNECT;
// one that asks for a login and refuses it ends the run with the script's own message. Linux pwsh
// takes the proxy from HTTPS_PROXY.
#include "script_harness.h"

#include <chrono>
#include <csignal>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// squid on loopback, as a child of the test, with its configuration and logs in a folder of its
// own. Started as root, squid works as its own user, so the folder is open to everyone.
struct Squid {
    TempDir dir;
    int port = 0;
    pid_t pid = -1;

    explicit Squid(bool loginRefused)
    {
        fs::permissions(dir.path, fs::perms::all);
        port = freeLoopbackPort();
        std::string access = "http_access allow localhost\n";
        if (loginRefused) {
            writeFile(dir.path / "refuse.sh", "#!/bin/sh\nwhile read line; do echo ERR; done\n");
            fs::permissions(dir.path / "refuse.sh", fs::perms::all);
            access = "auth_param basic program " + (dir.path / "refuse.sh").string() +
                     "\nauth_param basic children 1\nacl login proxy_auth REQUIRED\nhttp_access allow login\n";
        }
        std::string d = dir.path.string();
        writeFile(dir.path / "squid.conf", "http_port 127.0.0.1:" + std::to_string(port) + "\npid_filename " + d +
                                               "/squid.pid\ncache_log " + d + "/cache.log\naccess_log stdio:" + d +
                                               "/access.log\ncoredump_dir " + d +
                                               "\nnetdb_filename none\ncache deny all\nshutdown_lifetime 0 seconds\n" +
                                               access + "http_access deny all\n");
        std::string config = (dir.path / "squid.conf").string();
        pid = ::fork();
        if (pid == 0) {
            ::execl("/usr/sbin/squid", "squid", "-N", "-f", config.c_str(), nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 200 && !acceptsConnections(port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~Squid()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    std::string accessLog() const { return fs::exists(dir.path / "access.log") ? readFile(dir.path / "access.log") : ""; }
};

struct ProxyCase {
    const char* name;
    bool loginRefused;
};

void PrintTo(const ProxyCase& c, std::ostream* out) { *out << c.name; }

} // namespace

class ThroughProxy : public ScriptTest, public ::testing::WithParamInterface<ProxyCase> {};

TEST_P(ThroughProxy, InstallsOrTellsThatTheProxyRefused)
{
    publishDefault();
    Squid squid(GetParam().loginRefused);
    ASSERT_TRUE(acceptsConnections(squid.port)) << "squid did not start";
    Machine machine;

    ScriptRun result =
        run(machine, {}, "$env:HTTPS_PROXY = 'http://127.0.0.1:" + std::to_string(squid.port) + "'");

    std::string tunnel = "CONNECT " + serverHost() + ":" + std::to_string(port());
    if (GetParam().loginRefused) {
        EXPECT_EQ(joined(result.lines),
                  joined({connectingLine(), progressLine(3),
                          errorLine("Der Proxy-Server hat die Anmeldung abgelehnt (407). Bitte die Proxy-Einstellungen "
                                    "von Windows pruefen oder den Administrator fragen.")}))
            << result.raw;
        EXPECT_NE(squid.accessLog().find("/407 "), std::string::npos) << squid.accessLog();
        EXPECT_EQ(accessLog(), "") << "nothing reached the server";
    } else {
        EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
        EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
        EXPECT_NE(squid.accessLog().find(tunnel), std::string::npos) << squid.accessLog();
    }
}

INSTANTIATE_TEST_SUITE_P(Squid, ThroughProxy,
                         ::testing::Values(ProxyCase{"Open", false}, ProxyCase{"LoginRefused", true}),
                         [](const auto& info) { return std::string(info.param.name); });
