#pragma once
// The account and the install's private key, kept out of config.ini in a per-user JSON file,
// orlu.json, readable by the user alone.
#include <filesystem>
#include <string>

namespace lumivale {

struct Credentials {
    std::string accessToken;
    std::string clientToken;
    std::string currentRole;
    std::string currentRoleId;
    std::string availableProfiles;  // JSON array text, stored as a string
    std::string accountId;
    std::string accountName;
    std::string privateKey;
};

// <user data folder>/orlu.json; the folder is created (owner only) when missing.
std::filesystem::path StorePath();

// True only when every slot was read: the file parses, its root is an object with the objects
// "littleskin" and "cloud", and every member present is a string (a missing one reads as empty).
bool LoadCredentials(Credentials& out);

// Writes a fresh file through a temporary file; the old file stays on any failure.
bool SaveCredentials(const Credentials& credentials);

// The record as orlu.json holds it: members sorted, two-space indent, raw UTF-8, no final newline.
std::string SerializeCredentials(const Credentials& credentials);

// One-time move of the account values out of an older config.ini; runs while the store file is
// missing or empty.
void MigrateCredentials(const std::filesystem::path& configPath);

}  // namespace lumivale
