#include "CrashRules.h"

#include <algorithm>
#include <array>
#include <set>

#include <nlohmann/json.hpp>

#include "Log.h"
#include "Resources.h"

namespace lumivale {

namespace {

using nlohmann::json;

constexpr std::array<std::string_view, 4> kLogKindNames{"crash", "hs_err", "latest", "output"};
constexpr std::array<std::string_view, 3> kConfidenceNames{"high", "medium", "low"};

// A thrown message ends the parse; the reader turns it into the error text.
struct RuleError {
    std::string text;
};

const json& Member(const json& object, const char* key, const std::string& where) {
    const auto found = object.find(key);
    if (found == object.end()) throw RuleError{where + ": \"" + key + "\" is missing"};
    return *found;
}

std::string Text(const json& object, const char* key, const std::string& where, bool required = true) {
    const auto found = object.find(key);
    if (found == object.end() && !required) return {};
    const json& value = Member(object, key, where);
    if (!value.is_string() || (required && value.get_ref<const std::string&>().empty())) {
        throw RuleError{where + ": \"" + key + "\" must be a non-empty text"};
    }
    return value.get<std::string>();
}

const json& ArrayOrEmpty(const json& object, const char* key, const std::string& where) {
    static const json kEmpty = json::array();
    const auto found = object.find(key);
    if (found == object.end()) return kEmpty;
    if (!found->is_array()) throw RuleError{where + ": \"" + key + "\" must be a list"};
    return *found;
}

CrashPattern ReadPattern(const json& item, const std::string& where) {
    if (!item.is_object()) throw RuleError{where + ": a pattern must be an object"};
    CrashPattern pattern;
    pattern.find = Text(item, "find", where);
    const std::string regex = Text(item, "regex", where, false);
    if (!regex.empty()) {
        try {
            pattern.regex.emplace(regex, std::regex::ECMAScript | std::regex::optimize);
        } catch (const std::regex_error& failure) {
            throw RuleError{where + ": the regex " + regex + " does not compile (" + failure.what() + ")"};
        }
    }
    const unsigned groupCount = pattern.regex ? pattern.regex->mark_count() : 0;
    if (const auto groups = item.find("groups"); groups != item.end()) {
        if (!groups->is_object()) throw RuleError{where + ": \"groups\" must be an object"};
        for (const auto& [name, number] : groups->items()) {
            if (!number.is_number_integer() || number.get<int>() < 1 || number.get<unsigned>() > groupCount) {
                throw RuleError{where + ": group \"" + name + "\" is not a group of its regex"};
            }
            pattern.groups.emplace_back(name, number.get<int>());
        }
    }
    if (const auto near = item.find("near"); near != item.end()) {
        if (!near->is_number_integer() || near->get<int>() < 0) throw RuleError{where + ": \"near\" must be a count"};
        pattern.near = near->get<int>();
    }
    return pattern;
}

std::vector<CrashPattern> ReadPatterns(const json& list, const std::string& where) {
    std::vector<CrashPattern> patterns;
    for (const json& item : list) patterns.push_back(ReadPattern(item, where));
    return patterns;
}

// Each name a template uses: the parts of {a|b} and the name of {java:a}.
std::vector<std::string> TemplateNames(std::string_view text) {
    std::vector<std::string> names;
    for (std::size_t open = text.find('{'); open != std::string_view::npos; open = text.find('{', open + 1)) {
        const std::size_t close = text.find('}', open);
        if (close == std::string_view::npos) break;
        std::string_view inside = text.substr(open + 1, close - open - 1);
        if (inside.starts_with("java:")) inside.remove_prefix(5);
        for (std::size_t start = 0;;) {
            const std::size_t bar = inside.find('|', start);
            names.emplace_back(inside.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
            if (bar == std::string_view::npos) break;
            start = bar + 1;
        }
    }
    return names;
}

CrashRule ReadRule(const json& item, std::size_t index) {
    std::string where = "rule " + std::to_string(index + 1);
    if (!item.is_object()) throw RuleError{where + " must be an object"};
    CrashRule rule;
    rule.id = Text(item, "id", where);
    where += " (" + rule.id + ")";
    for (const json& file : ArrayOrEmpty(item, "files", where)) {
        const auto name = std::find(kLogKindNames.begin(), kLogKindNames.end(), file.is_string() ? file.get<std::string>() : "");
        if (name == kLogKindNames.end()) throw RuleError{where + ": unknown file " + file.dump()};
        rule.files = static_cast<std::uint8_t>(rule.files | (1U << (name - kLogKindNames.begin())));
    }
    if (rule.files == 0) throw RuleError{where + ": \"files\" names no file"};
    const std::string confidence = Text(item, "confidence", where);
    const auto level = std::find(kConfidenceNames.begin(), kConfidenceNames.end(), confidence);
    if (level == kConfidenceNames.end()) throw RuleError{where + ": unknown confidence " + confidence};
    rule.confidence = static_cast<CrashConfidence>(level - kConfidenceNames.begin());
    rule.title = Text(item, "title", where);
    rule.advice = Text(item, "advice", where);
    rule.mod = Text(item, "mod", where, false);
    rule.fallback = item.value("fallback", false);
    for (const json& id : ArrayOrEmpty(item, "droppedBy", where)) {
        if (!id.is_string()) throw RuleError{where + ": \"droppedBy\" must list rule ids"};
        rule.droppedBy.push_back(id.get<std::string>());
    }
    rule.when = ReadPatterns(ArrayOrEmpty(item, "when", where), where);
    rule.allOf = ReadPatterns(ArrayOrEmpty(item, "allOf", where), where);
    rule.extract = ReadPatterns(ArrayOrEmpty(item, "extract", where), where);
    if (rule.when.empty() == rule.allOf.empty()) {
        throw RuleError{where + ": needs either \"when\" or \"allOf\""};
    }

    std::set<std::string> captured;
    for (const auto* list : {&rule.when, &rule.allOf, &rule.extract}) {
        for (const CrashPattern& pattern : *list) {
            for (const auto& group : pattern.groups) captured.insert(group.first);
        }
    }
    for (const std::string* text : {&rule.title, &rule.advice, &rule.mod}) {
        for (const std::string& name : TemplateNames(*text)) {
            if (!captured.contains(name)) throw RuleError{where + ": the template names {" + name + "}, which nothing captures"};
        }
    }
    return rule;
}

std::optional<std::string> Lookup(std::string_view placeholder, const std::map<std::string, std::string>& values) {
    const bool java = placeholder.starts_with("java:");
    if (java) placeholder.remove_prefix(5);
    for (std::size_t start = 0;;) {
        const std::size_t bar = placeholder.find('|', start);
        const std::string name(placeholder.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (const auto found = values.find(name); found != values.end() && !found->second.empty()) {
            if (!java) return found->second;
            if (std::string release = JavaReleaseOfClassVersion(found->second); !release.empty()) return release;
        }
        if (bar == std::string_view::npos) return std::nullopt;
        start = bar + 1;
    }
}

// Renders a stretch without [[ ]]; `missing` is set when a value was not there.
std::string RenderPlain(std::string_view text, const std::map<std::string, std::string>& values, bool& missing) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('{', at);
        const std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
        if (close == std::string_view::npos) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, open - at));
        if (const auto value = Lookup(text.substr(open + 1, close - open - 1), values)) {
            out += *value;
        } else {
            missing = true;
        }
        at = close + 1;
    }
    return out;
}

}  // namespace

