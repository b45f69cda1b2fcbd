// The state file of the nightly wrapper's catch-up and the days between two
// accounting days.
#include "tools/catch_up.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "frame/calendar_day.h"

namespace {

constexpr char kKey[] = "last_processed_day ";

std::chrono::sys_days toDays(const std::string& day) {
    using namespace std::chrono;
    int y = std::stoi(day.substr(0, 4));
    unsigned m = static_cast<unsigned>(std::stoi(day.substr(4, 2)));
    unsigned d = static_cast<unsigned>(std::stoi(day.substr(6, 2)));
    return sys_days{year{y} / month{m} / std::chrono::day{d}};
}

std::string fromDays(std::chrono::sys_days days) {
    using namespace std::chrono;
    year_month_day ymd{days};
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return text;
}

}  // namespace

bool readLastProcessedDay(const std::string& path, std::string& day, std::string& problem) {
    problem.clear();
    std::ifstream file(path);
    if (!file) {
        std::FILE* probe = std::fopen(path.c_str(), "r");
        if (probe != nullptr) std::fclose(probe);
        return false;
    }
    std::string line;
    std::getline(file, line);
    // A line written by hand may end in blanks (cmd's echo) or a carriage
    // return.
    line.erase(line.find_last_not_of(" \t\r") + 1);
    if (line.rfind(kKey, 0) != 0 || !isCalendarDay(line.substr(sizeof kKey - 1).c_str())) {
        problem = path + " holds no day (\"" + kKey + "yyyymmdd\" expected)";
        return false;
    }
    day = line.substr(sizeof kKey - 1);
    return true;
}

bool replaceFileWhole(const std::string& path, const std::string& text, std::string& error) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << text;
        if (!file.flush()) {
            error = "cannot write " + temporary;
            return false;
        }
    }
    // Replaces the file in place on Windows too, where std::rename does not.
    std::error_code failure;
    std::filesystem::rename(temporary, path, failure);
    if (failure) {
        error = "cannot rename " + temporary + " to " + path + ": " + failure.message();
        return false;
    }
    return true;
}

bool writeLastProcessedDay(const std::string& path, const std::string& day, std::string& error) {
    return replaceFileWhole(path, kKey + day + "\n", error);
}

std::vector<std::string> daysBetween(const std::string& lastDay, const std::string& yesterday) {
    std::vector<std::string> days;
    if (!isCalendarDay(lastDay.c_str()) || !isCalendarDay(yesterday.c_str())) return days;
    auto end = toDays(yesterday);
    for (auto d = toDays(lastDay) + std::chrono::days{1}; d < end; d += std::chrono::days{1}) {
        days.push_back(fromDays(d));
    }
    return days;
}
