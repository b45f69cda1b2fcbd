// Blowfish over little-endian block halves, for the configuration values.
//
// Owns blowfishState. decipherHexText and encipherText set it up from the key
// at their start and wipe it at their end; nothing else writes it.
#include "frame/cipher.h"

#include <cstring>

#include "frame/blowfish_tables.h"
#include "frame/platform.h"

constinit BlowfishState blowfishState{};

namespace {

constexpr int kRounds = 16;
constexpr std::size_t kBlockBytes = 8;
constexpr std::size_t kGroupChars = 2 * kBlockBytes;

std::uint32_t roundFunction(const BlowfishState& state, std::uint32_t x) {
    std::uint32_t h = state.S[0][x >> 24] + state.S[1][(x >> 16) & 0xFF];
    return (h ^ state.S[2][(x >> 8) & 0xFF]) + state.S[3][x & 0xFF];
}

// Sixteen Feistel rounds; deciphering is the same walk with the P-array
// taken from its end.
void runRounds(const BlowfishState& state, std::uint32_t& left, std::uint32_t& right,
               bool backwards) {
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (int i = 0; i < kRounds; ++i) {
        l ^= state.P[backwards ? kRounds + 1 - i : i];
        r ^= roundFunction(state, l);
        std::uint32_t t = l;
        l = r;
        r = t;
    }
    // The last round does not swap.
    right = l ^ state.P[backwards ? 1 : kRounds];
    left = r ^ state.P[backwards ? 0 : kRounds + 1];
}

// Only upper-case letters count as hex letters; everything else is taken as
// a digit, so a lower-case "a" counts as 49. Existing files rely on nothing
// else, and deciphering must not refuse any text.
unsigned hexValue(unsigned char ch) {
    if (ch >= 'A' && ch <= 'F') return ch - 55u;
    return static_cast<unsigned char>(ch - 48u);
}

std::uint32_t readHalf(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void writeHalf(std::uint32_t half, unsigned char* bytes) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(half >> (8 * i));
}

// Decodes the 16 characters at group into 8 bytes; characters past count
// (a short last group) count as "0".
void decodeGroup(const char* group, std::size_t count, unsigned char* bytes) {
    for (std::size_t i = 0; i < kBlockBytes; ++i) {
        unsigned char hi = 2 * i < count ? group[2 * i] : '0';
        unsigned char lo = 2 * i + 1 < count ? group[2 * i + 1] : '0';
        bytes[i] = static_cast<unsigned char>(hexValue(hi) * 16 + hexValue(lo));
    }
}

// Runs the 8 bytes at block through the cipher in place, each half read
// and written back little-endian.
void cipherBlockInPlace(unsigned char* block, bool backwards) {
    std::uint32_t left = readHalf(block);
    std::uint32_t right = readHalf(block + 4);
    runRounds(blowfishState, left, right, backwards);
    writeHalf(left, block);
    writeHalf(right, block + 4);
}

void setupFromText(const char* key) {
    setupBlowfishKey(blowfishState, reinterpret_cast<const unsigned char*>(key), std::strlen(key));
}

}  // namespace

void setupBlowfishKey(BlowfishState& state, const unsigned char* key, std::size_t keyLength) {
    std::memcpy(state.S, kInitialS, sizeof state.S);
    std::size_t k = 0;
    for (int i = 0; i < 18; ++i) {
        std::uint32_t word = 0;
        for (int b = 0; b < 4; ++b) {
            word = word << 8 | (keyLength > 0 ? key[k] : 0u);
            if (keyLength > 0) k = (k + 1) % keyLength;
        }
        state.P[i] = kInitialP[i] ^ word;
    }
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    for (int i = 0; i < 18; i += 2) {
        encryptBlock(state, left, right);
        state.P[i] = left;
        state.P[i + 1] = right;
    }
    for (auto& box : state.S) {
        for (int i = 0; i < 256; i += 2) {
            encryptBlock(state, left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
}

void encryptBlock(const BlowfishState& state, std::uint32_t& left, std::uint32_t& right) {
    runRounds(state, left, right, false);
}

void decryptBlock(const BlowfishState& state, std::uint32_t& left, std::uint32_t& right) {
    runRounds(state, left, right, true);
}

int decipherHexText(const char* hexText, char* out, const char* key) {
    setupFromText(key);
    std::size_t n = std::strlen(hexText);
    std::size_t k = 0;
    for (; k < n; k += kGroupChars) {
        unsigned char* block = reinterpret_cast<unsigned char*>(out + k / 2);
        decodeGroup(hexText + k, n - k, block);
        cipherBlockInPlace(block, true);
    }
    out[k / 2] = '\0';
    wipeMemory(&blowfishState, sizeof blowfishState);
    return 1;
}

std::size_t encipheredHexLength(std::size_t length) {
    return (length / kBlockBytes + 1) * kGroupChars;
}

int encipherText(const char* text, char* hexOut, std::size_t hexSize, const char* key) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::size_t length = std::strlen(text);
    std::size_t hexLength = encipheredHexLength(length);
    if (hexSize > 0) hexOut[0] = '\0';
    if (hexLength >= hexSize) return -1;
    setupFromText(key);
    unsigned char block[kBlockBytes];
    for (std::size_t pos = 0; pos < hexLength / 2; pos += kBlockBytes) {
        for (std::size_t i = 0; i < kBlockBytes; ++i) {
            block[i] = pos + i < length ? static_cast<unsigned char>(text[pos + i]) : 0;
        }
        cipherBlockInPlace(block, false);
        for (std::size_t i = 0; i < kBlockBytes; ++i) {
            hexOut[2 * (pos + i)] = kDigits[block[i] >> 4];
            hexOut[2 * (pos + i) + 1] = kDigits[block[i] & 0x0F];
        }
    }
    hexOut[hexLength] = '\0';
    wipeMemory(block, sizeof block);
    wipeMemory(&blowfishState, sizeof blowfishState);
    return static_cast<int>(hexLength);
}
