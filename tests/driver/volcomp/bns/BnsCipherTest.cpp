// The enciphered-map key: the RC2 parameters against libcrypto's own 40-bit RC2, the MD5
// key derivation, and where the key material comes from.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QTemporaryDir>
#include <fstream>

#include "driver/volcomp/bns/BnsCipher.h"
#include "driver/volcomp/bns/BnsKeyMaterial.h"
#include "tests/driver/volcomp/bns/BnsTestMaps.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string HexOf(const std::array<unsigned char, 40>& bytes) {
    return bnstest::Hex(std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

}  // namespace

TEST(BnsCipher, KeyIsTheStartOfTheMd5Hash) {
    // MD5("") = d41d8cd98f00b204..., MD5("abc") = 900150983cd24fb0...
    struct Row {
        std::string phrase;
        BnsCipher::Key key;
    };
    const Row rows[] = {{"", {0xd4, 0x1d, 0x8c, 0xd9, 0x8f}},
                        {"abc", {0x90, 0x01, 0x50, 0x98, 0x3c}}};
    for (const Row& row : rows) {
        const auto cipher = BnsCipher::FromPassPhrase(Bytes(row.phrase));
        ASSERT_TRUE(cipher) << "libcrypto with its legacy provider";
        EXPECT_EQ(cipher->KeyBytes(), row.key) << '"' << row.phrase << '"';
    }
}

TEST(BnsCipher, DecryptsWhatFortyBitRc2Enciphers) {
    // Lengths around the block size check the padding (a whole block is padded by one more).
    const auto key = bnstest::KeyFromPassPhrase("pass");
    const auto cipher = BnsCipher::FromKey(key);
    ASSERT_TRUE(cipher);
    for (const std::size_t length : {0u, 1u, 7u, 8u, 9u, 16u, 47u}) {
        const std::vector<unsigned char> plain(length, static_cast<unsigned char>('0' + length));
        const auto cipherText = bnstest::Rc2(key, plain, true);
        EXPECT_EQ(cipherText.size(), (length / 8 + 1) * 8);
        EXPECT_EQ(cipher->Decrypt(cipherText), plain) << "length " << length;
    }
    const auto block = bnstest::Rc2(key, Bytes("12.5"), true);
    struct Row {
        const char* legend;
        std::vector<unsigned char> cipherText;
    };
    const Row failures[] = {
        {"empty", {}},
        {"not whole blocks", std::vector<unsigned char>(block.begin(), block.end() - 1)},
        {"another key", bnstest::Rc2(bnstest::KeyFromPassPhrase("other"), Bytes("12.5"), true)},
    };
    for (const Row& row : failures)
        EXPECT_FALSE(cipher->Decrypt(row.cipherText)) << row.legend;
}

TEST(BnsKeyMaterial, StandInGivesTheTwoStageFileKey) {
    const BnsKeyMaterial standIn = BnsKeyMaterial::StandIn();
    EXPECT_EQ(standIn.passPhrase.size(), 8u);
    const auto phrase = standIn.SecondPassPhrase();
    ASSERT_TRUE(phrase);
    EXPECT_FALSE(phrase->empty());
    const auto key = standIn.FileKey();
    ASSERT_TRUE(key);
    EXPECT_EQ(key->KeyBytes(), bnstest::FileKey(standIn.passPhrase, standIn.secret));
}

TEST(BnsKeyMaterial, KeyFileText) {
    const BnsKeyMaterial standIn = BnsKeyMaterial::StandIn();
    const std::string phrase(standIn.passPhrase.begin(), standIn.passPhrase.end());
    const std::string secret = "secret = " + HexOf(standIn.secret) + "\n";
    struct Row {
        const char* legend;
        std::string text;
        const char* error;  // null: accepted with the stand-in's key
    };
    const Row rows[] = {
        {"text pass phrase, comments, CR LF",
         "# supplier key\r\npassphrase = " + phrase + "\r\n" + secret, nullptr},
        {"hexadecimal pass phrase, spaced secret",
         "passphrase-hex = " + bnstest::Hex(standIn.passPhrase) + "\nsecret = 3e 29" +
             HexOf(standIn.secret).substr(4) + "\n",
         nullptr},
        {"no secret", "passphrase = " + phrase + "\n", "no secret"},
        {"no pass phrase", secret, "no passphrase"},
        {"short secret", "passphrase = x\nsecret = 0011\n", "secret is not 40"},
        {"secret not hexadecimal", "passphrase = x\nsecret = zz\n", "secret is not 40"},
        {"unknown name", "passphrase = x\n" + secret + "salt = 1\n", "unknown name \"salt\""},
        {"a line without =", "passphrase x\n", "line 1 is not"},
    };
    for (const Row& row : rows) {
        std::string error;
        const auto material = BnsKeyMaterial::FromKeyText(row.text, &error);
        EXPECT_EQ(bool(material), row.error == nullptr) << row.legend << ": " << error;
        if (material)
            EXPECT_EQ(material->FileKey()->KeyBytes(), standIn.FileKey()->KeyBytes()) << row.legend;
        else
            EXPECT_NE(error.find(row.error), std::string::npos) << row.legend << ": " << error;
    }
}

TEST(BnsKeyMaterial, SourceForAFolder) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const BnsKeyMaterial standIn = BnsKeyMaterial::StandIn();
    // Material of its own: another first pass phrase that opens a secret of its own.
    const auto first = bnstest::KeyFromPassPhrase("0therKey");
    const auto secret = bnstest::Rc2(first, Bytes("a second pass phrase of our own, longer"), true);
    ASSERT_EQ(secret.size(), 40u);
    const std::string keyText = "passphrase = 0therKey\nsecret = " + bnstest::Hex(secret) + "\n";

    unsetenv(bns::kKeyFileVariable);
    auto material = BnsKeyMaterial::ForFolder(folder);
    ASSERT_TRUE(material);
    EXPECT_EQ(material->origin, "built-in stand-in") << "no key file anywhere";

    WriteFile(folder + "/comp.key", keyText);
    material = BnsKeyMaterial::ForFolder(folder);
    ASSERT_TRUE(material);
    EXPECT_EQ(material->SecondPassPhrase(), "a second pass phrase of our own, longer");

    WriteFile(folder + "/named.key",
              "passphrase = " + std::string(standIn.passPhrase.begin(), standIn.passPhrase.end()) +
                  "\nsecret = " + HexOf(standIn.secret) + "\n");
    setenv(bns::kKeyFileVariable, (folder + "/named.key").c_str(), 1);
    material = BnsKeyMaterial::ForFolder(folder);
    ASSERT_TRUE(material);
    EXPECT_EQ(material->origin, dir.filePath("named.key").toStdString())
        << "the variable wins over comp.key";

    setenv(bns::kKeyFileVariable, (folder + "/missing.key").c_str(), 1);
    std::string error;
    EXPECT_FALSE(BnsKeyMaterial::ForFolder(folder, &error)) << "never the stand-in instead";
    EXPECT_NE(error.find("missing.key"), std::string::npos) << error;
    unsetenv(bns::kKeyFileVariable);
}
