// kelbor-config: writes and reads kelbor's configuration file, and checks a
// set-up by connecting with it (tools/config_check).
//
// The batch only reads the file; this tool produces it. Every value is
// enciphered with the same cipher, key and block byte order the batch
// deciphers with (frame/cipher.h), so what this tool writes is exactly what
// the batch will see. The password never comes from the command line, which
// other users can read: it is asked for without echo, or read from standard
// input with --password-stdin; decipher takes its hex text from standard
// input too. The process makes itself non-dumpable first, so no core file
// of it holds a password.
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "db/connection.h"
#include "frame/cipher.h"
#include "frame/config_reader.h"
#include "frame/platform.h"
#include "frame/schema_name.h"
#include "tools/config_check.h"
#include "tools/config_platform.h"

namespace {

constexpr char kUsage[] =
    "Usage:\n"
    "  kelbor-config write FILE --login NAME --dsn DSN --schema NAME [--group GROUP]\n"
    "                [--password-stdin]\n"
    "      Writes FILE with the four entries LOGIN, PASS, DATABASE and SCHEMA, replacing\n"
    "      it. The password is asked for without echo, or read as one line from standard\n"
    "      input with --password-stdin. The schema is given as the tables are qualified\n"
    "      (e.g. qrv); it is stored followed by \".\". The file belongs to the writer:\n"
    "      one owned by another user (root aside) is not replaced. With --group it gets\n"
    "      mode 0640 and that group. Run by root without --group, it gets the service\n"
    "      user's group and mode 0640 when that user exists; otherwise a new file gets\n"
    "      mode 0600 and a rewrite keeps the group and mode of the file it replaces\n"
    "      (never access for others).\n"
    "      On Windows FILE gets an access list of its own, nothing inherited from its\n"
    "      folder: full control for the writer, SYSTEM and the Administrators. --group\n"
    "      NAME lets that account or group read it too (the account of the nightly\n"
    "      task); a rewrite without --group keeps who could read it, but never Everyone\n"
    "      or Users. One owned by another account (SYSTEM and the Administrators aside)\n"
    "      is not replaced. The file is written with CR LF line ends.\n"
    "  kelbor-config show FILE [--reveal]\n"
    "      Prints the values the batch takes from FILE, then every entry deciphered;\n"
    "      unless --reveal, only LOGIN, DATABASE and SCHEMA values are shown, and none\n"
    "      that is the password. Warns about entries that answer every key.\n"
    "      On Windows it lists FILE's owner and access list too.\n"
    "  kelbor-config check FILE\n"
    "      Connects as the batch would and reads, changing nothing: each table, the\n"
    "      server's clock, the accounting day and its day records. Run by root, also\n"
    "      whether the service user can read FILE. Exits 0 when a run would get going,\n"
    "      1 otherwise.\n"
    "  kelbor-config encipher\n"
    "      Reads one line from standard input and prints it enciphered as hex text.\n"
    "  kelbor-config decipher\n"
    "      Reads hex text from standard input and prints what the batch deciphers it\n"
    "      to.\n"
    "  kelbor-config --help | --version\n"
    "Options take their value as --opt VALUE or --opt=VALUE, in any order.\n"
    "The service user (Linux) is kelbor, or the user named by the environment\n"
    "variable KELBOR_SERVICE_USER.\n";

// The batch keeps at most kLoginValueWidth characters of a login value and
// hands at most kLoginWidth of them to the driver manager; the stored
// schema value holds one more than kSchemaNameWidth, the last dropped.
constexpr std::size_t kValueLimit = kLoginValueWidth;
constexpr std::size_t kConnectLimit = kLoginWidth;
constexpr std::size_t kSchemaLimit = kSchemaNameWidth;

int fail(const Failure& f) {
    std::cerr << "kelbor-config: " << f.message << "\n";
    if (f.code == kExitUsage) std::cerr << "Try 'kelbor-config --help'.\n";
    return f.code;
}

std::string encipher(const std::string& text) {
    std::vector<char> hex(encipheredHexLength(text.size()) + 1);
    encipherText(text.c_str(), hex.data(), hex.size(), kConfigKey);
    return hex.data();
}

std::string decipher(const std::string& hex) {
    std::vector<char> plain(decipheredSize(hex.size()));
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
    if (isPlainSchemaName(schema.c_str()) == 0) {
        return "the schema name may hold only letters, digits and \"_\"";
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

bool askPassword(std::string& password, Failure& failure) {
    std::vector<std::string> answers;
    bool ok = askHidden({"Password: ", "Repeat password: "}, answers, failure);
    bool same = ok && answers[0] == answers[1];
    if (ok) password = answers[0];
    for (std::string& answer : answers) wipeString(answer);
    if (!ok) return false;
    if (!same) {
        wipeString(password);
        failure = {kExitFailure, "the two passwords differ"};
        return false;
    }
    return true;
}

// The options of one command: each takes a value or is a flag.
struct OptionKind {
    const char* name;
    bool takesValue;
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    bool help = false;
    bool has(const std::string& name) const { return options.count(name) != 0; }
};

// Parses args of command: options in any order, before or after the
// positional ones, as "--opt VALUE" or "--opt=VALUE"; "--" ends the options.
// A repeated or unknown option, a missing value and a value given to a flag
// are usage errors.
bool parseArgs(const std::string& command, const std::vector<std::string>& args,
               std::initializer_list<OptionKind> known, ParsedArgs& parsed, Failure& failure) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
            continue;
        }
        std::size_t eq = arg.find('=');
        std::string name = arg.substr(0, eq);
        const OptionKind* option = nullptr;
        for (const OptionKind& s : known) {
            if (name == s.name) option = &s;
        }
        if (option == nullptr) {
            failure = {kExitUsage, command + ": unknown option " + name};
            return false;
        }
        if (parsed.has(name)) {
            failure = {kExitUsage, command + ": " + name + " is given twice"};
            return false;
        }
        std::string value;
        if (!option->takesValue) {
            if (eq != std::string::npos) {
                failure = {kExitUsage, command + ": " + name + " takes no value"};
                return false;
            }
        } else if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            failure = {kExitUsage, command + ": " + name + " needs a value"};
            return false;
        }
        parsed.options[name] = value;
    }
    return true;
}

