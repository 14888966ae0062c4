#pragma once
// Shared by the account tests: ready-made keys (generation is slow), JSON replies, the clock, the diag log.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "KeyStore.h"
#include "TempHome.h"
#include "TestHttpServer.h"

namespace lumivale::test {

// The Base64 private blob of test key 0 or 1, generated once per process.
inline const std::string& TestKey(int which = 0) {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> out;
        for (int i = 0; i < 2; ++i) {
            KeyStore store;
            store.GenerateKey();
            out.push_back(store.ExportPrivateKeyBase64());
        }
        return out;
    }();
    return keys.at(static_cast<std::size_t>(which));
}

inline TestReply JsonReply(int status, std::string body) {
    TestReply reply = TestReply::Status(status, std::move(body));
    reply.contentType = "application/json; charset=utf-8";
    return reply;
}

inline std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// What the program wrote to log/diag.log under the test's program folder.
inline std::string DiagLogText(const TempHome& home) {
    const auto file = home.program() / "log" / "diag.log";
    return std::filesystem::exists(file) ? ReadFile(file) : std::string();
}

}  // namespace lumivale::test
