// The Task Scheduler's task definition of the nightly run
// (packaging/windows/kelbor-nightly.xml): in the encoding schtasks exports
// and reads, and with settings that let the wrapper give its verdict.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/support/support.h"

namespace {

// The file's text: UTF-16 LE after its byte order mark, all of it ASCII.
// Fails the test (and returns what it read so far) otherwise.
std::string asciiOfUtf16(const std::string& bytes) {
    std::string text;
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << "no UTF-16 LE byte order mark";
    EXPECT_EQ(bytes.size() % 2, 0u);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        unsigned char low = static_cast<unsigned char>(bytes[i]);
        if (bytes[i + 1] != '\0' || low > 0x7E) {
            ADD_FAILURE() << "not ASCII in UTF-16 LE at byte " << i;
            return text;
        }
        text += static_cast<char>(low);
    }
    return text;
}

std::string element(const std::string& text, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("<" + name + ">([^<]*)</" + name + ">"))) return "";
    return m[1];
}

TEST(TaskDefinition, ReadsAsSchtasksWritesAndLetsTheWrapperJudgeTheNight) {
    std::string text = asciiOfUtf16(
        kt::readFile(std::string(KELBOR_SOURCE_DIR) + "/packaging/windows/kelbor-nightly.xml"));
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n", 0), 0u);
    // Windows' line ends throughout, for Notepad and for schtasks /query's
    // own form.
    EXPECT_FALSE(std::regex_search(text, std::regex("(^|[^\r])\n"))) << "a line ends without CR";

    EXPECT_TRUE(
        std::regex_search(element(text, "Command"), std::regex(R"(\\kelbor-nightly\.exe"?$)")))
        << element(text, "Command");
    // The log on (PARAM3 D): without it the wrapper cannot tell how the
    // night went. The wrapper's own time limit comes before the task's,
    // which would end it without a verdict.
    std::smatch args;
    std::string arguments = element(text, "Arguments");
    ASSERT_TRUE(std::regex_match(arguments, args,
                                 std::regex(R"(--time-limit ([0-9]+)h \S+\.ini XXX D\S*)")))
        << arguments;
    std::smatch task;
    std::string taskLimit = element(text, "ExecutionTimeLimit");
    ASSERT_TRUE(std::regex_match(taskLimit, task, std::regex("PT([0-9]+)H"))) << taskLimit;
    EXPECT_LT(std::stoi(args[1]), std::stoi(task[1]));
    EXPECT_FALSE(element(text, "WorkingDirectory").empty());
    // A night that is still running when the next one is due is not started
    // beside it (the wrapper's lock would refuse it anyway, and fail it).
    EXPECT_EQ(element(text, "MultipleInstancesPolicy"), "IgnoreNew");
}

}  // namespace