// The file name alone with exactly one positional argument, else a usage
// error.
bool onePath(const std::string& command, const ParsedArgs& parsed, std::string& path,
             Failure& failure) {
    if (parsed.positional.empty()) {
        failure = {kExitUsage, command + ": FILE is missing"};
        return false;
    }
    if (parsed.positional.size() > 1) {
        failure = {kExitUsage, command + ": unexpected argument " + parsed.positional[1]};
        return false;
    }
    path = parsed.positional[0];
    return true;
}

void appendEntry(std::string& content, int number, const char* key, const char* label,
                 const std::string& value) {
    content += std::string("[kelbor];KELBOR;") + label + "\n";
    content += std::to_string(number) + ";" + key + ";" + encipher(value) + "\n";
}

int cmdWrite(const ParsedArgs& parsed) {
    Failure failure{};
    std::string path;
    if (!onePath("write", parsed, path, failure)) return fail(failure);
    if (!parsed.has("--login") || !parsed.has("--dsn") || !parsed.has("--schema")) {
        return fail({kExitUsage, "write: --login, --dsn and --schema are all needed"});
    }
    const std::string& login = parsed.options.at("--login");
    const std::string& dataSource = parsed.options.at("--dsn");
    const std::string& schema = parsed.options.at("--schema");
    for (const std::string& reason :
         {checkValue("the login name", login), checkValue("the data-source name", dataSource),
          checkSchema(schema)}) {
        if (!reason.empty()) return fail({kExitUsage, reason});
    }
    FileAccess access;
    const std::string* group = parsed.has("--group") ? &parsed.options.at("--group") : nullptr;
    if (!chooseAccess(path, group, access, failure)) return fail(failure);
    std::string password;
    if (parsed.has("--password-stdin")) {
        if (!readStdinLine(password)) return fail({kExitUsage, "no password on standard input"});
    } else if (!askPassword(password, failure)) {
        return fail(failure);
    }
    std::string reason =
        password.empty() ? "the password is empty" : checkValue("the password", password);
    // The batch would refuse such a login rather than send the password as
    // a name.
    if (reason.empty() && (isPasswordValue(login.c_str(), password.c_str()) != 0 ||
                           isPasswordValue(dataSource.c_str(), password.c_str()) != 0)) {
        reason =
            "the password is the login name or the data-source name; the batch does not "
            "connect with such a login";
    }
    if (!reason.empty()) {
        wipeString(password);
        return fail({kExitUsage, reason});
    }

    std::string content;
    appendEntry(content, 1, "LOGIN", "login", login);
    appendEntry(content, 2, "PASS", "password", password);
    appendEntry(content, 3, "DATABASE", "data source", dataSource);
    // The batch drops the last character of the stored value.
    appendEntry(content, 4, "SCHEMA", "schema", schema + ".");
    wipeString(password);
    bool ok = replaceFile(path, content, access, failure);
    wipeString(content);
    if (!ok) return fail(failure);
    if (!access.note.empty()) std::cerr << "kelbor-config: " << access.note << "\n";
    return 0;
}

