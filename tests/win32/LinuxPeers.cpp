// Plays the remote hosts for the Windows build's WinHTTP tests: loopback HTTP and HTTPS peers named in the
// environment (LUMIVALE_PEER_HTTP, _HTTPS, _CA, _OTHER_CA: a certificate nobody the peer knows), then runs the
// command it was given (the Windows test program under Wine) and exits with its exit code.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TempHome.h"
#include "TestHttpServer.h"

using namespace lumivale::test;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    TempHome home;
    const TestCertificate certificate = TestCertificate::Create(home.root() / "peer");
    const TestCertificate other = TestCertificate::Create(home.root() / "other");
    TestHttpServer http;
    TestHttpServer https(certificate);
    https.Serve("/hello", TestReply::Ok("hello over tls"));
    http.Serve("/hello", TestReply::Ok("hello"));
    http.Handle("/echo", [](const TestRequest& request) {
        return TestReply::Ok(request.method + "|" + request.Header("X-Test") + "|" + request.Header("User-Agent") + "|" +
                             request.body);
    });
    http.Serve("/redirect", TestReply::Redirect(302, "/hello"));
    http.Serve("/status", TestReply::Status(503, "busy"));
    std::string pattern(1 << 20, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i % 251);
    http.Serve("/pattern", TestReply::Ok(pattern));
    TestReply silent = TestReply::Ok("late");
    silent.delay = std::chrono::seconds(5);
    http.Serve("/silent", silent);
    TestReply cut = TestReply::Ok(std::string(20000, 'c'));
    cut.cutAfter = 10000;
    http.Serve("/cut", cut);
    http.Handle("/https-log", [&https](const TestRequest&) {
        std::string paths;
        for (const std::string& path : https.RequestedPaths()) paths += path + "\n";
        return TestReply::Ok(paths);
    });

    setenv("LUMIVALE_PEER_HTTP", http.base().c_str(), 1);
    setenv("LUMIVALE_PEER_HTTPS", https.base().c_str(), 1);
    setenv("LUMIVALE_PEER_CA", certificate.certificateFile.c_str(), 1);
    setenv("LUMIVALE_PEER_OTHER_CA", other.certificateFile.c_str(), 1);
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        std::perror("exec");
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
