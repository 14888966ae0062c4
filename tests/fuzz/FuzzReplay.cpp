// The replay program: `lumivale_fuzz_replay <target> <corpus folder>` runs every kept input of one
// target once. A broken property or a crash ends the program; an empty or missing corpus fails too,
// so a renamed folder cannot make the test pass without running anything.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "FuzzTarget.h"

namespace lumivale::fuzz {

std::map<std::string, Target>& Targets() {
    static std::map<std::string, Target> targets;
    return targets;
}

bool RegisterTarget(const char* name, Target target) {
    Targets()[name] = target;
    return true;
}

}  // namespace lumivale::fuzz

int main(int argc, char** argv) {
    using namespace lumivale::fuzz;
    if (argc != 3 || !Targets().count(argv[1])) {
        std::cerr << "usage: lumivale_fuzz_replay <target> <corpus folder>; targets:";
        for (const auto& [name, target] : Targets()) std::cerr << ' ' << name;
        std::cerr << '\n';
        return 2;
    }
    const Target target = Targets()[argv[1]];
    std::error_code error;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[2], error)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++count;
    }
    std::cout << argv[1] << ": " << count << " inputs replayed\n";
    return count > 0 ? 0 : 1;
}
