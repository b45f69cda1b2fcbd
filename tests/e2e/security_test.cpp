// Security of the login: the password never shows in the log, on the
// console or in the statements the server sees, and is never sent as a
// name; configuration files are private to their owner whatever the umask;
// the deciphered password is gone from the batch's own memory when the
// process ends; and neither the batch nor its tool leaves a core file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/followup_e2e.h"

namespace {

const char kPassword[] = "Zq7-Secret-Pw";
const char kLogin[] = "nightly";

bool contains(const std::string& text, const std::string& needle) {
    return text.find(needle) != std::string::npos;
}

TEST(Security, PasswordAppearsInNoLogConsoleOrTrace) {
    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    const std::string trace = batch.work().file("trace.txt");
    kt::StandinDb guarded(batch.db(), {{"ServerTime", fu::kServerTime},
                                       {"User", kLogin},
                                       {"Password", kPassword},
                                       {"Trace", trace}});
    const struct {
        const char* name;
        std::string password;
        std::string dsn;
    } cases[] = {
        {"connected", kPassword, guarded.dsn()},
        {"login rejected", std::string(kPassword) + "x", guarded.dsn()},
        {"unknown data source", kPassword, "NoSuchSource"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kt::writeConfig(batch.work().file("kelbor.ini"), kLogin, c.password, c.dsn, "qrv");
        // Debug console and verbose log both on: the most a run ever says.
        fu::Outcome o = batch.run("XXX", "D", {{"KELBOR_DBG", "1"}}, {});
        std::string log = kt::readWritten(batch.work().file("kelbor.log"));
        EXPECT_FALSE(log.empty());
        EXPECT_FALSE(contains(log, kPassword));
        EXPECT_FALSE(contains(o.result.out, kPassword));
        EXPECT_FALSE(contains(o.result.err, kPassword));
        EXPECT_FALSE(contains(kt::readFile(trace), kPassword));
    }
    // The connected run did reach the server and did its work.
    EXPECT_TRUE(contains(kt::readFile(trace), "INSERT INTO QRV.Qrv321Bch"));
    EXPECT_EQ(batch.accBookings("1001"), std::vector<std::string>{"00:00:00 1 KF"});
}

// An entry that answers every request, standing first, gives login and
// data source the password's value. The batch does not connect with it (the
// wire test of the FreeTDS route shows that it never leaves the process);
// the failed connection's line masks it under their names and a line of its
// own says why there was no connection.
TEST(Security, LoginOrDataSourceThatIsThePasswordIsNeverUsed) {
    const std::string pw = "S3cret-Pw!";
    kt::RunResult enc = kt::runProgram({kt::configBinary(), "encipher"}, "", {}, pw + "\n");
    const std::string hex = enc.out.substr(0, enc.out.find('\n'));
    const struct {
        const char* name;
        std::string first;
    } cases[] = {
        {"password entry numbered 0", "h;s;x\n0;PASS;" + hex + "\n"},
        {"password entry under a header without two \";\"", "kelbor\n2;PASS;" + hex + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kt::TempDir dir;
        kt::writeFile(dir.file("kelbor.ini"),
                      c.first + "h;s;x\n1;LOGIN;" + hex + "\nh;s;x\n4;SCHEMA;" + hex + "\n");
        kt::RunResult r = kt::runProgram({kt::kelborBinary(), "kelbor.ini", "XXX", "D"}, dir.path(),
                                         {{"KELBOR_DBG", "1"}});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(fu::withoutTimeStamp(kt::readWritten(dir.file("kelbor.log"))),
                  "Fehler(DB-Connect)! RC:-1 Name:*** Pwd:*** Net:***\n"
                  "Info: DB-Connect nicht versucht! Name oder Net ist das Kennwort (ein Eintrag "
                  "mit Nummer 0 oder unter einer Kopfzeile ohne zwei \";\" beantwortet jeden "
                  "Schl\xFC"
                  "ssel)\n");
        EXPECT_FALSE(contains(r.out, pw)) << r.out;
        EXPECT_FALSE(contains(r.err, pw)) << r.err;
    }
}

TEST(Security, ConfigurationFileIsPrivateWhateverTheUmask) {
    kt::TempDir dir;
    const std::string ini = dir.file("kelbor.ini");
    auto modeOf = [&] {
        struct stat st {};
        EXPECT_EQ(stat(ini.c_str(), &st), 0);
        return st.st_mode & 0777;
    };
    for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        std::remove(ini.c_str());
        mode_t old = umask(mask);
        kt::writeConfig(ini, kLogin, kPassword, "dsn", "qrv");
        EXPECT_EQ(modeOf(), 0600u);
        // Replacing a file that was world-readable keeps owner and group
        // access, never the others'.
        chmod(ini.c_str(), 0666);
        kt::writeConfig(ini, kLogin, kPassword, "dsn", "qrv");
        umask(old);
        EXPECT_EQ(modeOf(), 0660u);
        EXPECT_FALSE(contains(kt::readFile(ini), kPassword));
    }
}

// A small library preloaded into the batch: when the process ends it scans
// the batch's own writable memory (its data and bss, where the
// configuration reader's entry, the cipher state and every module's state
// live) for the password and reports what it finds on standard error. The
// driver manager's and the driver's memory are theirs and not scanned.
const char kScanner[] = R"(
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
__attribute__((destructor)) static void scanForPassword(void) {
    const char* needle = getenv("KELBOR_SCAN_FOR");
    if (needle == NULL || *needle == 0) return;
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return;
    exe[n] = 0;
    FILE* maps = fopen("/proc/self/maps", "r");
    if (maps == NULL) return;
    char line[8192];
    int scanned = 0;
    unsigned long exeEnd = 0;
    while (fgets(line, sizeof line, maps) != NULL) {
        unsigned long from, to;
        char perms[8];
        if (sscanf(line, "%lx-%lx %7s", &from, &to, perms) != 3) continue;
        /* The bss runs on past the file's last page as an anonymous
           mapping right after it (a large bss, as under the sanitizers):
           that belongs to the batch too. */
        int ours = strstr(line, exe) != NULL;
        int bssTail = !ours && from == exeEnd && strchr(line, '/') == NULL &&
                      strchr(line, '[') == NULL;
        if (ours) exeEnd = to;
        if (perms[0] != 'r' || perms[1] != 'w') continue;
        if (!ours && !bssTail) continue;
        ++scanned;
        size_t len = strlen(needle);
        for (const char* p = (const char*)from; p + len <= (const char*)to; ++p) {
            if (memcmp(p, needle, len) == 0) fprintf(stderr, "password found at %p\n", (void*)p);
        }
    }
    fclose(maps);
    fprintf(stderr, "scanned %d regions\n", scanned);
}
)";

TEST(Security, DecipheredPasswordDoesNotOutliveItsUse) {
    kt::TempDir build;
    kt::writeFile(build.file("scan.c"), kScanner);
    kt::RunResult cc = kt::runProgram(
        {"/usr/bin/cc", "-shared", "-fPIC", "-o", build.file("scan.so"), build.file("scan.c")},
        build.path());
    ASSERT_EQ(cc.exitCode, 0) << cc.err;
    std::string preload = build.file("scan.so");
    if (KELBOR_SANITIZED) preload = std::string(KELBOR_LIBASAN) + ":" + preload;

    fu::Batch batch;
    batch.load(fu::commonTypes() + fu::sickSinceFriday("1001"));
    kt::StandinDb guarded(
        batch.db(), {{"ServerTime", fu::kServerTime}, {"User", kLogin}, {"Password", kPassword}});
    // The password's entry is numbered 0 and stands last: every request
    // that reaches it selects it, so the reader's shared entry still holds
    // the password after the last read, as a real file may have it.
    auto hex = [](const std::string& text) {
        kt::RunResult r = kt::runProgram({kt::configBinary(), "encipher"}, "", {}, text + "\n");
        return r.out.substr(0, r.out.find('\n'));
    };
    kt::writeFile(batch.work().file("kelbor.ini"), "h;s;x\n1;LOGIN;" + hex(kLogin) +
                                                       "\nh;s;x\n3;DATABASE;" + hex(guarded.dsn()) +
                                                       "\nh;s;x\n0;PASS;" + hex(kPassword) + "\n");
    for (const char* param3 : {"D", "X"}) {
        SCOPED_TRACE(param3);
        kt::RunResult r = kt::runProgram(
            {kt::kelborBinary(), "kelbor.ini", "XXX", param3}, batch.work().path(),
            {{"LD_PRELOAD", preload}, {"KELBOR_SCAN_FOR", kPassword}}, "", {"KELBOR_DBG"});
        EXPECT_EQ(r.exitCode, 0);
        // The scanner ran and saw the batch's memory, and found nothing.
        EXPECT_TRUE(contains(r.err, "scanned ")) << r.err;
        EXPECT_FALSE(contains(r.err, "scanned 0 regions")) << r.err;
        EXPECT_FALSE(contains(r.err, "password found")) << r.err;
    }
    // The run connected: the login was right and the password was used.
    EXPECT_TRUE(kt::fileExists(batch.work().file("kelbortgb")));

    // The scanner does find what stays: the schema name formed from that
    // last entry (all but its last character, upper-cased) lives on in the
    // run context.
    kt::RunResult r = kt::runProgram(
        {kt::kelborBinary(), "kelbor.ini", "XXX", "D"}, batch.work().path(),
        {{"LD_PRELOAD", preload}, {"KELBOR_SCAN_FOR", "ZQ7-SECRET-P"}}, "", {"KELBOR_DBG"});
    EXPECT_TRUE(contains(r.err, "password found")) << r.err;
}

}  // namespace

