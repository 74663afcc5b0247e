#include "driver/volcomp/bns/BnsKeyMaterial.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "driver/volcomp/DataFile.h"
#include "driver/volcomp/bns/BnsFormat.h"

namespace {

void SetError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Hexadecimal digits, white space between byte pairs allowed.
std::optional<std::vector<unsigned char>> ParseHex(const std::string& text) {
    std::string digits;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        digits += c;
    }
    if (digits.size() % 2 != 0)
        return std::nullopt;
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

}  // namespace

BnsKeyMaterial BnsKeyMaterial::StandIn() {
    // Our own material, held in pieces and put together when used, like the supplier's.
    static constexpr char kPieceA[] = "Vx4b";
    static constexpr char kPieceB[] = "&Sm7";
    static constexpr unsigned char kSecretA[] = {0x3e, 0x29, 0x01, 0x59, 0xa2, 0x5d, 0xdc,
                                                 0x7b, 0x4f, 0xa8, 0xbe, 0x6e, 0xd7, 0x47,
                                                 0xc8, 0x6c, 0xd9, 0xd8, 0x62, 0xda};
    static constexpr unsigned char kSecretB[] = {0xa0, 0x9b, 0x31, 0x53, 0x35, 0xce, 0xa8,
                                                 0xab, 0x8e, 0x8f, 0xb4, 0x18, 0x70, 0xe4,
                                                 0xc5, 0xf6, 0xf1, 0x02, 0x04, 0x2d};
    static_assert(sizeof kSecretA + sizeof kSecretB == bns::kSecretBytes);

    BnsKeyMaterial material;
    const std::string phrase = std::string(kPieceA) + kPieceB;
    material.passPhrase.assign(phrase.begin(), phrase.end());
    std::copy(std::begin(kSecretA), std::end(kSecretA), material.secret.begin());
    std::copy(std::begin(kSecretB), std::end(kSecretB), material.secret.begin() + sizeof kSecretA);
    material.origin = "built-in stand-in";
    return material;
}

std::optional<BnsKeyMaterial> BnsKeyMaterial::FromKeyText(const std::string& text,
                                                          std::string* error) {
    BnsKeyMaterial material;
    bool havePhrase = false;
    bool haveSecret = false;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        const auto equals = trimmed.find('=');
        if (equals == std::string::npos) {
            SetError(error, "line " + std::to_string(number) + " is not \"name = value\"");
            return std::nullopt;
        }
        const std::string name = Trim(trimmed.substr(0, equals));
        // The text pass phrase is taken as written, so only the line end is cut from it.
        std::string value = line.substr(line.find('=') + 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n'))
            value.pop_back();
        if (name == "passphrase") {
            const std::string phrase = Trim(value);
            material.passPhrase.assign(phrase.begin(), phrase.end());
            havePhrase = !phrase.empty();
        } else if (name == "passphrase-hex") {
            const auto bytes = ParseHex(value);
            if (!bytes || bytes->empty()) {
                SetError(error, "passphrase-hex is not whole hexadecimal bytes");
                return std::nullopt;
            }
            material.passPhrase = *bytes;
            havePhrase = true;
        } else if (name == "secret") {
            const auto bytes = ParseHex(value);
            if (!bytes || bytes->size() != bns::kSecretBytes) {
                SetError(error, "secret is not " + std::to_string(bns::kSecretBytes) +
                                    " hexadecimal bytes");
                return std::nullopt;
            }
            std::copy(bytes->begin(), bytes->end(), material.secret.begin());
            haveSecret = true;
        } else {
            SetError(error, "unknown name \"" + name + "\" on line " + std::to_string(number));
            return std::nullopt;
        }
    }
    if (!havePhrase || !haveSecret) {
        SetError(error, havePhrase ? "no secret" : "no passphrase");
        return std::nullopt;
    }
    return material;
}

std::optional<BnsKeyMaterial> BnsKeyMaterial::FromKeyFile(const std::filesystem::path& path,
                                                          std::string* error) {
    QFile file;
    switch (OpenDataFile(QString::fromStdString(path.string()), file)) {
        case DataFileOpen::kMissing:
            SetError(error, "cannot open key file " + path.string());
            return std::nullopt;
        case DataFileOpen::kNotRegular:
            SetError(error, "key file " + path.string() + " is not a regular file");
            return std::nullopt;
        case DataFileOpen::kOpened:
            break;
    }
    const QByteArray text = file.read(qint64(bns::kMaxKeyFileBytes) + 1);
    if (std::size_t(text.size()) > bns::kMaxKeyFileBytes) {
        SetError(error, "key file " + path.string() + " is too large for a key file");
        return std::nullopt;
    }
    std::string reason;
    auto material = FromKeyText(text.toStdString(), &reason);
    if (!material) {
        SetError(error, "key file " + path.string() + ": " + reason);
        return std::nullopt;
    }
    material->origin = path.string();
    return material;
}

std::optional<BnsKeyMaterial> BnsKeyMaterial::ForFolder(const std::filesystem::path& folder,
                                                        std::string* error) {
    if (const char* named = std::getenv(bns::kKeyFileVariable); named && *named)
        return FromKeyFile(named, error);
    const std::filesystem::path beside = folder / bns::kKeyFileName;
    std::error_code ec;
    if (std::filesystem::exists(beside, ec))
        return FromKeyFile(beside, error);
    return StandIn();
}

std::optional<std::string> BnsKeyMaterial::SecondPassPhrase(std::string* error) const {
    const auto first = BnsCipher::FromPassPhrase(passPhrase, error);
    if (!first)
        return std::nullopt;
    const auto plain = first->Decrypt(secret);
    if (!plain) {
        SetError(error, "the secret does not decrypt with the pass phrase's key");
        return std::nullopt;
    }
    const auto end = std::find(plain->begin(), plain->end(), '\0');
    if (end == plain->begin()) {
        SetError(error, "the secret decrypts to an empty pass phrase");
        return std::nullopt;
    }
    return std::string(plain->begin(), end);
}

std::optional<BnsCipher> BnsKeyMaterial::FileKey(std::string* error) const {
    const auto phrase = SecondPassPhrase(error);
    if (!phrase)
        return std::nullopt;
    return BnsCipher::FromPassPhrase(
        std::span(reinterpret_cast<const unsigned char*>(phrase->data()), phrase->size()), error);
}
