// The cipher of the configuration values.
//
// Every value in the configuration file is the upper-case hex text of a text
// enciphered with Blowfish (16 rounds, 64-bit blocks, one block after the
// other) under a fixed key. Each 8-byte block is read as two 32-bit halves
// in little-endian order, which is what existing configuration files were
// written with; the usual big-endian reading does not decipher them.
//
// Owns blowfishState, the one key schedule of the process: each call sets it
// up from the key, uses it and overwrites it with zeros, so between calls it
// is all zero. Calls must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>

// The key every configuration value is enciphered with.
inline constexpr char kConfigKey[] = "VORKLAN";

struct BlowfishState {
    std::uint32_t P[18];
    std::uint32_t S[4][256];
};

extern BlowfishState blowfishState;

// The standard Blowfish key schedule from keyLength key bytes (taken
// cyclically) into state.
void setupBlowfishKey(BlowfishState& state, const unsigned char* key, std::size_t keyLength);

// One block through the cipher, halves as 32-bit words.
void encryptBlock(const BlowfishState& state, std::uint32_t& left, std::uint32_t& right);
void decryptBlock(const BlowfishState& state, std::uint32_t& left, std::uint32_t& right);

// Deciphers hexText under key (its bytes up to the terminator) into out and
// terminates it after the last block. out must hold 8 bytes for every started
// group of 16 hex characters plus one; a last group shorter than 16 is
// completed with "0". Only "0"-"9" and "A"-"F" are hex digits; any other
// character is decoded all the same and gives other bytes. Always returns 1.
int decipherHexText(const char* hexText, char* out, const char* key);

// The size of the out buffer decipherHexText needs for hexLength hex
// characters: 8 bytes for every started group of 16, and the terminator.
constexpr std::size_t decipheredSize(std::size_t hexLength) {
    return (hexLength + 15) / 16 * 8 + 1;
}

// Number of hex characters encipherText writes for a text of length
// characters (without the terminator).
std::size_t encipheredHexLength(std::size_t length);

// The inverse of decipherHexText: enciphers text under key and writes it as
// upper-case hex into hexOut. The last block is filled up with zero bytes,
// and a text whose length is a multiple of 8 (also an empty one) gets a
// further all-zero block, so the deciphered text always ends at a zero byte.
// Returns the number of hex characters written, or -1 when hexSize cannot
// hold them and a terminator (hexOut then holds an empty text).
int encipherText(const char* text, char* hexOut, std::size_t hexSize, const char* key);
