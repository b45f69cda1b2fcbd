// The cipher of the configuration values: the Blowfish core against the
// published test vectors, the little-endian block halves that existing files
// depend on, the hex decoding rules, and the round trip through kelbor-config.
#include "frame/cipher.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/support.h"

namespace {

std::vector<unsigned char> fromHex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string toHex(const std::vector<unsigned char>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 0x0F];
    }
    return hex;
}

std::uint32_t bigEndianWord(const unsigned char* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// Reverses the bytes within each 4-byte half of every 8-byte block.
std::vector<unsigned char> swapHalves(std::vector<unsigned char> bytes) {
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        std::swap(bytes[i], bytes[i + 3]);
        std::swap(bytes[i + 1], bytes[i + 2]);
    }
    return bytes;
}

// Runs decipherHexText with the whole output buffer visible.
std::vector<unsigned char> decipherRaw(const std::string& hex, const char* key,
                                       std::size_t bufferSize = 64) {
    std::vector<unsigned char> out(bufferSize, 0xAA);
    decipherHexText(hex.c_str(), reinterpret_cast<char*>(out.data()), key);
    // Eight bytes for every started group of 16 hex characters, then the
    // terminator.
    const std::size_t end = (hex.size() + 15) / 16 * 8;
    if (end < out.size()) {
        EXPECT_EQ(out[end], 0) << hex;
    }
    return out;
}

std::string decipherText(const std::string& hex) {
    std::vector<unsigned char> out = decipherRaw(hex, kConfigKey, hex.size() / 2 + 16);
    return reinterpret_cast<const char*>(out.data());
}

std::string encipherValue(const std::string& text) {
    std::vector<char> hex(encipheredHexLength(text.size()) + 1);
    EXPECT_EQ(encipherText(text.c_str(), hex.data(), hex.size(), kConfigKey),
              static_cast<int>(hex.size() - 1));
    return hex.data();
}

bool stateIsZero() {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&blowfishState);
    for (std::size_t i = 0; i < sizeof blowfishState; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Published Blowfish test vectors (key, plain text, cipher text), written
// in the usual big-endian convention.
const Vector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
};

TEST(Cipher, PublishedVectorsHoldForTheBlockCore) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.key);
        std::vector<unsigned char> key = fromHex(v.key);
        std::vector<unsigned char> plain = fromHex(v.plain);
        std::vector<unsigned char> cipher = fromHex(v.cipher);
        BlowfishState state{};
        setupBlowfishKey(state, key.data(), key.size());
        std::uint32_t left = bigEndianWord(plain.data());
        std::uint32_t right = bigEndianWord(plain.data() + 4);
        encryptBlock(state, left, right);
        EXPECT_EQ(left, bigEndianWord(cipher.data()));
        EXPECT_EQ(right, bigEndianWord(cipher.data() + 4));
        decryptBlock(state, left, right);
        EXPECT_EQ(left, bigEndianWord(plain.data()));
        EXPECT_EQ(right, bigEndianWord(plain.data() + 4));
    }
}

TEST(Cipher, PublishedVectorsDecipherWithEachHalfReversed) {
    for (const Vector& v : kVectors) {
        std::vector<unsigned char> key = fromHex(v.key);
        // decipherHexText takes the key as a text, so keys with a zero byte
        // cannot be handed to it.
        if (std::memchr(key.data(), 0, key.size()) != nullptr) continue;
        SCOPED_TRACE(v.key);
        std::string keyText(key.begin(), key.end());
        std::string hex = toHex(swapHalves(fromHex(v.cipher)));
        std::vector<unsigned char> out = decipherRaw(hex, keyText.c_str());
        std::vector<unsigned char> expected = swapHalves(fromHex(v.plain));
        EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + 8), expected);
        EXPECT_EQ(out[8], 0);
        // Read big-endian as usual, the same hex gives something else.
        std::vector<unsigned char> unswapped = decipherRaw(v.cipher, keyText.c_str());
        EXPECT_NE(std::vector<unsigned char>(unswapped.begin(), unswapped.begin() + 8),
                  fromHex(v.plain));
    }
}

