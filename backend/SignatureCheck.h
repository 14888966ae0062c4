#pragma once
// Checks the launcher's request signatures: RSA PKCS#1 v1.5 over the SHA-256 of the message,
// Base64, against a PKCS#1 "RSA PUBLIC KEY" (or SubjectPublicKeyInfo "PUBLIC KEY") PEM.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivale::backend {

// True when the PEM holds an RSA public key that OpenSSL can read.
bool IsUsablePublicKeyPem(std::string_view pem);

// The bytes of standard Base64 text written the one way the launcher writes it: the RFC 4648
// alphabet, "=" padding, no white space, unused bits zero. Nothing for any other text, so that one
// signature has exactly one accepted spelling.
std::optional<std::vector<unsigned char>> DecodeCanonicalBase64(std::string_view text);

// True when `signature` is a valid signature of `message` made with the key of `pem`.
bool VerifySignature(std::string_view pem, std::string_view message, const std::vector<unsigned char>& signature);

// Lower-case hexadecimal of the bytes.
std::string HexOf(const std::vector<unsigned char>& bytes);

// The PEM with carriage returns dropped and a final line feed ensured, so that the same key
// sent with different line endings compares equal.
std::string NormalizePem(std::string_view pem);

}  // namespace lumivale::backend
