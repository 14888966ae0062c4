#pragma once
// Checks the launcher's request signatures: RSA PKCS#1 v1.5 over the SHA-256 of the message,
// Base64, against a PKCS#1 "RSA PUBLIC KEY" (or SubjectPublicKeyInfo "PUBLIC KEY") PEM.
#include <string>
#include <string_view>

namespace lumivale::backend {

// True when the PEM holds an RSA public key that OpenSSL can read.
bool IsUsablePublicKeyPem(std::string_view pem);

// True when `signatureBase64` is a valid signature of `message` made with the key of `pem`.
bool VerifySignature(std::string_view pem, std::string_view message, std::string_view signatureBase64);

// The PEM with carriage returns dropped and a final line feed ensured, so that the same key
// sent with different line endings compares equal.
std::string NormalizePem(std::string_view pem);

}  // namespace lumivale::backend