std::string withoutLineFeed(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// A configuration file is a few hundred bytes; anything far larger is not
// one.
constexpr std::size_t kShowLimit = 1 << 20;

bool readConfigFile(const std::string& path, std::string& content, Failure& failure) {
    std::string reason = unreadableReason(path);
    if (reason.empty()) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> buffer(kShowLimit + 1);
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.bad()) reason = "read error";
        if (static_cast<std::size_t>(in.gcount()) > kShowLimit) reason = "larger than 1 MiB";
        content.assign(buffer.data(), static_cast<std::size_t>(in.gcount()));
        wipeMemory(buffer.data(), buffer.size());
    }
    if (reason.empty()) return true;
    failure = {kExitFailure, "cannot read " + path + ": " + reason};
    return false;
}

int cmdShow(const ParsedArgs& parsed) {
    Failure failure{};
    std::string path;
    if (!onePath("show", parsed, path, failure)) return fail(failure);
    bool reveal = parsed.has("--reveal");
    std::string content;
    if (!readConfigFile(path, content, failure)) return fail(failure);

    // First what a run takes, by the batch's own reader.
    UsedValues used = readUsedValues(path);
    const std::string& password = used.password.value;
    // Without --reveal only the values of the three keys that hold no secret
    // are shown, and none of them when it is the password: a mistyped key
    // ("Pass") or an entry that answers every key must not give it away.
    using HiddenTest = std::function<bool(const std::string&, const std::string&)>;
    const HiddenTest hidden = [&](const std::string& key, const std::string& value) {
        if (reveal) return false;
        if (key != "LOGIN" && key != "DATABASE" && key != "SCHEMA") return true;
        return !password.empty() && value == password;
    };
    std::cout << "The batch uses:\n";
    for (const UsedValue* v : {&used.login, &used.password, &used.dataSource, &used.schema}) {
        std::cout << "  " << v->key << " = ";
        if (!v->found) {
            std::cout << "(no entry: empty)\n";
        } else if (hidden(v->answeredBy, v->value)) {
            std::cout << "***\n";
        } else if (v == &used.schema) {
            std::cout << v->value << " (schema name " << used.schemaName << ")\n";
        } else {
            std::cout << v->value << "\n";
        }
    }
    for (const std::string& warning : used.warnings) {
        std::cerr << "kelbor-config: warning: " << warning << "\n";
    }

    // Then every pair as the batch's reader walks it, the pairs it passes
    // over marked with the reason.
    std::cout << "Entries:\n";
    wipeString(content);
    auto listPair = [](const ConfigEntry& entry, PairVerdict verdict, int headerLine,
                       void* context) {
        switch (verdict) {
            case PairVerdict::kHeaderTooLong:
                std::cout << "  line " << headerLine << ": ignored (header line over "
                          << kConfigHeaderLimit << " bytes with its line feed)\n";
                return true;
            case PairVerdict::kDataTooLong:
                std::cout << "  line " << headerLine + 1 << ": ignored (data line over "
                          << kConfigDataLimit << " bytes with its line feed)\n";
                return true;
            case PairVerdict::kNoEntry:
                std::cout << "  line " << headerLine + 1
                          << ": ignored (no entry: fewer than two \";\")\n";
                return true;
            case PairVerdict::kUsable:
                break;
        }
        const auto& isHidden = *static_cast<const HiddenTest*>(context);
        std::string key = withoutLineFeed(entry.key.text);
        std::string value = decipher(entry.value.text);
        std::cout << "  " << entry.number << " " << key << " = "
                  << (isHidden(key, value) ? "***" : value);
        if (entry.number == 0 || entry.section.empty()) std::cout << "  (answers every key)";
        std::cout << "\n";
        wipeString(value);
        return true;
    };
    if (walkConfigPairs(path.c_str(), listPair, const_cast<HiddenTest*>(&hidden)) != 0) {
        std::cout << "  (the batch cannot open the file)\n";
    }
    std::cout << describeAccess(path);
    wipeUsedValues(used);
    return 0;
}

