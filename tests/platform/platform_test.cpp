// The platform layer on the platform the test runs on: Linux natively, and
// Windows through the cross-built test program under Wine. The same cases
// hold on both; what only one platform has is said where it is tested.
#include "frame/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

long processId() {
#ifdef _WIN32
    return static_cast<long>(GetCurrentProcessId());
#else
    return static_cast<long>(getpid());
#endif
}

// Each test runs in a fresh working folder of its own, as the batch runs
// in its working directory.
class PlatformLayer : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = fs::current_path();
        dir_ = fs::temp_directory_path() /
               ("kelbor-platform-" + std::to_string(processId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static std::string contents(const char* name) {
        std::ifstream in(name, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void put(const char* name, const std::string& text) {
        std::ofstream(name, std::ios::binary) << text;
    }

  private:
    fs::path previous_;
    fs::path dir_;
};

TEST_F(PlatformLayer, OutputFilesAreWrittenOnlyWhenTheyAreRegularFilesOfOneName) {
    int error = 0;
    // A folder in the file's place is refused, and stays.
    fs::create_directory("kelbortgb");
    EXPECT_EQ(openOutputFile("kelbortgb", OutputMode::kReplace, error), -1);
    EXPECT_EQ(error, EISDIR);
    EXPECT_TRUE(fs::is_directory("kelbortgb"));

    // A second name of the file (a hard link planted in the working
    // folder) is refused, and the linked file keeps its text.
    put("elsewhere", "keep me\n");
#ifdef _WIN32
    ASSERT_TRUE(CreateHardLinkA("kelbor.log", "elsewhere", nullptr));
#else
    ASSERT_EQ(link("elsewhere", "kelbor.log"), 0);
#endif
    EXPECT_EQ(openOutputFile("kelbor.log", OutputMode::kReplace, error), -1);
    EXPECT_EQ(error, kHardLinked);
    EXPECT_EQ(contents("elsewhere"), "keep me\n");

    // A regular file is emptied for kReplace, and kept for kAppend.
    put("plain", "old\n");
    int fd = openOutputFile("plain", OutputMode::kReplace, error);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(closeFile(fd), 0);
    EXPECT_EQ(contents("plain"), "");
    put("plain", "old\n");
    fd = openOutputFile("plain", OutputMode::kAppend, error);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(writeLine(fd, "new\n", 4), 0);
    EXPECT_EQ(closeFile(fd), 0);
    EXPECT_EQ(contents("plain"), std::string("old\n") + "new" + kLineEnd);
}

TEST_F(PlatformLayer, SymbolicLinksAreRefusedForOutputAndFollowedOnlyWhereAsked) {
#ifdef _WIN32
    GTEST_SKIP() << "Wine cannot create reparse points; on Windows the open of a link is "
                    "refused by FILE_FLAG_OPEN_REPARSE_POINT and the reparse attribute";
#else
    put("target", "secret\n");
    ASSERT_EQ(symlink("target", "kelbortgb"), 0);
    int error = 0;
    EXPECT_EQ(openOutputFile("kelbortgb", OutputMode::kReplace, error), -1);
    EXPECT_EQ(error, ELOOP);
    EXPECT_EQ(contents("target"), "secret\n");
    EXPECT_EQ(openInputFile("kelbortgb", LinkRule::kRefuse, error), -1);
    EXPECT_EQ(error, ELOOP);
    int fd = openInputFile("kelbortgb", LinkRule::kFollow, error);
    EXPECT_GE(fd, 0);
    closeFile(fd);
#endif
}

TEST_F(PlatformLayer, InputFilesAreReadByteForByteOnlyFromRegularFiles) {
    int error = 0;
    fs::create_directory("folder");
    EXPECT_EQ(openInputFile("folder", LinkRule::kFollow, error), -1);
    EXPECT_EQ(error, kNotRegularFile);
    EXPECT_EQ(openInputFile("missing", LinkRule::kFollow, error), -1);
    EXPECT_EQ(error, ENOENT);
#ifndef _WIN32
    // A FIFO without a writer neither hangs the open nor is taken.
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    EXPECT_EQ(openInputFile("fifo", LinkRule::kFollow, error), -1);
    EXPECT_EQ(error, kNotRegularFile);
#endif
    // A file read may have a second name (only the output files refuse
    // one): the wrapper reads a log that way as well.
    put("first", "x\n");
#ifdef _WIN32
    ASSERT_TRUE(CreateHardLinkA("second", "first", nullptr));
#else
    ASSERT_EQ(link("first", "second"), 0);
#endif
    int linked = openInputFile("second", LinkRule::kRefuse, error);
    EXPECT_GE(linked, 0) << error;
    if (linked >= 0) closeFile(linked);
    // Carriage returns reach the reader as they are in the file (the
    // configuration reader takes CR LF and LF lines alike).
    put("kelbor.ini", "a\r\nb\n");
    int fd = openInputFile("kelbor.ini", LinkRule::kFollow, error);
    ASSERT_GE(fd, 0);
    std::FILE* in = fdopen(fd, "rb");
    ASSERT_NE(in, nullptr);
    char buffer[16] = {};
    EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, in), 5u);
    std::fclose(in);
    EXPECT_EQ(std::string(buffer), "a\r\nb\n");
}

TEST_F(PlatformLayer, LinesAndLogEntriesEndAsThePlatformsTextFilesDo) {
    int error = 0;
    int fd = openOutputFile("kelbortgb", OutputMode::kReplace, error);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(writeLine(fd, "QRV ,1001    ,09.03.2026\n", 25), 0);
    EXPECT_EQ(writeLine(fd, "two\nlines\n", 10), 0);
    EXPECT_EQ(closeFile(fd), 0);
    EXPECT_EQ(contents("kelbortgb"), std::string("QRV ,1001    ,09.03.2026") + kLineEnd + "two" +
                                         kLineEnd + "lines" + kLineEnd);

    fd = openOutputFile("kelbor.log", OutputMode::kAppend, error);
    ASSERT_GE(fd, 0);
    std::FILE* log = appendStream(fd);
    ASSERT_NE(log, nullptr);
    std::fputs("Info: eins\n", log);
    std::fflush(log);
    // What is flushed is in the file while the stream is still open.
    EXPECT_EQ(contents("kelbor.log"), std::string("Info: eins") + kLineEnd);
    std::fclose(log);
    fd = openInputFile("kelbor.log", LinkRule::kFollow, error);
    EXPECT_EQ(fileSize(fd), static_cast<long long>(10 + std::string(kLineEnd).size()));
    closeFile(fd);
}

TEST_F(PlatformLayer, TheRunLockKeepsASecondOpenOutAndKnowsItsFile) {
    int error = 0;
    int held = openLockFile("kelbor.lock", error);
    ASSERT_GE(held, 0) << error;
    EXPECT_EQ(openLockFile("kelbor.lock", error), -1);
    EXPECT_EQ(error, EWOULDBLOCK);
    EXPECT_TRUE(isOpenOn(held, "kelbor.lock"));
    EXPECT_FALSE(isOpenOn(held, "other.lock"));
    put("other.lock", "");
    EXPECT_FALSE(isOpenOn(held, "other.lock"));

    // The number a started program is told leads back to the same file.
    long long number = shareWithChildren(held);
    ASSERT_GE(number, 0);
    int again = inheritedDescriptor(number);
    ASSERT_GE(again, 0);
    EXPECT_TRUE(isOpenOn(again, "kelbor.lock"));
    EXPECT_EQ(lockInheritedFile(again, error), 0);
    EXPECT_EQ(inheritedDescriptor(123456789), -1);

    // Here the number names held itself: its close ends the lock.
    EXPECT_EQ(closeFile(held), 0);
    int next = openLockFile("kelbor.lock", error);
    EXPECT_GE(next, 0) << "the lock is free once its holders have closed it";
    closeFile(next);
}

TEST_F(PlatformLayer, LocalTimeFollowsAZoneGivenInPosixForm) {
    // The C runtime on Windows understands TZ only in this form.
#ifdef _WIN32
    _putenv_s("TZ", "XYZ-2");
    _tzset();
#else
    setenv("TZ", "XYZ-2", 1);
    tzset();
#endif
    std::tm local{};
    ASSERT_EQ(localTime(0, local), 0);
    EXPECT_EQ(local.tm_year, 70);
    EXPECT_EQ(local.tm_hour, 2);
}

}  // namespace
