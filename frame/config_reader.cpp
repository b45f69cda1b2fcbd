// The configuration file reader: scans the file anew for every request.
//
// Owns configEntry; only readConfigValue writes it. Lines are read whole,
// however long, so a long line never splits into two and shifts the pairing
// of header and data lines; fields are then cut at their widths.
#include "frame/config_reader.h"

#include <sys/types.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/cipher.h"
#include "frame/wipe.h"

constinit ConfigEntry configEntry{};

namespace {

constexpr std::size_t kNumberWidth = 11;
constexpr std::size_t kHexLimit = decltype(ConfigEntry::value)::capacity - 1;
// Eight bytes for every started group of 16 hex characters, and the terminator.
constexpr std::size_t kPlainSize = (kHexLimit + 15) / 16 * 8 + 1;

template <std::size_t N>
void assignPart(FixedText<N>& field, const char* begin, const char* end) {
    std::size_t n = static_cast<std::size_t>(end - begin);
    if (n > N - 1) n = N - 1;
    field.assignFormat("%.*s", static_cast<int>(n), begin);
}

// The field between the first and the second ";" of a line. When the two
// stand side by side the field is the rest of the line from its start, the
// closing ";" and the line feed included: files written for this reader
// have always been read that way, so such a field never equals a plain
// name. With fewer than two ";" the field is empty. Returns the second
// ";", or nullptr when there is none.
const char* namedField(const char* line, std::size_t length, FixedText<201>& field) {
    field.clear();
    const char* end = line + length;
    const char* first = static_cast<const char*>(std::memchr(line, ';', length));
    if (first == nullptr) return nullptr;
    const char* start = first + 1;
    const char* second = static_cast<const char*>(std::memchr(start, ';', end - start));
    if (second == nullptr) return nullptr;
    assignPart(field, start, second == start ? end : second);
    return second;
}

// Reads the next line whole into *line (growing it as needed). A carriage
// return right before the line feed is not part of the line. Returns the
// length, or -1 at the end of the file.
ssize_t readLine(char** line, std::size_t* capacity, std::FILE* file) {
    ssize_t n = getline(line, capacity, file);
    if (n >= 2 && (*line)[n - 2] == '\r' && (*line)[n - 1] == '\n') {
        (*line)[n - 2] = '\n';
        (*line)[--n] = '\0';
    }
    return n;
}

bool isSelected(const ConfigEntry& entry, const char* section, const char* key, int number) {
    return std::strcmp(entry.section.text, section) == 0 || std::strcmp(entry.key.text, key) == 0 ||
           entry.number == number;
}

void decipherValue(ConfigEntry& entry) {
    char plain[kPlainSize];
    decipherHexText(entry.value.text, plain, kConfigKey);
    entry.value.assign(plain);
    wipeMemory(plain, sizeof plain);
}

// The lines are as good as plain text (the key is built in), so they are
// wiped before their memory goes back.
void releaseLine(char* line, std::size_t capacity) {
    if (line == nullptr) return;
    wipeMemory(line, capacity);
    std::free(line);
}

}  // namespace

int parseConfigPair(const char* header, std::size_t headerLength, const char* data,
                    std::size_t dataLength, ConfigEntry& entry) {
    entry = ConfigEntry{};
    namedField(header, headerLength, entry.section);
    const char* secondSemicolon = namedField(data, dataLength, entry.key);
    if (secondSemicolon == nullptr) {
        entry.key.clear();
        return 0;
    }
    FixedText<kNumberWidth + 1> number{};
    assignPart(number, data, static_cast<const char*>(std::memchr(data, ';', dataLength)));
    long value = std::strtol(number.text, nullptr, 10);
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    entry.number = static_cast<std::int32_t>(value);
    const char* valueStart = secondSemicolon + 1;
    const char* end = data + dataLength;
    const char* lineFeed =
        static_cast<const char*>(std::memchr(valueStart, '\n', end - valueStart));
    assignPart(entry.value, valueStart, lineFeed != nullptr ? lineFeed : end);
    return 1;
}

const char* readConfigValue(const char* section, const char* key, int number, const char* path) {
    configEntry = ConfigEntry{};
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return configEntry.value.text;
    char* header = nullptr;
    std::size_t headerCapacity = 0;
    char* data = nullptr;
    std::size_t dataCapacity = 0;
    for (;;) {
        ssize_t headerLength = readLine(&header, &headerCapacity, file);
        ssize_t dataLength = readLine(&data, &dataCapacity, file);
        if (headerLength < 0 || dataLength < 0) break;
        int rc = parseConfigPair(header, static_cast<std::size_t>(headerLength), data,
                                 static_cast<std::size_t>(dataLength), configEntry);
        if (rc == 1 && isSelected(configEntry, section, key, number)) {
            decipherValue(configEntry);
            break;
        }
        configEntry = ConfigEntry{};
    }
    releaseLine(header, headerCapacity);
    releaseLine(data, dataCapacity);
    std::fclose(file);
    return configEntry.value.text;
}