std::string_view CrashLogKindName(CrashLogKind kind) { return kLogKindNames.at(static_cast<std::size_t>(kind)); }

std::string_view CrashConfidenceName(CrashConfidence confidence) {
    return kConfidenceNames.at(static_cast<std::size_t>(confidence));
}

std::optional<CrashRules> ParseCrashRules(std::string_view text, std::string& error) {
    const json document = json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        error = "the crash rules are not a JSON object";
        return std::nullopt;
    }
    try {
        CrashRules rules;
        for (const json& failure : ArrayOrEmpty(document, "startFailures", "startFailures")) {
            if (!failure.is_string() || failure.get_ref<const std::string&>().empty()) {
                throw RuleError{"startFailures must list non-empty texts"};
            }
            rules.startFailures.push_back(failure.get<std::string>());
        }
        rules.modHints = ReadPatterns(ArrayOrEmpty(document, "modHints", "modHints"), "modHints");
        for (const CrashPattern& hint : rules.modHints) {
            if (std::none_of(hint.groups.begin(), hint.groups.end(), [](const auto& g) { return g.first == "mod"; })) {
                throw RuleError{"modHints: a hint without a \"mod\" group"};
            }
        }
        const json& list = Member(document, "rules", "the crash rules");
        if (!list.is_array()) throw RuleError{"\"rules\" must be a list"};
        std::set<std::string> ids;
        for (std::size_t i = 0; i < list.size(); ++i) {
            rules.rules.push_back(ReadRule(list[i], i));
            if (!ids.insert(rules.rules.back().id).second) throw RuleError{"the id " + rules.rules.back().id + " is used twice"};
        }
        for (const CrashRule& rule : rules.rules) {
            for (const std::string& id : rule.droppedBy) {
                if (!ids.contains(id)) throw RuleError{rule.id + ": \"droppedBy\" names the unknown rule " + id};
            }
        }
        return rules;
    } catch (const RuleError& failure) {
        error = failure.text;
    } catch (const json::exception& failure) {
        error = failure.what();
    }
    return std::nullopt;
}

const CrashRules& BuiltInCrashRules() {
    static const CrashRules rules = [] {
        const auto bytes = GetResource(IDR_CRASH_RULES);
        std::string error;
        auto parsed = ParseCrashRules(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error);
        if (!parsed) {
            ConsoleLog("内置的崩溃分析规则无法读取：" + error);
            return CrashRules{};
        }
        return std::move(*parsed);
    }();
    return rules;
}

std::string RenderCrashTemplate(std::string_view text, const std::map<std::string, std::string>& values) {
    std::string out;
    bool ignored = false;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find("[[", at);
        const std::size_t close = open == std::string_view::npos ? open : text.find("]]", open + 2);
        if (close == std::string_view::npos) {
            out += RenderPlain(text.substr(at), values, ignored);
            break;
        }
        out += RenderPlain(text.substr(at, open - at), values, ignored);
        bool missing = false;
        const std::string section = RenderPlain(text.substr(open + 2, close - open - 2), values, missing);
        if (!missing) out += section;
        at = close + 2;
    }
    return out;
}

std::string JavaReleaseOfClassVersion(std::string_view classVersion) {
    int version = 0;
    for (const char c : classVersion) {
        if (c < '0' || c > '9' || version > 1000) return {};
        version = version * 10 + (c - '0');
    }
    // Class file 45 is Java 1.1; releases count from 49 = Java 5 on as version − 44.
    if (classVersion.empty() || version < 49) return {};
    return std::to_string(version - 44);
}

}  // namespace lumivale