int cmdCheck(const ParsedArgs& parsed) {
    Failure failure{};
    std::string path;
    if (!onePath("check", parsed, path, failure)) return fail(failure);
    return checkSetUp(path);
}

int cmdEncipher(const ParsedArgs& parsed) {
    if (!parsed.positional.empty()) {
        return fail({kExitUsage, "encipher: the value is read from standard input"});
    }
    std::string text;
    if (!readStdinLine(text)) return fail({kExitUsage, "encipher: no value on standard input"});
    std::string reason = checkValue("the value", text);
    if (!reason.empty()) return fail({kExitUsage, reason});
    std::cout << encipher(text) << "\n";
    wipeString(text);
    return 0;
}

// The hex text comes from standard input: enciphered, it is still the
// password to anyone with this tool, and a command line is visible to every
// user in the process list and stays in the shell's history.
int cmdDecipher(const ParsedArgs& parsed) {
    if (parsed.positional.size() > 1) {
        return fail({kExitUsage, "decipher: give at most one hex text"});
    }
    std::string hex;
    if (parsed.positional.empty()) {
        if (!readStdinLine(hex))
            return fail({kExitUsage, "decipher: no hex text on standard input"});
    } else {
        hex = parsed.positional[0];
        std::cerr << "kelbor-config: warning: a hex text on the command line is visible to "
                     "other users; give it on standard input\n";
    }
    if (hex.find_first_not_of("0123456789ABCDEF") != std::string::npos || hex.size() % 16 != 0) {
        std::cerr << "kelbor-config: warning: not groups of 16 upper-case hex digits; "
                     "deciphered the way the batch would\n";
    }
    std::string text = decipher(hex);
    std::cout << text << "\n";
    wipeString(text);
    wipeString(hex);
    return 0;
}

struct Command {
    const char* name;
    std::initializer_list<OptionKind> options;
    int (*run)(const ParsedArgs&);
};

const Command kCommands[] = {
    {"write",
     {{"--login", true},
      {"--dsn", true},
      {"--schema", true},
      {"--group", true},
      {"--password-stdin", false}},
     cmdWrite},
    {"show", {{"--reveal", false}}, cmdShow},
    {"check", {}, cmdCheck},
    {"encipher", {}, cmdEncipher},
    {"decipher", {}, cmdDecipher},
};

}  // namespace

int main(int argc, char** argv) {
    setUpToolProcess();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return fail({kExitUsage, "a command is missing"});
    std::string command = args[0];
    if (command == "--help" || command == "-h") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "--version") {
        std::cout << "kelbor-config " << KELBOR_VERSION << "\n";
        return 0;
    }
    args.erase(args.begin());
    for (const Command& c : kCommands) {
        if (command != c.name) continue;
        ParsedArgs parsed;
        Failure failure{};
        if (!parseArgs(command, args, c.options, parsed, failure)) return fail(failure);
        if (parsed.help) {
            std::cout << kUsage;
            return 0;
        }
        return c.run(parsed);
    }
    return fail({kExitUsage, "unknown command " + command});
}
