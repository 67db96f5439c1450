// Starts the test suite's Dovecot for a shell script (the upload from the Windows build under
// Wine) and keeps it until its standard input ends, then stops it. What the script needs is
// written to ENV_FILE as shell assignments once the server answers: port, user, password_file,
// ca_file; or skip="why" when Dovecot cannot be run here.
// Usage: serve_dovecot ENV_FILE < FIFO
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "fixtures/dovecot_server.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: serve_dovecot ENV_FILE\n";
        return 2;
    }
    const std::string env_file = argv[1];
    std::string why_not;
    auto server = fixtures::DovecotServer::Installed() ? fixtures::DovecotServer::Start({}, why_not) : nullptr;
    if (!fixtures::DovecotServer::Installed()) why_not = "Dovecot (dovecot-imapd) is not installed";
    std::ofstream env(env_file + ".part");
    if (server == nullptr) {
        env << "skip='" << why_not << "'\n";
    } else {
        env << "port=" << server->imaps_port() << "\nuser=" << server->user() << "\npassword_file='"
            << server->PasswordFile() << "'\nca_file='" << server->certificate() << "'\npassword='" << server->password() << "'\n";
    }
    env.close();
    std::filesystem::rename(env_file + ".part", env_file);
    // Until the script closes its end.
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
