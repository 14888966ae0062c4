#include "CrashAnalysis.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include <nlohmann/json.hpp>

#include "Files.h"
#include "Paths.h"

namespace lumivale {

namespace {

using Values = std::map<std::string, std::string>;
constexpr std::size_t kValueBytes = 160;
constexpr std::size_t kMaxHsErrLogs = 4;

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// At most `limit` bytes, cut before a UTF-8 sequence rather than inside one, "…" marking a cut.
std::string Shorten(std::string_view text, std::size_t limit) {
    text = Trim(text);
    if (text.size() <= limit) return std::string(text);
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut)) + "…";
}

bool Match(const CrashPattern& pattern, std::string_view line, Values& values) {
    if (line.find(pattern.find) == std::string_view::npos) return false;
    if (!pattern.regex) return true;
    std::match_results<std::string_view::const_iterator> match;
    try {
        if (!std::regex_search(line.begin(), line.end(), match, *pattern.regex)) return false;
    } catch (const std::regex_error&) {
        return false;  // too complex for this line: as if it did not match
    }
    for (const auto& [name, group] : pattern.groups) {
        if (match[group].matched) values[name] = Shorten(std::string_view(match[group].first, match[group].second), kValueBytes);
    }
    return true;
}

// Calls `onLine` for every line of the first head bytes after `skip` and of the last tail bytes
// (whose first, partial line is dropped when bytes in between were left out). Lines lose their
// CR and everything past kCrashLineBytes. Returns the bytes read.
template <typename OnLine>
std::uint64_t ForEachLine(const std::string& path, std::uint64_t skip, OnLine&& onLine) {
    std::ifstream in(Utf8Path(path), std::ios::binary);
    if (!in) return 0;
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    if (end < 0) return 0;
    const auto size = static_cast<std::uint64_t>(end);
    const std::uint64_t headStart = std::min(skip, size);
    const std::uint64_t headEnd = std::min(size, headStart + kCrashHeadBytes);
    const std::uint64_t tailStart = std::max(headEnd, size > kCrashTailBytes ? size - kCrashTailBytes : 0);

    std::uint64_t total = 0;
    std::string line;
    line.reserve(kCrashLineBytes);
    char buffer[64 * 1024];
    const auto readRange = [&](std::uint64_t from, std::uint64_t to, bool dropFirstLine) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(from));
        bool dropping = dropFirstLine;
        line.clear();
        while (from < to && in) {
            const auto want = static_cast<std::streamsize>(std::min<std::uint64_t>(sizeof buffer, to - from));
            in.read(buffer, want);
            const std::streamsize got = in.gcount();
            if (got <= 0) break;
            from += static_cast<std::uint64_t>(got);
            total += static_cast<std::uint64_t>(got);
            const char* const dataEnd = buffer + got;
            for (const char* at = buffer; at < dataEnd;) {
                const char* newline = std::find(at, dataEnd, '\n');
                if (!dropping && line.size() < kCrashLineBytes) {
                    line.append(at, std::min<std::size_t>(static_cast<std::size_t>(newline - at), kCrashLineBytes - line.size()));
                }
                if (newline == dataEnd) break;
                if (!dropping) {
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    onLine(std::string_view(line));
                }
                dropping = false;
                line.clear();
                at = newline + 1;
            }
        }
        if (!dropping && !line.empty()) onLine(std::string_view(line));
    };
    readRange(headStart, headEnd, false);
    if (tailStart < size) readRange(tailStart, size, tailStart > headEnd);
    return total;
}

// One rule's progress through one log.
struct RuleState {
    bool fired = false;
    std::size_t line = 0;
    Values values;
    std::string evidence;
    std::vector<std::optional<std::pair<Values, std::string>>> allOf;  // each pattern's first match
    std::vector<std::optional<Values>> before, after;                  // each extract's value

    explicit RuleState(const CrashRule& rule)
        : allOf(rule.allOf.size()), before(rule.extract.size()), after(rule.extract.size()) {}
};

struct Fired {
    std::size_t rule = 0;
    Values values;
    std::string evidence;
};

class Matcher {
public:
    Matcher(const CrashRules& rules, CrashAnalysis& analysis) : rules_(rules), analysis_(analysis), done_(rules.rules.size()) {}

    void BeginLog(CrashLogKind kind) {
        kind_ = kind;
        lineNumber_ = 0;
        states_.clear();
        active_.clear();
        for (std::size_t i = 0; i < rules_.rules.size(); ++i) {
            const CrashRule& rule = rules_.rules[i];
            // The game's console output carries the same lines as its latest.log.
            const bool reads = rule.Reads(kind) || (kind == CrashLogKind::Output && rule.Reads(CrashLogKind::Latest));
            if (!done_[i] && reads) {
                states_.emplace_back(rule);
                active_.push_back(i);
            }
        }
    }

