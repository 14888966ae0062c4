#pragma once
// The crash rules: which lines in which of the game's logs point at which cause, with the texts
// the player reads. They live in one data file (crash-rules.json beside this header) compiled
// into the program; adding a cause is one entry there.
//
// The file: {"startFailures": [text…], "modHints": [pattern…], "rules": [rule…]}.
// - startFailures: texts that, in the captured output, mean the game never got to run (the JVM
//   refused to start, or the main class could not be loaded).
// - modHints: patterns whose "mod" group names a mod in a stack (the crash report first).
// - a rule: "id", "files" (of "output", "latest", "crash", "hs_err"), "confidence" ("high",
//   "medium", "low"), "title", "advice", optional "mod" (a template naming the mod), "fallback"
//   (true: dropped when any other rule fired), "droppedBy" (ids that make it go), and patterns:
//   "when" (any one fires the rule), "allOf" (all must match somewhere in one log), "extract"
//   (fill names once the rule fired: the first match from the firing line on, within "near"
//   lines when given, else the last match before it).
// - a pattern: "find" (a plain text the line must contain), optional "regex" (ECMAScript, run
//   only on lines holding the text), optional "groups" {"name": group number}.
// Templates: {name} is a captured value, {a|b} the first of them that has one, {java:name} a
// class file version turned into its Java release (65 gives 21); [[…]] is left out when a value
// inside it is missing.
#include <cstdint>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumivale {

// The logs a crash leaves, in the order they are read.
enum class CrashLogKind : std::uint8_t { CrashReport, HsErr, Latest, Output };

std::string_view CrashLogKindName(CrashLogKind kind);

enum class CrashConfidence : std::uint8_t { High, Medium, Low };

std::string_view CrashConfidenceName(CrashConfidence confidence);

struct CrashPattern {
    std::string find;
    std::optional<std::regex> regex;
    std::vector<std::pair<std::string, int>> groups;  // name, group number
    int near = 0;                                      // extract patterns only; 0: anywhere
};

struct CrashRule {
    std::string id;
    std::uint8_t files = 0;  // bit (1 << CrashLogKind)
    CrashConfidence confidence = CrashConfidence::Medium;
    std::string title;
    std::string advice;
    std::string mod;
    bool fallback = false;
    std::vector<std::string> droppedBy;
    std::vector<CrashPattern> when;
    std::vector<CrashPattern> allOf;
    std::vector<CrashPattern> extract;

    bool Reads(CrashLogKind kind) const { return (files >> static_cast<int>(kind)) & 1U; }
};

struct CrashRules {
    std::vector<std::string> startFailures;
    std::vector<CrashPattern> modHints;
    std::vector<CrashRule> rules;  // in file order, which breaks ties of confidence
};

// Reads a rules file. Nothing, with `error` saying what and where, when it is not valid JSON,
// misses a member, repeats an id, names an unknown file, confidence or rule, has a pattern
// without its text, a regex that does not compile or a group it does not have, or a template
// that names a value no pattern of its rule captures.
std::optional<CrashRules> ParseCrashRules(std::string_view json, std::string& error);

// The rules compiled into the program, read once; empty (and said on the console) should they
// not parse.
const CrashRules& BuiltInCrashRules();

// Fills a template (see above) with the captured values; an empty value counts as missing.
std::string RenderCrashTemplate(std::string_view text, const std::map<std::string, std::string>& values);

// A value that is a class file version ("65") as its Java release ("21"); empty otherwise.
std::string JavaReleaseOfClassVersion(std::string_view classVersion);

}  // namespace lumivale
