#include "publish.h"

#include <openssl/evp.h>

struct Sha256 {
    EVP_MD_CTX* context;
};

Sha256* sha256Begin()
{
    auto* state = new Sha256{EVP_MD_CTX_new()};
    EVP_DigestInit_ex(state->context, EVP_sha256(), nullptr);
    return state;
}

void sha256Add(Sha256* state, const void* data, std::size_t size)
{
    EVP_DigestUpdate(state->context, data, size);
}

std::string sha256Finish(Sha256* state)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(state->context, digest, &length);
    EVP_MD_CTX_free(state->context);
    delete state;
    static const char* hex = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

std::string sha256File(const std::string& path, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "kann \"" + path + "\" nicht lesen";
        return {};
    }
    Sha256* state = sha256Begin();
    std::vector<unsigned char> buffer(1 << 20);
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
        sha256Add(state, buffer.data(), got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    std::string digest = sha256Finish(state);
    if (failed) {
        error = "Lesefehler in \"" + path + "\"";
        return {};
    }
    return digest;
}