namespace {

// Reports at exit whether the process may dump core.
const char kDumpableProbe[] = R"(
#include <stdio.h>
#include <sys/prctl.h>
__attribute__((destructor)) static void reportDumpable(void) {
    fprintf(stderr, "dumpable=%d\n", prctl(PR_GET_DUMPABLE, 0, 0, 0, 0));
}
)";

std::string buildPreload(const kt::TempDir& build, const char* name, const char* source) {
    kt::writeFile(build.file(std::string(name) + ".c"), source);
    kt::RunResult cc = kt::runProgram(
        {"/usr/bin/cc", "-shared", "-fPIC", "-o", build.file(std::string(name) + ".so"),
         build.file(std::string(name) + ".c")},
        build.path());
    EXPECT_EQ(cc.exitCode, 0) << cc.err;
    std::string preload = build.file(std::string(name) + ".so");
    if (KELBOR_SANITIZED) preload = std::string(KELBOR_LIBASAN) + ":" + preload;
    return preload;
}

// The batch and kelbor-config both hold the deciphered password: neither may
// be dumpable once it has read the configuration.
TEST(Security, BatchAndToolAreNotDumpable) {
    kt::TempDir dir;
    const std::string preload = buildPreload(dir, "probe", kDumpableProbe);
    kt::writeConfig(dir.file("kelbor.ini"), kLogin, kPassword, "kelbor-no-such-dsn", "qrv");
    const std::vector<std::string> programs[] = {
        {kt::kelborBinary(), "kelbor.ini", "XXX", "D"},
        {kt::configBinary(), "show", "kelbor.ini"},
        {kt::configBinary(), "check", "kelbor.ini"},
    };
    for (const auto& argv : programs) {
        SCOPED_TRACE(argv[1]);
        kt::RunResult r =
            kt::runProgram(argv, dir.path(), {{"LD_PRELOAD", preload}}, "", {"KELBOR_DBG"});
        EXPECT_NE(r.err.find("dumpable=0\n"), std::string::npos) << r.err;
    }
}

