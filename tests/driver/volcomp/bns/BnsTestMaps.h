#pragma once
// B&S maps for the tests: a map description with tables that are linear in the point index
// (so every lookup has a value the test can work out), written as text, binary doubles or
// enciphered lines. Enciphering is done here with libcrypto's own RC2-40-CBC and MD5, apart
// from the code under test.

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace bnstest {

struct TestMap {
    int flags = 128 | 1;
    int points = 6;  // 50 is implied without bit 7
    int rotaryPoints = 0;
    std::array<double, 4> start{-100.0, 50.0, -400.0, 0.0};
    std::array<double, 4> step{40.0, 25.0, 80.0, 2.0};
    double option = 7.0;
    std::array<double, 3> header{0.5, 1.5, 2.5};

    int Type() const { return flags & 123; }
    bool Extended() const { return (flags & 128) != 0; }
    int Points() const { return Extended() ? points : 50; }

    // Table k (0..22 main, 23..28 extra E0..E5, 29..34 rotary): a + b * index.
    static double A(int k) { return 1e-3 * ((k * 7) % 11 - 5); }
    static double B(int k) { return 1e-4 * ((k * 5) % 9 - 4) + 1e-5 * k; }
    double Value(int k, int index) const { return A(k) + B(k) * index; }

    // Every value in file order.
    std::vector<double> Values() const {
        std::vector<double> v{double(flags)};
        if (Extended()) {
            v.insert(v.end(), {double(points), double(rotaryPoints), start[0], start[1], start[2],
                               start[3], step[0], step[1], step[2], step[3], option});
        } else {
            v.insert(v.end(), {start[0], start[1], start[2], step[0], step[1], step[2]});
        }
        v.insert(v.end(), header.begin(), header.end());
        const int rotary = Extended() ? rotaryPoints : 0;
        for (int k = 0; k < 35; ++k) {
            const bool extra = k >= 23 && k < 29;
            if (extra && Type() != 3)
                continue;
            const int count = k >= 29 ? rotary : Points();
            for (int i = 0; i < count; ++i)
                v.push_back(Value(k, i));
        }
        if (!Extended())
            v.push_back(option);
        return v;
    }
};

inline std::string Text(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// Text: the flags alone on the first line, then eight values a line.
inline std::string AsText(const std::vector<double>& values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i)
        out += Text(values[i]) + (i == 0 || i % 8 == 0 ? "\n" : " ");
    return out + "\n";
}

inline std::string AsBinary(const std::vector<double>& values) {
    std::string out(values.size() * 8, '\0');
    std::memcpy(out.data(), values.data(), out.size());  // the test machine is little-endian
    return out;
}

using Key = std::array<unsigned char, 5>;

inline void LoadProviders() {
    static const bool loaded =
        OSSL_PROVIDER_load(nullptr, "legacy") && OSSL_PROVIDER_load(nullptr, "default");
    if (!loaded)
        throw std::runtime_error("OpenSSL legacy provider missing");
}

inline Key KeyFromPassPhrase(const std::string& phrase) {
    LoadProviders();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_Digest(phrase.data(), phrase.size(), digest, &length, md, nullptr);
    EVP_MD_free(md);
    Key key;
    std::memcpy(key.data(), digest, key.size());
    return key;
}

// RC2-40-CBC, zero IV, PKCS#5 padding, one message.
inline std::vector<unsigned char> Rc2(const Key& key, const std::vector<unsigned char>& in,
                                      bool encrypt) {
    LoadProviders();
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "RC2-40-CBC", nullptr);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    const unsigned char iv[8] = {};
    std::vector<unsigned char> out(in.size() + 16);
    int n = 0;
    int last = 0;
    const bool ok = EVP_CipherInit_ex2(context, cipher, key.data(), iv, encrypt, nullptr) &&
                    EVP_CipherUpdate(context, out.data(), &n, in.data(), int(in.size())) &&
                    EVP_CipherFinal_ex(context, out.data() + n, &last);
    EVP_CIPHER_CTX_free(context);
    EVP_CIPHER_free(cipher);
    if (!ok)
        throw std::runtime_error("RC2 failed");
    out.resize(std::size_t(n + last));
    return out;
}

inline std::string Hex(const std::vector<unsigned char>& bytes) {
    std::string out;
    char pair[3];
    for (unsigned char b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        out += pair;
    }
    return out;
}

// One enciphered line (digits and line end) for the text of a value.
inline std::string EncipheredLine(const Key& key, const std::string& text,
                                  const char* lineEnd = "\n") {
    return Hex(Rc2(key, std::vector<unsigned char>(text.begin(), text.end()), true)) + lineEnd;
}

inline std::string AsEnciphered(const std::vector<double>& values, const Key& key,
                                const char* lineEnd = "\n") {
    std::string out;
    for (double v : values)
        out += EncipheredLine(key, Text(v), lineEnd);
    return out;
}

// The file key from key material, stage by stage, as the supplier's tool makes it.
inline Key FileKey(const std::vector<unsigned char>& passPhrase,
                   const std::array<unsigned char, 40>& secret) {
    const Key first = KeyFromPassPhrase(std::string(passPhrase.begin(), passPhrase.end()));
    const auto second = Rc2(first, std::vector<unsigned char>(secret.begin(), secret.end()), false);
    return KeyFromPassPhrase(std::string(second.begin(), second.end()));
}

}  // namespace bnstest