TEST(Cipher, ValueEncipheredWithBigEndianHalvesDoesNotDecipher) {
    const std::string plain = "Passwort";  // one whole block
    BlowfishState state{};
    setupBlowfishKey(state, reinterpret_cast<const unsigned char*>(kConfigKey),
                     std::strlen(kConfigKey));
    auto encipherBlock = [&](bool bigEndian) {
        std::vector<unsigned char> block(plain.begin(), plain.end());
        if (!bigEndian) block = swapHalves(block);
        std::uint32_t left = bigEndianWord(block.data());
        std::uint32_t right = bigEndianWord(block.data() + 4);
        encryptBlock(state, left, right);
        std::vector<unsigned char> out(8);
        for (int i = 0; i < 4; ++i) {
            out[i] = static_cast<unsigned char>(left >> (24 - 8 * i));
            out[4 + i] = static_cast<unsigned char>(right >> (24 - 8 * i));
        }
        if (!bigEndian) out = swapHalves(out);
        // A zero block follows so the deciphered text is terminated.
        return toHex(out) + encipherValue("").substr(0, 16);
    };
    EXPECT_NE(decipherText(encipherBlock(true)), plain);
    EXPECT_EQ(decipherText(encipherBlock(false)), plain);
    EXPECT_EQ(encipherBlock(false), encipherValue(plain));
}

TEST(Cipher, HexDecodingKnowsOnlyUpperCaseLetters) {
    // A lower-case letter counts as its code minus 48: "a" is 49, so "a0"
    // is the byte 0x10 and "0a" the byte 0x31.
    EXPECT_EQ(decipherRaw("a000000000000000", kConfigKey),
              decipherRaw("1000000000000000", kConfigKey));
    EXPECT_EQ(decipherRaw("0a00000000000000", kConfigKey),
              decipherRaw("3100000000000000", kConfigKey));
    std::string hex = encipherValue("sa");
    std::string lower = hex;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    ASSERT_NE(lower, hex);
    EXPECT_EQ(decipherText(hex), "sa");
    EXPECT_NE(decipherText(lower), "sa");
}

TEST(Cipher, OutputLengthFollowsTheGroups) {
    // Empty text: only the terminator is written.
    std::vector<unsigned char> empty = decipherRaw("", kConfigKey, 4);
    EXPECT_EQ(empty[0], 0);
    EXPECT_EQ(empty[1], 0xAA);

    // 32 hex characters: 16 bytes and a terminator; a text of 8 to 15
    // characters comes back whole because the rest of its second block is zero.
    std::string hex = encipherValue("Kennwort1234");
    ASSERT_EQ(hex.size(), 32u);
    std::vector<unsigned char> out = decipherRaw(hex, kConfigKey);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data())), "Kennwort1234");
    EXPECT_EQ(out[16], 0);
    EXPECT_EQ(out[17], 0xAA);

    // A text of exactly 16 characters gets a third, all-zero block.
    EXPECT_EQ(encipherValue("sechzehn Zeichen").size(), 48u);
    EXPECT_EQ(decipherText(encipherValue("sechzehn Zeichen")), "sechzehn Zeichen");
}

TEST(Cipher, ShortLastGroupIsCompletedWithZeros) {
    std::string hex = "0123456789ABCDEF0123456789AB";  // 28 characters
    std::vector<unsigned char> shortOut = decipherRaw(hex, kConfigKey);
    std::vector<unsigned char> fullOut = decipherRaw(hex + "0000", kConfigKey);
    EXPECT_EQ(shortOut, fullOut);
    EXPECT_EQ(shortOut[16], 0);
    EXPECT_NE(shortOut, decipherRaw(hex + "1000", kConfigKey));
}

TEST(Cipher, StateIsAllZeroAfterEveryCall) {
    std::string hex = encipherValue("geheim");
    EXPECT_TRUE(stateIsZero());
    decipherRaw(hex, kConfigKey);
    EXPECT_TRUE(stateIsZero());
    decipherRaw("", kConfigKey);
    EXPECT_TRUE(stateIsZero());
}

// What kelbor-config writes, the batch reads back: texts of every length the
// tool accepts, with arbitrary bytes (no line ends, no zero byte).
TEST(Cipher, ToolEnciphersWhatTheBatchDeciphers) {
    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> byte(1, 255);
    for (std::size_t length = 0; length <= 50; ++length) {
        std::string text;
        while (text.size() < length) {
            char ch = static_cast<char>(byte(random));
            if (ch != '\n' && ch != '\r') text += ch;
        }
        SCOPED_TRACE(length);
        kt::RunResult r = kt::runProgram({kt::configBinary(), "encipher"}, "", {}, text + "\n");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ASSERT_FALSE(r.out.empty());
        std::string hex = r.out.substr(0, r.out.size() - 1);
        EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
        EXPECT_EQ(hex.size() % 16, 0u);
        EXPECT_EQ(decipherText(hex), text);
        kt::RunResult back = kt::runProgram({kt::configBinary(), "decipher", hex}, "");
        EXPECT_EQ(back.out, text + "\n");
    }
    kt::RunResult tooLong =
        kt::runProgram({kt::configBinary(), "encipher"}, "", {}, std::string(51, 'x') + "\n");
    EXPECT_NE(tooLong.exitCode, 0);
    EXPECT_FALSE(tooLong.err.empty());
}

}  // namespace
