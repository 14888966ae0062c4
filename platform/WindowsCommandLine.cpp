#include "WindowsCommandLine.h"

namespace lumivale {

std::string QuoteWindowsArgument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
        return std::string(argument);
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only in front of a quote: there each one is doubled, and the quote
        // itself is escaped.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    // The closing quote follows: trailing backslashes are doubled too.
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

std::string WindowsCommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (i > 0) line += ' ';
        // The program name is read up to the next space, or between quotes, without escapes.
        if (i == 0) {
            line += argv[0].find_first_of(" \t") == std::string::npos && !argv[0].empty()
                        ? argv[0]
                        : "\"" + argv[0] + "\"";
        } else {
            line += QuoteWindowsArgument(argv[i]);
        }
    }
    return line;
}

}  // namespace lumivale
