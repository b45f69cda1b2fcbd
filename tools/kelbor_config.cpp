// kelbor-config: writes and reads kelbor's configuration file.
//
// The batch only reads the file; this tool produces it. Every value is
// enciphered with the same cipher, key and block byte order the batch
// deciphers with (frame/cipher.h), so what this tool writes is exactly what
// the batch will see. The password never comes from the command line, which
// other users can read: it is asked for without echo, or read from standard
// input with --password-stdin.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/cipher.h"
#include "frame/config_reader.h"
#include "frame/schema_name.h"
#include "frame/wipe.h"

namespace {

constexpr char kUsage[] =
    "Usage:\n"
    "  kelbor-config write FILE --login NAME --dsn DSN --schema NAME [--password-stdin]\n"
    "      Writes FILE (mode 0600, replacing it) with the four entries LOGIN, PASS,\n"
    "      DATABASE and SCHEMA. The password is asked for without echo, or read as one\n"
    "      line from standard input with --password-stdin. The schema is given as the\n"
    "      tables are qualified (e.g. qrv); it is stored followed by \".\".\n"
    "  kelbor-config show FILE [--reveal]\n"
    "      Prints the file's entries deciphered; the password as *** unless --reveal.\n"
    "  kelbor-config encipher\n"
    "      Reads one line from standard input and prints it enciphered as hex text.\n"
    "  kelbor-config decipher HEX\n"
    "      Prints what the batch deciphers HEX to.\n";

// The batch keeps at most 50 characters of a login value and hands at most
// 23 of them to the driver manager; the stored schema value holds 21, of
// which the last is dropped.
constexpr std::size_t kValueLimit = 50;
constexpr std::size_t kConnectLimit = 23;
constexpr std::size_t kSchemaLimit = 20;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Failure {
    int code;
    std::string message;
};

int fail(const Failure& f) {
    std::cerr << "kelbor-config: " << f.message << "\n";
    return f.code;
}

// Overwrites a string holding a secret before it is dropped.
void wipeString(std::string& s) {
    wipeMemory(s.data(), s.size());
    s.clear();
}

std::string encipher(const std::string& text) {
    std::vector<char> hex(encipheredHexLength(text.size()) + 1);
    encipherText(text.c_str(), hex.data(), hex.size(), kConfigKey);
    return hex.data();
}

std::string decipher(const std::string& hex) {
    std::vector<char> plain((hex.size() + 15) / 16 * 8 + 1);
    decipherHexText(hex.c_str(), plain.data(), kConfigKey);
    std::string text = plain.data();
    wipeMemory(plain.data(), plain.size());
    return text;
}

// Checks a value against what the batch can use. Returns an empty text when
// it fits, otherwise the reason; warnings go to standard error.
std::string checkValue(const std::string& what, const std::string& value) {
    if (value.size() > kValueLimit) {
        return what + " has " + std::to_string(value.size()) + " characters; at most " +
               std::to_string(kValueLimit) + " are possible";
    }
    if (value.size() > kConnectLimit) {
        std::cerr << "kelbor-config: warning: " << what << " has " << value.size()
                  << " characters; the connection uses only the first " << kConnectLimit << "\n";
    }
    return "";
}

std::string checkSchema(const std::string& schema) {
    if (schema.empty() || schema.size() > kSchemaLimit) {
        return "the schema name must have 1 to " + std::to_string(kSchemaLimit) + " characters";
    }
    for (char ch : schema) {
        bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                     (ch >= '0' && ch <= '9') || ch == '_';
        if (!plain) return "the schema name may hold only letters, digits and \"_\"";
    }
    return "";
}

// Reads one line from standard input, without its "\n" or "\r\n". Returns
// false when standard input is empty.
bool readStdinLine(std::string& line) {
    if (!std::getline(std::cin, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// Asks on the terminal with echo off. Returns false when there is no
// terminal or reading fails.
bool promptHidden(int tty, const std::string& prompt, std::string& answer) {
    termios saved{};
    if (tcgetattr(tty, &saved) != 0) return false;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    if (tcsetattr(tty, TCSAFLUSH, &quiet) != 0) return false;
    if (write(tty, prompt.data(), prompt.size()) < 0) return false;
    answer.clear();
    char ch = 0;
    bool ok = false;
    while (read(tty, &ch, 1) == 1) {
        if (ch == '\n') {
            ok = true;
            break;
        }
        answer.push_back(ch);
    }
    wipeMemory(&ch, sizeof ch);
    tcsetattr(tty, TCSAFLUSH, &saved);
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    return ok;
}

bool askPassword(std::string& password, Failure& failure) {
    int tty = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (tty < 0) {
        failure = {kExitFailure, "no terminal to ask for the password on; use --password-stdin"};
        return false;
    }
    std::string again;
    bool ok =
        promptHidden(tty, "Password: ", password) && promptHidden(tty, "Repeat password: ", again);
    close(tty);
    if (!ok) {
        failure = {kExitFailure, "could not read the password from the terminal"};
        return false;
    }
    bool same = password == again;
    wipeString(again);
    if (!same) {
        failure = {kExitFailure, "the two passwords differ"};
        return false;
    }
    return true;
}

// Writes content to a new file next to path with mode 0600 and renames it
// over path, so a reader never sees half a file and the mode holds even
// when path existed with a wider one.
bool replaceFile(const std::string& path, const std::string& content, Failure& failure) {
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        failure = {kExitFailure, "cannot create " + temp + ": " + std::strerror(errno)};
        return false;
    }
    bool ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    std::size_t done = 0;
    while (ok && done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        failure = {kExitFailure, "cannot write " + path + ": " + std::strerror(errno)};
        unlink(temp.c_str());
    }
    return ok;
}

struct WriteRequest {
    std::string path;
    std::string login;
    std::string dataSource;
    std::string schema;
    bool passwordFromStdin = false;
};

bool parseWrite(const std::vector<std::string>& args, WriteRequest& req, Failure& failure) {
    if (args.empty()) {
        failure = {kExitUsage, "write: FILE is missing"};
        return false;
    }
    req.path = args[0];
    bool haveLogin = false;
    bool haveDsn = false;
    bool haveSchema = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& opt = args[i];
        if (opt == "--password-stdin") {
            req.passwordFromStdin = true;
            continue;
        }
        std::string* target = opt == "--login"    ? &req.login
                              : opt == "--dsn"    ? &req.dataSource
                              : opt == "--schema" ? &req.schema
                                                  : nullptr;
        if (target == nullptr) {
            failure = {kExitUsage, "write: unknown option " + opt};
            return false;
        }
        if (i + 1 >= args.size()) {
            failure = {kExitUsage, "write: " + opt + " needs a value"};
            return false;
        }
        *target = args[++i];
        (opt == "--login" ? haveLogin : opt == "--dsn" ? haveDsn : haveSchema) = true;
    }
    if (!haveLogin || !haveDsn || !haveSchema) {
        failure = {kExitUsage, "write: --login, --dsn and --schema are all needed"};
        return false;
    }
    return true;
}

void appendEntry(std::string& content, int number, const char* key, const char* label,
                 const std::string& value) {
    content += std::string("[kelbor];KELBOR;") + label + "\n";
    content += std::to_string(number) + ";" + key + ";" + encipher(value) + "\n";
}

int cmdWrite(const std::vector<std::string>& args) {
    WriteRequest req;
    Failure failure{};
    if (!parseWrite(args, req, failure)) return fail(failure);
    for (const std::string& reason :
         {checkValue("the login name", req.login),
          checkValue("the data-source name", req.dataSource), checkSchema(req.schema)}) {
        if (!reason.empty()) return fail({kExitUsage, reason});
    }
    std::string password;
    if (req.passwordFromStdin) {
        if (!readStdinLine(password)) return fail({kExitUsage, "no password on standard input"});
    } else if (!askPassword(password, failure)) {
        return fail(failure);
    }
    std::string reason = checkValue("the password", password);
    if (!reason.empty()) {
        wipeString(password);
        return fail({kExitUsage, reason});
    }

    std::string content;
    appendEntry(content, 1, "LOGIN", "login", req.login);
    appendEntry(content, 2, "PASS", "password", password);
    appendEntry(content, 3, "DATABASE", "data source", req.dataSource);
    // The batch drops the last character of the stored value.
    appendEntry(content, 4, "SCHEMA", "schema", req.schema + ".");
    wipeString(password);
    bool ok = replaceFile(req.path, content, failure);
    wipeString(content);
    return ok ? 0 : fail(failure);
}

// Splits text into lines, each keeping its "\n" (the last may have none);
// a "\r" before the "\n" is dropped, as the batch reads the file.
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start + 1);
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
            line.erase(line.size() - 2, 1);
        }
        lines.push_back(line);
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

