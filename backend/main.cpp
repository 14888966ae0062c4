// lumivale-backend: the launcher's reference backend.
//
// DB is the path of an SQLite file, or a PostgreSQL address "postgresql://user@host/database".
//   lumivale-backend --db DB [--bind ADDRESS] [--port N]           serve (default 127.0.0.1:8080)
//   lumivale-backend --db DB add-java NAME URL [SHA256 [SIZE]]   add or replace a Java package
//   lumivale-backend --db DB add-mod PROJECT FILE NAME URL [TYPE] add or replace a mod file
//   lumivale-backend --db DB set-curseforge-key KEY              the key handed out to launchers
//   lumivale-backend --db DB set-static-token TOKEN              the token that unlocks that key
#include <csignal>
#include <charconv>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "BackendServer.h"

namespace {

using lumivale::backend::BackendServer;
using lumivale::backend::BackendStore;

BackendServer* g_server = nullptr;

void OnSignal(int) {
    if (g_server) g_server->RequestStop();
}

int Usage() {
    std::cerr << "usage (DB: an SQLite file or postgresql://user@host/database):\n"
                 "  lumivale-backend --db DB [--bind ADDRESS] [--port N]\n"
                 "  lumivale-backend --db DB add-java NAME URL [SHA256 [SIZE]]\n"
                 "  lumivale-backend --db DB add-mod PROJECT FILE NAME URL [TYPE]\n"
                 "  lumivale-backend --db DB set-curseforge-key KEY\n"
                 "  lumivale-backend --db DB set-static-token TOKEN\n";
    return 2;
}

std::optional<long long> Number(const std::string& text, long long low, long long high) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || value < low || value > high)
        return std::nullopt;
    return value;
}

int Command(BackendStore& store, const std::vector<std::string>& words) {
    const std::string& command = words[0];
    const std::size_t count = words.size() - 1;
    if (command == "add-java" && count >= 2 && count <= 4) {
        lumivale::backend::JavaEntry entry{words[1], words[2], count >= 3 ? words[3] : "", 0};
        if (count == 4) {
            const auto size = Number(words[4], 0, (1LL << 62));
            if (!size) return Usage();
            entry.size = *size;
        }
        store.AddJava(entry);
        std::cout << "Java package " << entry.name << " saved\n";
        return 0;
    }
    if (command == "add-mod" && (count == 4 || count == 5)) {
        store.AddMod({words[1], words[2], words[3], count == 5 ? words[5] : "mod", words[4]});
        std::cout << "Mod file " << words[1] << ":" << words[2] << " saved\n";
        return 0;
    }
    if (command == "set-curseforge-key" && count == 1) {
        store.SetSetting("curseforge_key", words[1]);
        std::cout << "CurseForge key saved\n";
        return 0;
    }
    if (command == "set-static-token" && count == 1 && !words[1].empty()) {
        store.SetSetting("static_token", words[1]);
        std::cout << "Static token saved\n";
        return 0;
    }
    return Usage();
}

}  // namespace

int main(int argc, char** argv) {
    std::string db;
    std::string bind = "127.0.0.1";
    int port = 8080;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--db" || arg == "--bind" || arg == "--port") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--db") {
                db = value;
            } else if (arg == "--bind") {
                bind = value;
            } else {
                const auto number = Number(value, 1, 65535);
                if (!number) return Usage();
                port = static_cast<int>(*number);
            }
        } else if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-' && words.empty()) {
            return Usage();
        } else {
            words.push_back(arg);
        }
    }
    if (db.empty()) return Usage();

    try {
        if (!words.empty()) {
            BackendStore store(db, 1);
            return Command(store, words);
        }
        BackendServer server(db);
        g_server = &server;
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
        std::cout << "lumivale-backend listening on " << bind << ":" << port << std::endl;
        if (!server.Run(bind, port)) {
            g_server = nullptr;
            std::cerr << "cannot listen on " << bind << ":" << port << "\n";
            return 1;
        }
        g_server = nullptr;
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "lumivale-backend: " << error.what() << "\n";
        return 1;
    }
}
