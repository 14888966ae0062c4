#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include "IniFile.h"

#include <SimpleIni.h>

#include <cctype>

#include "Files.h"

namespace lumivale {

struct IniFile::Impl {
    CSimpleIniCaseA ini{false, false, true};  // not UTF-8 aware: bytes kept; multi-line values
};

IniFile::IniFile() : impl_(std::make_unique<Impl>()) { impl_->ini.SetSpaces(false); }

IniFile::~IniFile() = default;

bool IniFile::Load(const std::filesystem::path& file) {
    impl_->ini.Reset();
    std::string bytes;
    if (!ReadWholeFile(file, bytes)) return false;
    return impl_->ini.LoadData(bytes.data(), bytes.size()) >= 0;
}

bool IniFile::Save(const std::filesystem::path& file) const {
    std::string bytes;
    if (impl_->ini.Save(bytes) < 0) return false;
    return WriteFileAtomically(file, bytes);
}

std::optional<std::string> IniFile::Get(const std::string& section, const std::string& key) const {
    const char* value = impl_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
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
    impl_->ini.SetValue(section.c_str(), key.c_str(), value.c_str());
}

bool IniFile::Remove(const std::string& section, const std::string& key) {
    return impl_->ini.Delete(section.c_str(), key.c_str(), true);
}

}  // namespace lumivale
