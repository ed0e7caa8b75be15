// nginx serving a folder over TLS on loopback, with a certificate made for the run; for tests that
// need a real HTTPS peer (orvan-publish verify, the installation script, the whole installer).
#pragma once

#include <filesystem>
#include <string>

#include <sys/types.h>

struct HttpsServer {
    std::filesystem::path dir;         // configuration, certificate, logs; the caller's folder
    std::filesystem::path root;        // served as "/"; dir/www
    std::filesystem::path certificate; // the CA file a client trusts (self-signed, CN localhost)
    int port = 0;
    pid_t pid = -1;
    std::string error;                 // why the server is not running, empty while it is
};

// Writes the configuration into dir, makes a certificate for 127.0.0.1 and localhost (once per
// dir) and starts nginx. port 0 takes a free port. extraConfig is pasted into the server block
// (locations for fault cases). Returns false with server.error set when nginx does not come up.
bool startHttpsServer(HttpsServer& server, const std::filesystem::path& dir, int port = 0,
                      const std::string& extraConfig = {});
// Stops nginx and waits for it; the port is free afterwards. The folders stay.
void stopHttpsServer(HttpsServer& server);
// A port on loopback that nothing listens on at the moment of asking.
int freeLoopbackPort();
bool acceptsConnections(int port);
