#include "FakeInstaller.h"

#include "TempHome.h"
#include "TestJava.h"

namespace lumivale::test {

namespace {

constexpr const char* kSource = R"(import java.nio.file.*;
public class Installer {
    public static void main(String[] args) throws Exception {
        java.util.Properties p = new java.util.Properties();
        p.load(Installer.class.getResourceAsStream("/fake.properties"));
        String id = p.getProperty("id"), parent = p.getProperty("parent");
        if (id.equals("fail")) {
            for (int i = 0; i < 40; i++) System.out.println("installer line " + i);
            System.exit(1);
        }
        Path game = Paths.get(args[1]);
        if (!args[0].equals("--installClient") || !Files.exists(game.resolve("launcher_profiles.json"))
            || !Files.exists(game.resolve("versions/" + parent + "/" + parent + ".json"))) System.exit(2);
        Path target = game.resolve("versions/" + id + "/" + id + ".json");
        Files.createDirectories(target.getParent());
        Files.copy(Installer.class.getResourceAsStream("/version.json"), target, StandardCopyOption.REPLACE_EXISTING);
        System.out.println("installed " + id);
    }
})";

}  // namespace

std::string FakeInstallerJar(const std::filesystem::path& scratch, const std::string& id, const std::string& parent,
                             const std::string& versionJson) {
    if (!std::filesystem::exists(scratch / "Installer.class")) CompileJava(scratch, {{"Installer", kSource}});
    return ZipBytes(scratch / "installer.jar",
                    {{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: Installer\r\n\r\n"},
                     {"Installer.class", ReadFile(scratch / "Installer.class")},
                     {"fake.properties", "id=" + id + "\nparent=" + parent + "\n"},
                     {"version.json", versionJson}});
}

}  // namespace lumivale::test
