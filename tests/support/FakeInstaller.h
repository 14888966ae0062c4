#pragma once
// A Forge-style installer jar, made of a small Java program compiled here: run as
// "java -jar installer.jar --installClient <game folder>" it checks what the real installers need
// (launcher_profiles.json, the vanilla version JSON) and writes versions/<id>/<id>.json; with
// id "fail" in its properties it prints a long log and exits with 1.
#include <filesystem>
#include <string>

namespace lumivale::test {

// The installer's bytes: it writes `versionJson` (which names `id`) as the version `id` that
// inherits from `parent`. `scratch` is a folder for the compiled class and the jar.
std::string FakeInstallerJar(const std::filesystem::path& scratch, const std::string& id, const std::string& parent,
                             const std::string& versionJson);

}  // namespace lumivale::test
