// Token-wise masking of the password; see the header.
#include "frame/secret_mask.h"

#include <cstring>

namespace {

constexpr char kMask[] = "***";

bool isWordByte(char ch) {
    const auto b = static_cast<unsigned char>(ch);
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_' ||
           b >= 0x80;
}

}  // namespace

int maskPassword(const char* text, const char* password, char* out, std::size_t outSize) {
    if (outSize == 0) return 0;
    const std::size_t length = std::strlen(text);
    const std::size_t pwLength = std::strlen(password);
    std::size_t at = 0;
    std::size_t used = 0;
    int replaced = 0;
    auto put = [&](const char* part, std::size_t n) {
        for (std::size_t i = 0; i < n && used + 1 < outSize; ++i) out[used++] = part[i];
    };
    while (at < length) {
        const bool token = pwLength > 0 && at + pwLength <= length &&
                           std::memcmp(text + at, password, pwLength) == 0 &&
                           (at == 0 || !isWordByte(text[at - 1])) &&
                           (at + pwLength == length || !isWordByte(text[at + pwLength]));
        if (token) {
            put(kMask, sizeof kMask - 1);
            at += pwLength;
            ++replaced;
            continue;
        }
        put(text + at, 1);
        ++at;
    }
    out[used] = '\0';
    return replaced;
}
