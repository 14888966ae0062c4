#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include "IniFile.h"

#include <SimpleIni.h>

#include <cctype>

#include "Files.h"

namespace lumivale {

struct IniFile::Impl {
    CSimpleIniCaseA ini{false, false, true};  // not UTF-8 aware: bytes kept; multi-line values
    std::string fileComment;                  // the comment lines that open the file
};

IniFile::IniFile() : impl_(std::make_unique<Impl>()) { impl_->ini.SetSpaces(false); }

IniFile::~IniFile() = default;

bool IniFile::Load(const std::filesystem::path& file) {
    impl_->ini.Reset();
    std::string bytes;
    impl_->fileComment.clear();
    if (!ReadWholeFile(file, bytes)) return false;
    for (std::size_t at = 0; at < bytes.size() && (bytes[at] == ';' || bytes[at] == '#');) {
        const std::size_t end = bytes.find('\n', at);
        impl_->fileComment += bytes.substr(at, end == std::string::npos ? end : end - at + 1);
        if (end == std::string::npos) {
            impl_->fileComment += '\n';  // else the first section written would join the comment
            break;
        }
        at = end + 1;
    }
    return impl_->ini.LoadData(bytes.data(), bytes.size()) >= 0;
}

namespace {

// A value that a plain "key=value" line would not give back (line breaks, blanks at either end,
// or a leading "<<<" that reads as the start of a block) is written as a block whose end tag
// occurs nowhere in the value.
bool NeedsBlock(const std::string& value) {
    if (value.empty()) return false;
    return value.starts_with("<<<") || value.find_first_of("\r\n") != std::string::npos ||
           std::isspace(static_cast<unsigned char>(value.front())) ||
           std::isspace(static_cast<unsigned char>(value.back()));
}

std::string BlockTag(const std::string& value) {
    std::string tag = "END_OF_TEXT";
    for (int n = 1; value.find(tag) != std::string::npos; ++n) tag = "END_OF_TEXT_" + std::to_string(n);
    return tag;
}

void AppendComment(std::string& out, const char* comment) {
    if (comment == nullptr) return;
    out += comment;
    out += '\n';
}

// The INI reader turns every carriage return into a line break, so a value holding one is kept
// escaped behind a mark no typed value starts with: "\\" for a backslash, "\r" for a carriage
// return. Values without one are written as they are, as before.
constexpr std::string_view kEscapedMark = "\x01" "escaped\n";  // split: "\x01e" would read as one byte

std::string Escaped(const std::string& value) {
    if (value.find('\r') == std::string::npos && !value.starts_with('\x01')) return value;
    std::string out(kEscapedMark);
    for (const char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::string Unescaped(const std::string& stored) {
    if (!stored.starts_with(kEscapedMark)) return stored;
    std::string out;
    for (std::size_t i = kEscapedMark.size(); i < stored.size(); ++i) {
        if (stored[i] == '\\' && i + 1 < stored.size()) {
            out += stored[++i] == 'r' ? '\r' : stored[i];
        } else {
            out += stored[i];
        }
    }
    return out;
}

}  // namespace

bool IniFile::Save(const std::filesystem::path& file) const {
    using Names = CSimpleIniCaseA::TNamesDepend;
    const CSimpleIniCaseA& ini = impl_->ini;
    std::string bytes = impl_->fileComment;
    Names sections;
    ini.GetAllSections(sections);
    sections.sort(CSimpleIniCaseA::Entry::LoadOrder());
    for (const auto& section : sections) {
        if (!bytes.empty() && bytes != impl_->fileComment) bytes += '\n';
        AppendComment(bytes, section.pComment);
        bytes += '[';
        bytes += section.pItem;
        bytes += "]\n";
        Names keys;
        ini.GetAllKeys(section.pItem, keys);
        keys.sort(CSimpleIniCaseA::Entry::LoadOrder());
        for (const auto& key : keys) {
            AppendComment(bytes, key.pComment);
            const std::string value = ini.GetValue(section.pItem, key.pItem, "");
            bytes += key.pItem;
            bytes += '=';
            if (NeedsBlock(value)) {
                const std::string tag = BlockTag(value);
                bytes += "<<<" + tag + "\n" + value + "\n" + tag + "\n";
            } else {
                bytes += value + "\n";
            }
        }
    }
    return WriteFileAtomically(file, bytes);
}

std::optional<std::string> IniFile::Get(const std::string& section, const std::string& key) const {
    const char* value = impl_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (value == nullptr) return std::nullopt;
    return Unescaped(value);
}

std::string IniFile::GetText(const std::string& section, const std::string& key,
                             const std::string& fallback) const {
    return Get(section, key).value_or(fallback);
}

std::int32_t IniFile::GetInt(const std::string& section, const std::string& key,
                             std::int32_t fallback) const {
    const auto text = Get(section, key);
    if (!text) return fallback;
    std::size_t i = 0;
    while (i < text->size() && std::isspace(static_cast<unsigned char>((*text)[i]))) ++i;
    bool negative = false;
    if (i < text->size() && ((*text)[i] == '-' || (*text)[i] == '+')) negative = (*text)[i++] == '-';
    std::uint32_t value = 0;  // wraps like the 32-bit conversion it stands for
    for (; i < text->size() && std::isdigit(static_cast<unsigned char>((*text)[i])); ++i) {
        value = value * 10u + static_cast<std::uint32_t>((*text)[i] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

void IniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
    impl_->ini.SetValue(section.c_str(), key.c_str(), Escaped(value).c_str());
}

bool IniFile::Remove(const std::string& section, const std::string& key) {
    return impl_->ini.Delete(section.c_str(), key.c_str(), true);
}

}  // namespace lumivale
