#pragma once
// The one command-line text a Windows program receives: arguments joined so that the C runtime's
// parser (the CommandLineToArgvW rules) splits them back into exactly the same list. Plain text
// work, compiled and tested on every system; the Windows process code uses it.
#include <string>
#include <string_view>
#include <vector>

namespace lumivale {

// One argument as it must appear: unchanged when it is not empty and has no space, tab, line
// break or quote; otherwise in quotes, with backslashes doubled where they precede a quote.
std::string QuoteWindowsArgument(std::string_view argument);

// argv[0] (a program path, which holds no quotes) and the arguments, separated by spaces.
std::string WindowsCommandLine(const std::vector<std::string>& argv);

}  // namespace lumivale
