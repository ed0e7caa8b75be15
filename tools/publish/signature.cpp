// Manifest signatures: ECDSA on P-256 over SHA-256, kept as IEEE P1363 r||s in base64, which is
// the form .NET's ECDsa.VerifyData takes, so the installer needs nothing beyond the framework.
#include "publish.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstring>
#include <filesystem>

struct ManifestKey {
    EVP_PKEY* key;
};

namespace {

constexpr std::size_t kCoordinateSize = 32;
constexpr std::size_t kSignatureSize = 2 * kCoordinateSize;
constexpr std::size_t kSignatureTextSize = 88; // base64 of 64 bytes, with its "=="

// A key file is never asked for a passphrase on the terminal: a build script must not hang.
int noPassphrase(char*, int, int, void*)
{
    return -1;
}

EVP_PKEY* readPem(const std::string& text, bool privateKey)
{
    BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
    EVP_PKEY* key = privateKey ? PEM_read_bio_PrivateKey(bio, nullptr, noPassphrase, nullptr)
                               : PEM_read_bio_PUBKEY(bio, nullptr, noPassphrase, nullptr);
    BIO_free(bio);
    ERR_clear_error();
    return key;
}

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

// r and s as DER, the form libcrypto signs and verifies in.
std::vector<unsigned char> derSignature(const unsigned char* raw)
{
    ECDSA_SIG* signature = ECDSA_SIG_new();
    ECDSA_SIG_set0(signature, BN_bin2bn(raw, kCoordinateSize, nullptr),
                   BN_bin2bn(raw + kCoordinateSize, kCoordinateSize, nullptr));
    int length = i2d_ECDSA_SIG(signature, nullptr);
    std::vector<unsigned char> der(length > 0 ? static_cast<std::size_t>(length) : 0);
    unsigned char* out = der.data();
    if (length > 0)
        i2d_ECDSA_SIG(signature, &out);
    ECDSA_SIG_free(signature);
    return der;
}

bool isBase64Character(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

} // namespace

ManifestKey* loadManifestKey(const std::string& path, bool privateKey, std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "Die Schluesseldatei " + inQuotes(path) + " gibt es nicht";
        return nullptr;
    }
    std::string text;
    std::string why;
    if (!readLocalFile(path, text, why)) {
        error = "Die Schluesseldatei " + inQuotes(path) + " ist nicht lesbar: " + why;
        return nullptr;
    }
    EVP_PKEY* key = readPem(text, privateKey);
    if (!key) {
        EVP_PKEY* other = readPem(text, !privateKey);
        if (other)
            error = privateKey ? "Die Datei " + inQuotes(path) + " enthaelt nur einen oeffentlichen Schluessel; "
                                 "zum Signieren braucht es den privaten"
                               : "Die Datei " + inQuotes(path) + " enthaelt einen privaten Schluessel; zum Pruefen "
                                 "gehoert nur der oeffentliche dorthin (openssl pkey -in " + path + " -pubout)";
        else if (text.find("ENCRYPTED") != std::string::npos)
            error = "Der Schluessel in " + inQuotes(path) +
                    " ist mit einem Kennwort verschluesselt; orvan-publish liest nur unverschluesselte PEM-Dateien";
        else
            error = "Die Datei " + inQuotes(path) + " enthaelt keinen " +
                    (privateKey ? "privaten" : "oeffentlichen") + " Schluessel im PEM-Format";
        EVP_PKEY_free(other);
        return nullptr;
    }
    char group[64] = "";
    std::size_t groupLength = 0;
    bool isEc = EVP_PKEY_is_a(key, "EC") == 1;
    if (isEc)
        EVP_PKEY_get_group_name(key, group, sizeof group, &groupLength);
    if (!isEc || std::strcmp(group, "prime256v1") != 0) {
        const char* type = EVP_PKEY_get0_type_name(key);
        std::string found = isEc ? std::string("ein EC-Schluessel auf der Kurve ") + (group[0] ? group : "(ohne Namen)")
                                 : std::string("ein ") + (type ? type : "unbekannter") + "-Schluessel";
        error = "Der Schluessel in " + inQuotes(path) + " ist kein ECDSA-Schluessel auf der Kurve P-256 (prime256v1), sondern " +
                found + "; der Installer prueft nur P-256";
        EVP_PKEY_free(key);
        return nullptr;
    }
    return new ManifestKey{key};
}

void freeManifestKey(ManifestKey* key)
{
    if (key)
        EVP_PKEY_free(key->key);
    delete key;
}

std::string manifestKeyFingerprint(const ManifestKey* key)
{
    unsigned char* der = nullptr;
    int length = i2d_PUBKEY(key->key, &der);
    Sha256* digest = sha256Begin();
    if (length > 0)
        sha256Add(digest, der, static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return sha256Finish(digest);
}

bool signManifest(const ManifestKey* key, std::string_view manifest, std::string& signatureText, std::string& error)
{
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    std::size_t length = 0;
    bool ok = EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key->key) == 1 &&
              EVP_DigestSign(context, nullptr, &length, reinterpret_cast<const unsigned char*>(manifest.data()),
                             manifest.size()) == 1;
    std::vector<unsigned char> der(length);
    ok = ok && EVP_DigestSign(context, der.data(), &length, reinterpret_cast<const unsigned char*>(manifest.data()),
                              manifest.size()) == 1;
    EVP_MD_CTX_free(context);
    const unsigned char* in = der.data();
    ECDSA_SIG* signature = ok ? d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(length)) : nullptr;
    unsigned char raw[kSignatureSize];
    ok = signature && BN_bn2binpad(ECDSA_SIG_get0_r(signature), raw, kCoordinateSize) == kCoordinateSize &&
         BN_bn2binpad(ECDSA_SIG_get0_s(signature), raw + kCoordinateSize, kCoordinateSize) == kCoordinateSize;
    ECDSA_SIG_free(signature);
    ERR_clear_error();
    if (!ok) {
        error = "Kann das Manifest nicht signieren";
        return false;
    }
    char text[kSignatureTextSize + 1];
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text), raw, kSignatureSize);
    signatureText = std::string(text, kSignatureTextSize) + "\n";
    return true;
}

SignatureCheck checkManifestSignature(const ManifestKey* key, std::string_view manifest, std::string_view signatureText)
{
    // One line ending, LF or CRLF, may follow; nothing else.
    if (!signatureText.empty() && signatureText.back() == '\n')
        signatureText.remove_suffix(1);
    if (!signatureText.empty() && signatureText.back() == '\r')
        signatureText.remove_suffix(1);
    if (signatureText.size() != kSignatureTextSize || signatureText.substr(kSignatureTextSize - 2) != "==")
        return SignatureCheck::malformed;
    for (char c : signatureText.substr(0, kSignatureTextSize - 2))
        if (!isBase64Character(c))
            return SignatureCheck::malformed;
    unsigned char raw[kSignatureSize + 2];
    if (EVP_DecodeBlock(raw, reinterpret_cast<const unsigned char*>(signatureText.data()),
                        static_cast<int>(signatureText.size())) != static_cast<int>(sizeof raw))
        return SignatureCheck::malformed;
    std::vector<unsigned char> der = derSignature(raw);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool valid = !der.empty() && EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key->key) == 1 &&
                 EVP_DigestVerify(context, der.data(), der.size(), reinterpret_cast<const unsigned char*>(manifest.data()),
                                  manifest.size()) == 1;
    EVP_MD_CTX_free(context);
    ERR_clear_error();
    return valid ? SignatureCheck::valid : SignatureCheck::mismatch;
}
