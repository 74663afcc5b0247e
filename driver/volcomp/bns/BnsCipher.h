#pragma once
// BnsCipher: an RC2 key of enciphered B&S maps, and the decryption of one enciphered value.
//
// The maps' supplier makes its keys with the Windows CryptoAPI: an MD5 hash of a pass phrase,
// a key derived from the hash for RC2 without salt at the base provider's default length of
// 40 bits, and decryption in CBC mode with a zero IV and PKCS#5 padding, every value being a
// message of its own. This class reproduces that on OpenSSL libcrypto (RC2 lives in the
// "legacy" provider, which the first use loads into the default library context together
// with "default"); docs/compensation-bns.md says which parameters do it and why. It is the
// only file of the driver that talks to libcrypto.
//
// A BnsCipher is an immutable value: copy it freely and use it from any thread. Failures are
// reported by empty results with a reason in `error`; nothing throws.

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct evp_cipher_st;

class BnsCipher {
  public:
    // CryptDeriveKey's default RC2 key: 40 bits of key material, 40 effective bits.
    static constexpr std::size_t kKeyBytes = 5;
    static constexpr std::size_t kEffectiveKeyBits = 40;
    static constexpr std::size_t kBlockBytes = 8;
    static constexpr std::size_t kDigestBytes = 16;

    using Key = std::array<unsigned char, kKeyBytes>;

    // The key derived from the MD5 hash of passPhrase (its first kKeyBytes bytes). Empty when
    // libcrypto offers no MD5 or RC2 (for example without its legacy provider).
    static std::optional<BnsCipher> FromPassPhrase(std::span<const unsigned char> passPhrase,
                                                   std::string* error = nullptr);
    // A cipher with a key given directly.
    static std::optional<BnsCipher> FromKey(const Key& key, std::string* error = nullptr);

    // MD5 of data; empty when libcrypto offers no MD5.
    static std::optional<std::array<unsigned char, kDigestBytes>> Md5(
        std::span<const unsigned char> data, std::string* error = nullptr);

    // Decrypts cipherText as one whole message (the final block included) and removes the
    // padding. Empty when the length is not a positive multiple of kBlockBytes or the padding
    // does not check out (the usual sign of a wrong key).
    std::optional<std::vector<unsigned char>> Decrypt(
        std::span<const unsigned char> cipherText) const;

    const Key& KeyBytes() const { return key_; }

  private:
    BnsCipher(const Key& key, std::shared_ptr<evp_cipher_st> cipher)
        : key_(key), cipher_(std::move(cipher)) {}

    Key key_{};
    std::shared_ptr<evp_cipher_st> cipher_;  // RC2-CBC fetched from the legacy provider
};
