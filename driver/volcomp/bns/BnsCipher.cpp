#include "driver/volcomp/bns/BnsCipher.h"

#include <algorithm>

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/provider.h>

namespace {

void SetError(std::string* error, const std::string& text) {
    if (!error)
        return;
    *error = text;
    const unsigned long code = ERR_peek_last_error();
    if (code != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        *error += " (";
        *error += buffer;
        *error += ")";
    }
}

// Loading "legacy" explicitly stops OpenSSL from activating "default" on its own, so both
// are loaded. They stay loaded for the life of the process: other code in the host process
// may fetch from them too.
bool ProvidersLoaded() {
    static const bool loaded = [] {
        OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
        return legacy != nullptr && standard != nullptr;
    }();
    return loaded;
}

std::shared_ptr<evp_cipher_st> FetchRc2(std::string* error) {
    ERR_clear_error();
    if (!ProvidersLoaded()) {
        SetError(error, "OpenSSL's legacy provider (RC2) could not be loaded");
        return nullptr;
    }
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "RC2-CBC", nullptr);
    if (!cipher) {
        SetError(error, "OpenSSL offers no RC2-CBC");
        return nullptr;
    }
    return std::shared_ptr<evp_cipher_st>(cipher, EVP_CIPHER_free);
}

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

}  // namespace

std::optional<std::array<unsigned char, BnsCipher::kDigestBytes>> BnsCipher::Md5(
    std::span<const unsigned char> data, std::string* error) {
    ERR_clear_error();
    if (!ProvidersLoaded()) {
        SetError(error, "OpenSSL's providers could not be loaded");
        return std::nullopt;
    }
    std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md(EVP_MD_fetch(nullptr, "MD5", nullptr),
                                                       EVP_MD_free);
    std::array<unsigned char, kDigestBytes> digest{};
    unsigned int length = 0;
    if (!md || EVP_MD_get_size(md.get()) != int(kDigestBytes) ||
        !EVP_Digest(data.data(), data.size(), digest.data(), &length, md.get(), nullptr) ||
        length != kDigestBytes) {
        SetError(error, "OpenSSL could not compute MD5");
        return std::nullopt;
    }
    return digest;
}

std::optional<BnsCipher> BnsCipher::FromPassPhrase(std::span<const unsigned char> passPhrase,
                                                   std::string* error) {
    // Without salt and with a hash longer than the key, CryptDeriveKey takes the key
    // material from the start of the hash value.
    const auto digest = Md5(passPhrase, error);
    if (!digest)
        return std::nullopt;
    Key key{};
    std::copy_n(digest->begin(), kKeyBytes, key.begin());
    return FromKey(key, error);
}

std::optional<BnsCipher> BnsCipher::FromKey(const Key& key, std::string* error) {
    auto cipher = FetchRc2(error);
    if (!cipher)
        return std::nullopt;
    return BnsCipher(key, std::move(cipher));
}

std::optional<std::vector<unsigned char>> BnsCipher::Decrypt(
    std::span<const unsigned char> cipherText) const {
    if (cipherText.empty() || cipherText.size() % kBlockBytes != 0)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!context)
        return std::nullopt;

    // RC2's key schedule reads the effective key length when the key is set, so the key
    // length and effective bits go in before the key. CryptoAPI's IV is all zeros.
    size_t keyLength = kKeyBytes;
    size_t effectiveBits = kEffectiveKeyBits;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_KEYLEN, &keyLength),
        OSSL_PARAM_construct_size_t(OSSL_CIPHER_PARAM_RC2_KEYBITS, &effectiveBits),
        OSSL_PARAM_construct_end()};
    const unsigned char iv[kBlockBytes] = {};
    if (!EVP_DecryptInit_ex2(context.get(), cipher_.get(), nullptr, nullptr, nullptr) ||
        !EVP_CIPHER_CTX_set_params(context.get(), params) ||
        !EVP_DecryptInit_ex2(context.get(), nullptr, key_.data(), iv, nullptr)) {
        ERR_clear_error();
        return std::nullopt;
    }

    std::vector<unsigned char> plain(cipherText.size() + kBlockBytes);
    int written = 0;
    int last = 0;
    if (!EVP_DecryptUpdate(context.get(), plain.data(), &written, cipherText.data(),
                           int(cipherText.size())) ||
        !EVP_DecryptFinal_ex(context.get(), plain.data() + written, &last)) {
        ERR_clear_error();
        return std::nullopt;
    }
    plain.resize(size_t(written + last));
    return plain;
}
