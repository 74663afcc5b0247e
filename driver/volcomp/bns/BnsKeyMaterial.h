#pragma once
// BnsKeyMaterial: what unlocks enciphered B&S maps ("comp.enc"), and the file key made from
// it.
//
// The key is made in two stages: the MD5 hash of the first pass phrase gives an RC2 key that
// decrypts the 40-byte secret into the second pass phrase; the MD5 hash of that text gives
// the file key, which decrypts every line of the map (BnsCipher). The supplier's material is
// not built into the driver: it carries stand-in material of its own, and a user who has the
// supplier's material puts it in a key file (format in docs/compensation-bns.md) named by
// the environment variable TACTUS_BNS_KEY_FILE or placed as "comp.key" beside "comp.enc".
// Plain values; any thread. Failures are empty results with a reason in `error`.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "driver/volcomp/bns/BnsCipher.h"
#include "driver/volcomp/bns/BnsFormat.h"

struct BnsKeyMaterial {
    // The first pass phrase, byte for byte as it is hashed.
    std::vector<unsigned char> passPhrase;
    // The second pass phrase enciphered with the first pass phrase's key.
    std::array<unsigned char, bns::kSecretBytes> secret{};
    // Where the material came from, for the debug log ("built-in stand-in" or a file name).
    std::string origin;

    // The material compiled into the driver (not the supplier's).
    static BnsKeyMaterial StandIn();

    // Reads a key file: lines "passphrase = TEXT" (or "passphrase-hex = HEX") and
    // "secret = HEX" (40 bytes); blank lines and lines starting with '#' are skipped.
    static std::optional<BnsKeyMaterial> FromKeyFile(const std::filesystem::path& path,
                                                     std::string* error = nullptr);
    // Parses the text of a key file (origin is left empty).
    static std::optional<BnsKeyMaterial> FromKeyText(const std::string& text,
                                                     std::string* error = nullptr);

    // The material for maps in `folder`: the file named by TACTUS_BNS_KEY_FILE when that is
    // set, else "comp.key" in folder when it exists, else the stand-in. A named or present
    // key file that cannot be read is an error, never a silent switch to the stand-in.
    static std::optional<BnsKeyMaterial> ForFolder(const std::filesystem::path& folder,
                                                   std::string* error = nullptr);

    // Stage 1: the second pass phrase (the decrypted secret up to its first NUL byte).
    std::optional<std::string> SecondPassPhrase(std::string* error = nullptr) const;
    // Stage 2: the file key.
    std::optional<BnsCipher> FileKey(std::string* error = nullptr) const;
};
