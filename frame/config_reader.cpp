// The configuration file reader: scans the file anew for every request.
//
// Owns configEntry; only readConfigValue and wipeConfigEntry write it. The file is read only
// when it is a regular file, so a FIFO or a device given as the path can
// neither hang the batch nor feed it without end. Each line is kept to its
// limit (header lines 199 bytes, data lines 399, the line feed included);
// the rest of a longer line is skipped to its line feed, so the pairing of
// header and data lines holds, and a pair with an over-long line is never
// selected: its fields could not be read whole.
#include "frame/config_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/cipher.h"
#include "frame/platform.h"

constinit ConfigEntry configEntry{};

namespace {

constexpr std::size_t kNumberWidth = 11;
constexpr std::size_t kHexLimit = decltype(ConfigEntry::value)::capacity - 1;
constexpr std::size_t kPlainSize = decipheredSize(kHexLimit);

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

// One line as read: at most its limit of bytes, terminated.
template <std::size_t Limit>
struct ConfigLine {
    char text[Limit + 1];
    std::size_t length;
    bool tooLong;  // the line had more bytes than its limit; they were skipped
};

// Reads the next line into line. A carriage return right before the line
// feed is not part of the line. Returns 0, or -1 at the end of the file.
template <std::size_t Limit>
int readLine(std::FILE* file, ConfigLine<Limit>& line) {
    line.length = 0;
    line.tooLong = false;
    bool any = false;
    for (int c = std::getc(file); c != EOF; c = std::getc(file)) {
        any = true;
        if (c == '\r') {
            int next = std::getc(file);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                std::ungetc(next, file);
            }
        }
        if (line.length < Limit) {
            line.text[line.length++] = static_cast<char>(c);
        } else {
            line.tooLong = true;
        }
        if (c == '\n') break;
    }
    line.text[line.length] = '\0';
    return any ? 0 : -1;
}

// Opens path for reading when it is a regular file; nullptr otherwise.
std::FILE* openConfigFile(const char* path) {
    int error = 0;
    int fd = openInputFile(path, LinkRule::kFollow, error);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) closeFile(fd);
    return file;
}

bool isSelected(const ConfigEntry& entry, const char* section, const char* key, int number) {
    return std::strcmp(entry.section.text, section) == 0 || std::strcmp(entry.key.text, key) == 0 ||
           entry.number == number;
}

// The request readConfigValue walks the file for.
struct ConfigRequest {
    const char* section;
    const char* key;
    int number;
};

void decipherValue(ConfigEntry& entry) {
    char plain[kPlainSize];
    decipherHexText(entry.value.text, plain, kConfigKey);
    entry.value.assign(plain);
    wipeMemory(plain, sizeof plain);
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

void wipeConfigEntry() {
    wipeMemory(&configEntry, sizeof configEntry);
}

int walkConfigPairs(const char* path, ConfigPairVisit visit, void* context) {
    std::FILE* file = openConfigFile(path);
    if (file == nullptr) return -1;
    ConfigLine<kConfigHeaderLimit> header{};
    ConfigLine<kConfigDataLimit> data{};
    ConfigEntry entry{};
    for (int headerLine = 1;; headerLine += 2) {
        int headerRc = readLine(file, header);
        int dataRc = readLine(file, data);
        if (headerRc != 0 || dataRc != 0) break;
        PairVerdict verdict = PairVerdict::kUsable;
        entry = ConfigEntry{};
        if (header.tooLong) {
            verdict = PairVerdict::kHeaderTooLong;
        } else if (data.tooLong) {
            verdict = PairVerdict::kDataTooLong;
        } else if (parseConfigPair(header.text, header.length, data.text, data.length, entry) ==
                   0) {
            verdict = PairVerdict::kNoEntry;
        }
        if (!visit(entry, verdict, headerLine, context)) break;
    }
    // The lines are as good as plain text (the key is built in).
    wipeMemory(&header, sizeof header);
    wipeMemory(&data, sizeof data);
    wipeMemory(&entry, sizeof entry);
    std::fclose(file);
    return 0;
}

namespace {

bool selectRequested(const ConfigEntry& entry, PairVerdict verdict, int, void* context) {
    const ConfigRequest& request = *static_cast<const ConfigRequest*>(context);
    if (verdict != PairVerdict::kUsable) return true;
    if (!isSelected(entry, request.section, request.key, request.number)) return true;
    configEntry = entry;
    decipherValue(configEntry);
    return false;
}

}  // namespace

const char* readConfigValue(const char* section, const char* key, int number, const char* path) {
    configEntry = ConfigEntry{};
    ConfigRequest request{section, key, number};
    walkConfigPairs(path, selectRequested, &request);
    return configEntry.value.text;
}
