// Any config.ini loads without faults, and a value set afterwards (anything but a zero byte) reads
// back unchanged after a save and a fresh load, whatever else the file held. The input is the
// file, then a zero byte, then the value.
#include <fstream>

#include "FuzzTarget.h"
#include "IniFile.h"

using namespace lumivale;
using lumivale::fuzz::FuzzCheck;

LUMIVALE_FUZZ_TARGET(Ini) {
    const std::string input = fuzz::AsText(data, size);
    const std::size_t split = input.find('\0');
    const auto file = fuzz::ScratchFolder() / "config.ini";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << input.substr(0, split);
    IniFile ini;
    (void)ini.Load(file);
    (void)ini.GetInt("launcher", "port", 25565);
    (void)ini.GetText("launcher", "java", "auto");
    if (split == std::string::npos) return 0;
    const std::string value = input.substr(split + 1);
    if (value.find('\0') != std::string::npos) return 0;  // page values never carry one

    ini.Set("launcher", "value", value);
    FuzzCheck(ini.Save(file), "the file is written");
    IniFile again;
    FuzzCheck(again.Load(file), "the written file loads");
    FuzzCheck(again.Get("launcher", "value") == value, "the value reads back");
    return 0;
}