// Starts argv in cwd with core files allowed (RLIMIT_CORE unlimited) and the
// environment added; its output is discarded.
pid_t startWithCores(const std::vector<std::string>& argv, const std::string& cwd,
                     const std::map<std::string, std::string>& env) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
    setrlimit(RLIMIT_CORE, &unlimited);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// Aborts pid and reports whether it dumped core.
bool abortedWithCore(pid_t pid) {
    kill(pid, SIGABRT);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WCOREDUMP(status);
}

// Every file whose name begins with "core" in dir, read whole.
std::string coreFiles(const std::string& dir) {
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().filename().string().rfind("core", 0) == 0)
            all += kt::readFile(entry.path().string());
    }
    return all;
}

// A batch hung on a silent server (it took the connection and never
// answers) and then aborted, with core files allowed: it leaves no core,
// while a dumpable process aborted the same way does.
TEST(Security, AbortedRunLeavesNoCoreFile) {
    if (!kt::onFreeTds()) GTEST_SKIP() << "runs once, through FreeTDS";
    // Cores handed to a collector program (systemd-coredump, apport) would
    // land in the machine's crash store, not here; BatchAndToolAreNotDumpable
    // asks the kernel for the flag itself on such machines.
    if (kt::readFile("/proc/sys/kernel/core_pattern").rfind('|', 0) == 0)
        GTEST_SKIP() << "core files go to a collector program";
    kt::TempDir dir;
    // The control: a dumpable process holding the password in its
    // environment dumps core when aborted, so cores are written here.
    pid_t control = startWithCores({"/bin/sleep", "60"}, dir.path(), {{"SECRET", kPassword}});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (!abortedWithCore(control)) GTEST_SKIP() << "this machine writes no core files";
    const std::string controlCore = coreFiles(dir.path());
    if (!controlCore.empty()) {
        EXPECT_TRUE(contains(controlCore, kPassword));
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        std::filesystem::remove(entry.path());

    // The silent server: the kernel completes the connection; nobody reads.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t length = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length);
    std::string odbcIni = "[Silent]\n";
    for (const auto& [key, value] : kt::freeTdsDataSource(ntohs(a.sin_port)))
        odbcIni += key + "=" + value + "\n";
    kt::writeFile(dir.file("odbcinst.ini"), "[FreeTDS]\nDriver=" + kt::freeTdsDriver() + "\n");
    kt::writeFile(dir.file("odbc.ini"), odbcIni);
    kt::writeConfig(dir.file("kelbor.ini"), kLogin, kPassword, "Silent", "qrv");

    pid_t batch = startWithCores({kt::kelborBinary(), "kelbor.ini", "XXX", "D"}, dir.path(),
                                 {{"ODBCSYSINI", dir.path()}, {"ODBCINI", dir.file("odbc.ini")}});
    pollfd pending = {listener, POLLIN, 0};
    EXPECT_EQ(poll(&pending, 1, 20000), 1) << "the batch never connected";
    // Time to send its first packet and wait for the answer.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(abortedWithCore(batch));
    close(listener);
    const std::string cores = coreFiles(dir.path());
    EXPECT_TRUE(cores.empty()) << cores.size() << " bytes of core";
    EXPECT_FALSE(contains(cores, kPassword));
}

}  // namespace