    void Line(std::string_view line) {
        ++lineNumber_;
        analysis_.longestLine = std::max(analysis_.longestLine, line.size());
        if (kind_ == CrashLogKind::Output && !analysis_.startFailed) {
            analysis_.startFailed = std::any_of(rules_.startFailures.begin(), rules_.startFailures.end(),
                                                [&](const std::string& text) { return line.find(text) != std::string_view::npos; });
        }
        if (analysis_.stackMod.empty()) {
            for (const CrashPattern& hint : rules_.modHints) {
                Values values;
                if (Match(hint, line, values) && !values["mod"].empty()) {
                    analysis_.stackMod = values["mod"];
                    break;
                }
            }
        }
        for (std::size_t k = 0; k < active_.size(); ++k) Step(rules_.rules[active_[k]], states_[k], line);
    }

    void EndLog() {
        for (std::size_t k = 0; k < active_.size(); ++k) {
            RuleState& state = states_[k];
            if (!state.fired) continue;
            const CrashRule& rule = rules_.rules[active_[k]];
            for (std::size_t j = 0; j < rule.extract.size(); ++j) {
                const std::optional<Values>& found = state.after[j] ? state.after[j] : state.before[j];
                if (!found) continue;
                for (const auto& [name, value] : *found) {
                    if (state.values[name].empty()) state.values[name] = value;
                }
            }
            done_[active_[k]] = true;
            fired_.push_back({active_[k], std::move(state.values), std::move(state.evidence)});
        }
    }

    const std::vector<Fired>& FiredRules() const { return fired_; }

private:
    void Step(const CrashRule& rule, RuleState& state, std::string_view line) const {
        if (!state.fired) {
            for (const CrashPattern& pattern : rule.when) {
                if (Match(pattern, line, state.values)) {
                    state.fired = true;
                    state.line = lineNumber_;
                    state.evidence = std::string(line);
                    break;
                }
            }
            bool all = !rule.allOf.empty();
            for (std::size_t i = 0; i < rule.allOf.size(); ++i) {
                Values values;
                if (!state.allOf[i] && Match(rule.allOf[i], line, values)) state.allOf[i].emplace(std::move(values), std::string(line));
                all = all && state.allOf[i].has_value();
            }
            if (all) {
                // The last pattern of the set is the telling one: its line and values count.
                state.values = state.allOf.back()->first;
                state.evidence = state.allOf.back()->second;
                state.fired = true;
                state.line = lineNumber_;
            }
        }
        for (std::size_t j = 0; j < rule.extract.size(); ++j) {
            const CrashPattern& pattern = rule.extract[j];
            Values values;
            if (state.fired) {
                if (state.after[j] || (pattern.near > 0 && lineNumber_ - state.line > static_cast<std::size_t>(pattern.near))) continue;
                if (Match(pattern, line, values)) state.after[j] = std::move(values);
            } else if (pattern.near == 0 && Match(pattern, line, values)) {
                state.before[j] = std::move(values);
            }
        }
    }

    const CrashRules& rules_;
    CrashAnalysis& analysis_;
    std::vector<bool> done_;  // fired in an earlier log: that log's hit stands
    std::vector<Fired> fired_;
    CrashLogKind kind_ = CrashLogKind::Output;
    std::size_t lineNumber_ = 0;
    std::vector<RuleState> states_;
    std::vector<std::size_t> active_;
};

// Files in `folder` whose name starts with `prefix` and ends with `suffix`, written since `since`,
// newest first.
std::vector<std::filesystem::path> RecentFiles(const std::filesystem::path& folder, std::string_view prefix,
                                               std::string_view suffix, std::int64_t since) {
    std::vector<std::pair<std::int64_t, std::filesystem::path>> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = PathUtf8(it->path().filename());
        if (!name.starts_with(prefix) || !name.ends_with(suffix)) continue;
        const FileStatus status = StatFile(it->path());
        if (status.exists && status.modifiedUnixSeconds >= since) found.emplace_back(status.modifiedUnixSeconds, it->path());
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second.filename() > b.second.filename();
    });
    std::vector<std::filesystem::path> paths;
    for (auto& entry : found) paths.push_back(std::move(entry.second));
    return paths;
}

}  // namespace

std::vector<CrashLog> FindCrashLogs(const std::string& gameDirectory, std::int64_t sinceUnixSeconds, const CrashLog& output) {
    std::vector<CrashLog> logs;
    if (!gameDirectory.empty()) {
        const std::filesystem::path game = Utf8Path(gameDirectory);
        const auto reports = RecentFiles(game / "crash-reports", "crash-", ".txt", sinceUnixSeconds);
        if (!reports.empty()) logs.push_back({PathUtf8(reports.front()), CrashLogKind::CrashReport, 0});
        auto errors = RecentFiles(game, "hs_err_pid", ".log", sinceUnixSeconds);
        if (errors.size() > kMaxHsErrLogs) errors.resize(kMaxHsErrLogs);
        for (const auto& file : errors) logs.push_back({PathUtf8(file), CrashLogKind::HsErr, 0});
        const auto latest = RecentFiles(game / "logs", "latest.log", "", sinceUnixSeconds);
        if (!latest.empty() && latest.front().filename() == "latest.log") {
            logs.push_back({PathUtf8(latest.front()), CrashLogKind::Latest, 0});
        }
    }
    if (!output.path.empty()) logs.push_back(output);
    return logs;
}

