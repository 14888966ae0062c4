#pragma once
// The LittleSkin Yggdrasil client: password sign-in (authenticate) and token renewal with a
// chosen role (refresh, also used to switch roles). Plain blocking calls meant for worker
// threads; they touch no launcher state and report everything through AuthResult.
//
// Answers are read with the field scanners of JsonFields.h on the raw response text (no
// document is parsed), so a body that is not JSON at all simply yields no fields.
#include <string>
#include <string_view>
#include <vector>

namespace lumivale {

// One role (game profile) of an account, texts as LittleSkin gives them (UTF-8).
struct Profile {
    std::string id;    // the role's UUID, dashes as given
    std::string name;  // the role's player name

    bool operator==(const Profile&) const = default;
};

// What one authenticate or refresh request yields; all texts UTF-8.
struct AuthResult {
    bool success = false;        // only when the answer carried a non-empty "accessToken"
    std::string accessToken;
    std::string playerName;      // name of the selected role
    std::string error;           // the message for the user when success is false
    std::string clientToken;     // the client token that belongs to accessToken
    Profile selectedProfile;
    std::vector<Profile> availableProfiles;  // in answer order
    std::string userId;          // "user"."id"
    std::string username;        // "user"."username", else the player name
};

// Where the requests go: the Yggdrasil root (Endpoints::YggdrasilRoot(), no trailing "/"), and
// for tests the PEM file of certificates to trust instead of the system's store.
struct YggdrasilServer {
    std::string root;
    std::string trustedCertificates;
};

// User-facing texts of the sign-in and refresh results.
inline constexpr const char* kYggMissingCredentials = "请输入账号和密码";
inline constexpr const char* kYggNetworkFailed = "网络请求失败，请检查网络后重试";
inline constexpr const char* kYggLoginFailed = "登录失败，请确认账号密码";
inline constexpr const char* kYggIncompleteRole = "角色信息不完整，请重新登录";
inline constexpr const char* kYggRefreshFailed = "切换角色失败";

// A new client token: five groups of lowercase hex digits (8-4-4-4-12) joined by "-", drawn
// from an mt19937 seeded once from the system's random source. UUID-shaped, 36 characters,
// without version or variant bits.
std::string GenerateClientToken();

// A JSON string literal (quotes included) for a request body: \b \t \n \f \r, \" and \\ as
// such, other bytes below 0x20 as \u00xx (lowercase hex), every other byte unchanged (UTF-8
// stays as it is).
std::string EscapeRequestText(std::string_view text);

// POSTs a UTF-8 JSON body to `url` with "Content-Type: application/json" and
// "Accept: application/json" and returns the whole answer body whatever its status (an error
// answer such as a 403 with "errorMessage" comes back like any other). Empty when no answer
// arrived (setting up, connecting, sending or waiting for the answer failed); when reading the
// body fails part-way, what was read so far.
std::string PostJson(const std::string& url, const std::string& body,
                     const std::string& trustedCertificates = {});

// The object after "key": from the first '{' after the first ':' after the first quoted key,
// through its matching '}' (braces counted naively, those inside strings too). Empty when a
// piece is missing or the braces never close.
std::string ReadObjectField(std::string_view text, std::string_view key);

// The roles of "availableProfiles": between the first '[' after the key and the first ']'
// after that, each '{' ... '}' piece gives a Profile when both its "id" and "name" are
// non-empty.
std::vector<Profile> ParseAvailableProfiles(std::string_view response);

// POST {root}/authserver/authenticate with a fresh client token. Empty user name or password:
// fails without a request.
AuthResult Authenticate(const YggdrasilServer& server, const std::string& username,
                        const std::string& password);

// POST {root}/authserver/refresh for the given role (renewal at start and role switch). The
// result's clientToken is the one sent. Missing token, role id or role name: fails without a
// request.
AuthResult Refresh(const YggdrasilServer& server, const std::string& accessToken,
                   const std::string& clientToken, const Profile& profile);

}  // namespace lumivale