std::string withoutLineFeed(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

int cmdShow(const std::vector<std::string>& args) {
    bool reveal = false;
    std::string path;
    for (const std::string& arg : args) {
        if (arg == "--reveal") {
            reveal = true;
        } else if (path.empty()) {
            path = arg;
        } else {
            return fail({kExitUsage, "show: unexpected argument " + arg});
        }
    }
    if (path.empty()) return fail({kExitUsage, "show: FILE is missing"});
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail({kExitFailure, "cannot read " + path});
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::vector<std::string> lines = splitLines(buffer.str());
    for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
        ConfigEntry entry{};
        const std::string& data = lines[i + 1];
        if (parseConfigPair(lines[i].data(), lines[i].size(), data.data(), data.size(), entry) ==
            0) {
            std::cout << "line " << i + 2 << ": no entry (fewer than two \";\")\n";
            continue;
        }
        std::string key = withoutLineFeed(entry.key.text);
        std::string value = decipher(entry.value.text);
        std::cout << entry.number << " " << key << " = ";
        if (key == "PASS" && !reveal) {
            std::cout << "***\n";
        } else if (key == "SCHEMA") {
            FixedText<21> schemaName{};
            formSchemaName(value.c_str(), schemaName);
            std::cout << value << " (schema name " << schemaName.text << ")\n";
        } else {
            std::cout << value << "\n";
        }
        wipeString(value);
    }
    return 0;
}

int cmdEncipher(const std::vector<std::string>& args) {
    if (!args.empty()) return fail({kExitUsage, "encipher: the value is read from standard input"});
    std::string text;
    if (!readStdinLine(text)) return fail({kExitUsage, "encipher: no value on standard input"});
    std::string reason = checkValue("the value", text);
    if (!reason.empty()) return fail({kExitUsage, reason});
    std::cout << encipher(text) << "\n";
    wipeString(text);
    return 0;
}

int cmdDecipher(const std::vector<std::string>& args) {
    if (args.size() != 1) return fail({kExitUsage, "decipher: give exactly one hex text"});
    const std::string& hex = args[0];
    if (hex.find_first_not_of("0123456789ABCDEF") != std::string::npos || hex.size() % 16 != 0) {
        std::cerr << "kelbor-config: warning: not groups of 16 upper-case hex digits; "
                     "deciphered the way the batch would\n";
    }
    std::cout << decipher(hex) << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::cout << kUsage;
        return 0;
    }
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "write") return cmdWrite(args);
    if (command == "show") return cmdShow(args);
    if (command == "encipher") return cmdEncipher(args);
    if (command == "decipher") return cmdDecipher(args);
    std::cerr << kUsage;
    return fail({kExitUsage, "unknown command " + command});
}