CrashAnalysis AnalyseCrash(const CrashRules& rules, const std::vector<CrashLog>& logs, std::optional<int> exitCode) {
    CrashAnalysis analysis;
    Matcher matcher(rules, analysis);
    std::vector<CrashLog> ordered = logs;
    std::stable_sort(ordered.begin(), ordered.end(), [](const CrashLog& a, const CrashLog& b) { return a.kind < b.kind; });
    for (const CrashLog& log : ordered) {
        if (!StatFile(Utf8Path(log.path)).exists) continue;
        analysis.files.push_back(log.path);
        matcher.BeginLog(log.kind);
        analysis.bytesRead += ForEachLine(log.path, log.skip, [&](std::string_view line) { matcher.Line(line); });
        matcher.EndLog();
    }
    if (exitCode) {
        matcher.BeginLog(CrashLogKind::Output);
        matcher.Line("exit code: " + std::to_string(*exitCode));
        matcher.EndLog();
    }

    std::vector<Fired> fired = matcher.FiredRules();
    const auto hasFired = [&](const std::string& id) {
        return std::any_of(fired.begin(), fired.end(), [&](const Fired& f) { return rules.rules[f.rule].id == id; });
    };
    std::erase_if(fired, [&](const Fired& f) {
        const auto& droppedBy = rules.rules[f.rule].droppedBy;
        return std::any_of(droppedBy.begin(), droppedBy.end(), hasFired);
    });
    if (std::any_of(fired.begin(), fired.end(), [&](const Fired& f) { return !rules.rules[f.rule].fallback; })) {
        std::erase_if(fired, [&](const Fired& f) { return rules.rules[f.rule].fallback; });
    }
    std::sort(fired.begin(), fired.end(), [&](const Fired& a, const Fired& b) {
        const auto rank = [&](const Fired& f) { return std::make_pair(rules.rules[f.rule].confidence, f.rule); };
        return rank(a) < rank(b);
    });
    for (const Fired& hit : fired) {
        const CrashRule& rule = rules.rules[hit.rule];
        analysis.causes.push_back({rule.id, RenderCrashTemplate(rule.title, hit.values), RenderCrashTemplate(rule.advice, hit.values),
                                   Shorten(hit.evidence, kCrashEvidenceBytes), std::string(CrashConfidenceName(rule.confidence)),
                                   RenderCrashTemplate(rule.mod, hit.values)});
    }
    return analysis;
}

std::string CrashEvent(const CrashAnalysis& analysis, int exitCode) {
    nlohmann::ordered_json event;
    event["type"] = "game:crash";
    event["stage"] = analysis.startFailed ? "start" : "running";
    event["exitCode"] = exitCode;
    event["causes"] = nlohmann::ordered_json::array();
    for (const CrashCause& cause : analysis.causes) {
        nlohmann::ordered_json item{{"id", cause.id},         {"title", cause.title},
                                    {"advice", cause.advice}, {"evidence", cause.evidence},
                                    {"confidence", cause.confidence}};
        if (!cause.mod.empty()) item["mod"] = cause.mod;
        event["causes"].push_back(std::move(item));
    }
    event["files"] = analysis.files;
    if (!analysis.stackMod.empty()) event["mod"] = analysis.stackMod;
    // Logs may hold any bytes; what is not UTF-8 becomes U+FFFD so the event stays valid JSON.
    return event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string CrashSummaryText(const CrashAnalysis& analysis, int exitCode) {
    std::string text = (analysis.startFailed ? "Java 虚拟机没能启动游戏" : "游戏在运行中崩溃") +
                       std::string("（退出码 ") + std::to_string(exitCode) + "）\n\n";
    if (analysis.causes.empty()) text += "没能自动判断原因。\n";
    for (const CrashCause& cause : analysis.causes) {
        text += "[" + cause.confidence + "] " + cause.title + " (" + cause.id + ")\n" + cause.advice + "\n";
        if (!cause.mod.empty()) text += "模组：" + cause.mod + "\n";
        text += "依据：" + cause.evidence + "\n\n";
    }
    if (!analysis.stackMod.empty()) text += "调用栈里的模组：" + analysis.stackMod + "\n";
    text += "\n读取的日志：\n";
    for (const std::string& file : analysis.files) text += file + "\n";
    return text;
}

}  // namespace lumivale
