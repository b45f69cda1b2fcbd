// kelbor-config where Linux and Windows differ for the operator: the
// password asked for on the terminal (on Windows the console, which Wine
// makes of the terminal), the file replaced whole in its platform's form,
// and on Windows --group naming an account or group. The program is
// kt::configBinary(): the Linux one, or kelbor-config.exe run under Wine.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace {

bool windowsTool() {
    const std::string path = kt::configBinary();
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".exe") == 0;
}

// kt::runProgram starts a .exe under Wine and hands back its output with LF
// line ends.
std::vector<std::string> command(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kt::configBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

struct Session {
    int exitCode = -1;
    std::string screen;  // all the terminal showed, standard error included
};

// The text of what a terminal showed: Wine's console draws its lines with
// control sequences, a blank as a cursor step to the right.
std::string visible(const std::string& screen) {
    std::string text;
    for (std::size_t i = 0; i < screen.size(); ++i) {
        if (screen[i] != '\x1b' || i + 1 >= screen.size() || screen[i + 1] != '[') {
            if (screen[i] != '\r') text += screen[i];
            continue;
        }
        std::size_t end = i + 2;
        while (end < screen.size() && (screen[end] < '@' || screen[end] > '~')) ++end;
        if (end < screen.size() && screen[end] == 'C') {
            text.append(static_cast<std::size_t>(std::max(1, std::atoi(&screen[i + 2]))), ' ');
        }
        i = end;
    }
    return text;
}

// Runs kelbor-config with args in a session of its own. With onTerminal its
// terminal is a new pseudo-terminal, on which answers[i] and Enter are typed
// once the (i+1)-th password prompt has appeared; without, it has no
// terminal at all and an empty standard input. Bounded to a minute.
Session runInSession(const std::vector<std::string>& args, const std::string& cwd, bool onTerminal,
                     const std::vector<std::string>& answers = {}) {
    std::vector<std::string> argv = command(args);
    if (windowsTool()) argv.insert(argv.begin(), "wine");
    int screen = -1;
    int out[2] = {-1, -1};
    pid_t pid = -1;
    if (onTerminal) {
        pid = forkpty(&screen, nullptr, nullptr, nullptr);
    } else if (pipe(out) == 0) {
        pid = fork();
        screen = out[0];
    }
    if (pid < 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return {};
    }
    if (pid == 0) {
        if (!onTerminal) {
            setsid();
            int none = open("/dev/null", O_RDONLY);
            dup2(none, 0);
            dup2(out[1], 1);
            dup2(out[1], 2);
            close(out[0]);
            close(out[1]);
        }
        // Wine reads the terminal's bytes by the locale's character set;
        // its own messages are not the program's.
        setenv("LC_ALL", "C.UTF-8", 1);
        setenv("WINEDEBUG", "-all", 1);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char*> cargv;
        for (const std::string& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
        cargv.push_back(nullptr);
        execvp(cargv[0], cargv.data());
        _exit(127);
    }
    if (!onTerminal) close(out[1]);

    Session session;
    std::size_t typed = 0;
    auto promptSeen = std::chrono::steady_clock::time_point::max();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd fd = {screen, POLLIN, 0};
        if (poll(&fd, 1, 100) > 0) {
            char buf[512];
            ssize_t n = read(screen, buf, sizeof buf);
            if (n <= 0) break;  // the end (EIO once the terminal has no process left)
            session.screen.append(buf, static_cast<std::size_t>(n));
        }
        if (!onTerminal || typed >= answers.size()) continue;
        std::size_t prompts = 0;
        for (std::size_t at = session.screen.find("assword:"); at != std::string::npos;
             at = session.screen.find("assword:", at + 1)) {
            ++prompts;
        }
        if (prompts <= typed) continue;
        const auto now = std::chrono::steady_clock::now();
        if (promptSeen == std::chrono::steady_clock::time_point::max()) promptSeen = now;
        // Typed like an operator once echo is off: Wine's console turns it
        // off only when the read begins, after the prompt shows, and drops
        // what was typed before. A program that never turns it off gets its
        // answer after three seconds, and the echo shows.
        termios mode{};
        const bool quiet = tcgetattr(screen, &mode) == 0 && (mode.c_lflag & ECHO) == 0;
        if (!quiet && now - promptSeen < std::chrono::seconds(3)) continue;
        const std::string line = answers[typed] + "\r";
        EXPECT_EQ(write(screen, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        ++typed;
        promptSeen = std::chrono::steady_clock::time_point::max();
    }
    if (std::chrono::steady_clock::now() >= deadline) {
        ADD_FAILURE() << "kelbor-config did not end within a minute; the terminal showed: "
                      << session.screen;
        kill(pid, SIGKILL);
    }
    close(screen);
    int status = 0;
    waitpid(pid, &status, 0);
    session.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    session.screen = visible(session.screen);
    return session;
}

// The password a file holds, as the tool reveals it.
std::string storedPassword(const std::string& ini) {
    kt::RunResult r = kt::runProgram(command({"show", ini, "--reveal"}), "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string mark = "  PASS = ";
    std::size_t at = r.out.find(mark);
    if (at == std::string::npos) return "(no PASS in: " + r.out + ")";
    at += mark.size();
    std::size_t end = r.out.find('\n', at);
    return r.out.substr(at, end - at);
}

std::set<std::string> folderEntries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Asked twice on the terminal, whatever standard input is, and never shown:
// a password with an umlaut arrives as the batch passes it on, on Windows
// in the code page of the programs' ANSI calls (Windows-1252: one byte
// 0xE4), not in the console's own.
TEST(ConfigTool, AsksForThePasswordTwiceWithoutEchoOnlyOnATerminal) {
    kt::TempDir dir;
    const std::string ini = dir.file("kelbor.ini");
    const std::vector<std::string> write = {"write", ini, "--login=u", "--dsn=d", "--schema=s"};
    const std::string typed = "Gr\xC3\xBCn-\xC3\xA4-Pw7";  // UTF-8, as the terminal sends it

    Session asked = runInSession(write, dir.path(), true, {typed, typed});
    EXPECT_EQ(asked.exitCode, 0) << asked.screen;
    EXPECT_NE(asked.screen.find("Password:"), std::string::npos) << asked.screen;
    EXPECT_NE(asked.screen.find("Repeat password:"), std::string::npos) << asked.screen;
    EXPECT_EQ(asked.screen.find("-Pw7"), std::string::npos) << "echoed: " << asked.screen;
    EXPECT_EQ(storedPassword(ini), windowsTool() ? "Gr\xFCn-\xE4-Pw7" : typed);

    const std::string before = kt::readFile(ini);
    Session differing = runInSession(write, dir.path(), true, {"First-Pw1", "Second-Pw2"});
    EXPECT_EQ(differing.exitCode, 1) << differing.screen;
    EXPECT_NE(differing.screen.find("the two passwords differ"), std::string::npos)
        << differing.screen;
    EXPECT_EQ(differing.screen.find("-Pw"), std::string::npos) << differing.screen;
    EXPECT_EQ(kt::readFile(ini), before);

    // No terminal (a scheduled job): refused at once, not waiting on input.
    std::filesystem::remove(ini);
    Session none = runInSession(write, dir.path(), false);
    EXPECT_EQ(none.exitCode, 1) << none.screen;
    EXPECT_NE(none.screen.find("to ask for the password on; use --password-stdin"),
              std::string::npos)
        << none.screen;
    EXPECT_FALSE(kt::fileExists(ini));
}

// A rewrite puts the new file in the old one's place in one step and leaves
// nothing beside it; a rewrite that cannot take the place leaves the folder
// as it was. The file's lines end as the platform's text files do.
TEST(ConfigTool, RewriteReplacesTheFileWholeAndAFailedOneLeavesNothingBehind) {
    kt::TempDir dir;
    const std::string ini = dir.file("kelbor.ini");
    auto write = [&](const std::string& path, const std::string& login) {
        return kt::runProgram(
            command({"write", path, "--login", login, "--dsn=d", "--schema=s", "--password-stdin"}),
            dir.path(), {}, "Pw-1\n");
    };
    ASSERT_EQ(write(ini, "first").exitCode, 0);
    kt::RunResult second = write(ini, "second");
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(folderEntries(dir.path()), std::set<std::string>{"kelbor.ini"});
    const std::string content = kt::readFile(ini);
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 8) << content;
    EXPECT_EQ(std::count(content.begin(), content.end(), '\r'), windowsTool() ? 8 : 0) << content;
    kt::RunResult shown = kt::runProgram(command({"show", ini}), "");
    EXPECT_NE(shown.out.find("  LOGIN = second\n"), std::string::npos)
        << "exit " << shown.exitCode << ": " << shown.out << shown.err;

    // A folder in the file's place (with something in it) cannot be
    // replaced: the new file made beside it must go again.
    const std::string blocked = dir.file("blocked.ini");
    std::filesystem::create_directories(blocked + "/inside");
    kt::RunResult failed = write(blocked, "third");
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.err.find("kelbor-config: cannot write " + blocked + ": "), std::string::npos)
        << failed.err;
    EXPECT_EQ(failed.err.find("Pw-1"), std::string::npos) << failed.err;
    EXPECT_EQ(folderEntries(dir.path()), (std::set<std::string>{"kelbor.ini", "blocked.ini"}));
    EXPECT_EQ(kt::readFile(ini), content);
}

// A file that kelbor-config.exe wrote (CR LF) reads on Linux as it reads on
// Windows, and one the Linux program wrote (LF) reads alike on Windows.
TEST(ConfigTool, EitherPlatformsFileReadsAlikeOnBoth) {
    if (!windowsTool()) GTEST_SKIP() << "compares kelbor-config.exe with the Linux program";
    const std::string linuxTool = KELBOR_CONFIG_BIN;
    kt::TempDir dir;
    auto takes = [](const std::vector<std::string>& argv) {
        kt::RunResult r = kt::runProgram(argv, "");
        EXPECT_EQ(r.exitCode, 0) << argv[0] << ": " << r.err;
        // Windows' show ends with the access list, which Linux does not show.
        return r.out.substr(0, r.out.find("Access:\n"));
    };
    const std::vector<std::string> values = {"--login=nightly", "--dsn=Zeit DB", "--schema=qrv",
                                             "--password-stdin"};
    for (const std::string& writer : {kt::configBinary(), linuxTool}) {
        SCOPED_TRACE(writer);
        const std::string ini = dir.file(writer == linuxTool ? "linux.ini" : "windows.ini");
        std::vector<std::string> argv = {writer, "write", ini};
        argv.insert(argv.end(), values.begin(), values.end());
        ASSERT_EQ(kt::runProgram(argv, "", {{"KELBOR_SERVICE_USER", "kelbor-no-such-user"}},
                                 "Pw;\xE4-1\n")
                      .exitCode,
                  0);
        const std::string onWindows = takes({kt::configBinary(), "show", ini, "--reveal"});
        EXPECT_NE(onWindows.find("  PASS = Pw;\xE4-1\n"), std::string::npos) << onWindows;
        EXPECT_NE(onWindows.find("  DATABASE = Zeit DB\n"), std::string::npos) << onWindows;
        EXPECT_EQ(takes({linuxTool, "show", ini, "--reveal"}), onWindows);
    }
}

// On Windows --group names the account or group that may read the file too
// (the nightly task's account), looked up as Windows names accounts; show
// lists the file's owner and access list. Wine keeps no access list on its
// files: it shows one made up from the Unix mode, so the entries written are
// not checked here.
TEST(ConfigTool, OnWindowsGroupNamesAnAccountAndShowListsTheAccess) {
    if (!windowsTool()) GTEST_SKIP() << "kelbor-config.exe's behaviour";
    kt::TempDir dir;
    const std::string ini = dir.file("kelbor.ini");
    auto write = [&](const std::string& group) {
        return kt::runProgram(command({"write", ini, "--login=u", "--dsn=d", "--schema=s",
                                       "--password-stdin", "--group", group}),
                              dir.path(), {}, "Pw-1\n");
    };
    kt::RunResult unknown = write("kelbor-no-such-account");
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("write: unknown account or group kelbor-no-such-account"),
              std::string::npos)
        << unknown.err;
    EXPECT_FALSE(kt::fileExists(ini));

    for (const char* account : {"Users", "SYSTEM"}) {
        kt::RunResult known = write(account);
        EXPECT_EQ(known.exitCode, 0) << account << ": " << known.err;
    }
    kt::RunResult shown = kt::runProgram(command({"show", ini}), "");
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_TRUE(std::regex_search(shown.out, std::regex("\nAccess:\n  owner [^\n]+\n")))
        << shown.out;
    EXPECT_TRUE(std::regex_search(shown.out, std::regex("\n  SDDL O:S-1-[-0-9]+D:"))) << shown.out;
}

}  // namespace
