// The configuration reader: pairing of lines, field rules, selection, and the
// schema name formed from the stored value.
#include "frame/config_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/cipher.h"
#include "frame/schema_name.h"
#include "tests/support/support.h"

namespace {

std::string hexOf(const std::string& text) {
    std::vector<char> hex(encipheredHexLength(text.size()) + 1);
    encipherText(text.c_str(), hex.data(), hex.size(), kConfigKey);
    return hex.data();
}

std::string pair(const std::string& number, const std::string& key, const std::string& value,
                 const std::string& header = "[kelbor];KELBOR;x") {
    return header + "\n" + number + ";" + key + ";" + hexOf(value) + "\n";
}

class ConfigReader : public ::testing::Test {
  protected:
    // Writes the file and reads key from it the way the entry point does.
    std::string read(const std::string& content, const char* key) {
        kt::writeFile(path_, content);
        return readConfigValue("", key, 0, path_.c_str());
    }

    kt::TempDir dir_;
    std::string path_ = dir_.file("kelbor.ini");
};

TEST_F(ConfigReader, FourEntriesInAnyOrder) {
    std::string content = pair("3", "DATABASE", "kelbordb") + pair("1", "LOGIN", "sa") +
                          pair("4", "SCHEMA", "qrv.") + pair("2", "PASS", "geheim;1");
    EXPECT_EQ(read(content, "LOGIN"), "sa");
    EXPECT_EQ(read(content, "PASS"), "geheim;1");
    EXPECT_EQ(read(content, "DATABASE"), "kelbordb");
    EXPECT_EQ(read(content, "SCHEMA"), "qrv.");
    EXPECT_EQ(configEntry.number, 4);
    EXPECT_STREQ(configEntry.key.text, "SCHEMA");
    EXPECT_STREQ(configEntry.section.text, "KELBOR");
}

TEST_F(ConfigReader, LineEndsAndOddLines) {
    std::string login = pair("1", "LOGIN", "sa");
    // No line feed after the last data line: the value runs to the end.
    EXPECT_EQ(read(login.substr(0, login.size() - 1), "LOGIN"), "sa");
    // Carriage returns before the line feeds are not part of the lines.
    EXPECT_EQ(read("[kelbor];KELBOR;x\r\n1;LOGIN;" + hexOf("sa") + "\r\n", "LOGIN"), "sa");
    // A last line without a partner is ignored, whatever it holds.
    EXPECT_EQ(read(login + "2;PASS;" + hexOf("pw") + "\n", "PASS"), "");
    // A pair with a line beyond its limit (header 199 bytes, data 399, the
    // line feed included) is never selected, and the pairing holds after it.
    std::string longHeader = std::string(5000, 'h') + ";KELBOR;" + std::string(5000, 'h');
    std::string longData = "0;" + std::string(3000, 'K') + ";" + std::string(3000, 'A');
    EXPECT_EQ(read(longHeader + "\n" + longData + "\n" + pair("2", "PASS", "pw"), "PASS"), "pw");
    const std::string hex = hexOf("first");
    auto numberZero = [&](std::size_t headerBytes, std::size_t dataBytes) {
        std::string header = "h;S;" + std::string(headerBytes - 5, 'x') + "\n";
        std::string data = "0;" + std::string(dataBytes - 4 - hex.size(), 'K') + ";" + hex + "\n";
        return header + data + pair("2", "PASS", "pw");
    };
    EXPECT_EQ(read(numberZero(199, 399), "PASS"), "first");
    EXPECT_EQ(read(numberZero(200, 399), "PASS"), "pw");
    EXPECT_EQ(read(numberZero(199, 400), "PASS"), "pw");
    EXPECT_EQ(read("", "LOGIN"), "");
}

TEST_F(ConfigReader, MissingFileGivesEmptyValue) {
    EXPECT_STREQ(readConfigValue("", "LOGIN", 0, dir_.file("absent.ini").c_str()), "");
    EXPECT_EQ(configEntry.number, 0);
    EXPECT_TRUE(configEntry.key.empty());
}

TEST_F(ConfigReader, SelectionRules) {
    std::string rest = pair("1", "LOGIN", "sa") + pair("2", "PASS", "pw");
    // A header line without two ";" has an empty section, which equals the
    // empty section asked for: the entry answers every request.
    EXPECT_EQ(read(pair("7", "OTHER", "first", "kelbor;only one") + rest, "PASS"), "first");
    // Side by side the two ";" make the section the rest of the line, which
    // is not empty: the entry is passed over.
    EXPECT_EQ(read(pair("7", "OTHER", "first", "kelbor;;x") + rest, "PASS"), "pw");
    // Entry number 0, or one that is not numeric, matches the number 0 asked for.
    EXPECT_EQ(read(pair("0", "OTHER", "zero") + rest, "PASS"), "zero");
    EXPECT_EQ(read(pair("x1", "OTHER", "text") + rest, "LOGIN"), "text");
    EXPECT_EQ(read(pair(" 12abc", "OTHER", "twelve") + rest, "LOGIN"), "sa");
    // The first of two entries with the same key wins.
    EXPECT_EQ(read(rest + pair("5", "LOGIN", "second"), "LOGIN"), "sa");
    // A data line with fewer than two ";" is never selected, not even with number 0.
    EXPECT_EQ(read("[kelbor];KELBOR;x\n0;" + hexOf("bad") + "\n" + rest, "LOGIN"), "sa");
    // An empty value field gives an empty value.
    EXPECT_EQ(read("[kelbor];KELBOR;x\n1;LOGIN;\n" + rest, "LOGIN"), "");
    // Keys are compared whole and case-sensitively.
    EXPECT_EQ(read(pair("1", "login", "lower") + pair("2", "LOGIN2", "longer"), "LOGIN"), "");
    EXPECT_TRUE(configEntry.key.empty());
}

TEST_F(ConfigReader, SectionAndNumberSelectToo) {
    kt::writeFile(path_, pair("1", "LOGIN", "sa", "a;OTHER;b") + pair("2", "PASS", "pw"));
    EXPECT_STREQ(readConfigValue("KELBOR", "NONE", 9, path_.c_str()), "pw");
    EXPECT_STREQ(readConfigValue("NONE", "NONE", 1, path_.c_str()), "sa");
    EXPECT_STREQ(readConfigValue("NONE", "NONE", 9, path_.c_str()), "");
}

// Field parsing, seen on the parsed pair before deciphering.
TEST(ConfigPair, FieldsAreParsedByTheirRules) {
    auto parse = [](const std::string& header, const std::string& data, ConfigEntry& entry) {
        return parseConfigPair(header.data(), header.size(), data.data(), data.size(), entry);
    };
    ConfigEntry entry{};
    // Further ";" belong to the value; the value ends before the line feed.
    ASSERT_EQ(parse("a;SEC;b\n", " 42;KEY;AB;CD;EF\n", entry), 1);
    EXPECT_EQ(entry.number, 42);
    EXPECT_STREQ(entry.section.text, "SEC");
    EXPECT_STREQ(entry.key.text, "KEY");
    EXPECT_STREQ(entry.value.text, "AB;CD;EF");

    // Empty section and key fields take the rest of the line, line feed included.
    ASSERT_EQ(parse("a;;b\n", "1;;0011\n", entry), 1);
    EXPECT_STREQ(entry.section.text, ";b\n");
    EXPECT_STREQ(entry.key.text, ";0011\n");
    EXPECT_STREQ(entry.value.text, "0011");

    // A header with fewer than two ";" has no section; a data line with fewer
    // than two ";" cannot be selected at all.
    ASSERT_EQ(parse("a;SEC\n", "-3;KEY\n", entry), 0);
    EXPECT_TRUE(entry.section.empty());
    EXPECT_TRUE(entry.key.empty());
    EXPECT_TRUE(entry.value.empty());
    ASSERT_EQ(parse("no semicolon\n", "abc;KEY;\n", entry), 1);
    EXPECT_TRUE(entry.section.empty());
    EXPECT_EQ(entry.number, 0);
    EXPECT_TRUE(entry.value.empty());

    // Fields longer than their widths are cut; the number field after 11 characters.
    std::string longValue(300, 'A');
    ASSERT_EQ(parse("a;" + std::string(250, 'S') + ";b", "123456789012345;K;" + longValue, entry),
              1);
    EXPECT_EQ(entry.section.length(), 200u);
    EXPECT_EQ(entry.value.length(), 200u);
    EXPECT_EQ(entry.number, 2147483647);
    ASSERT_EQ(parse("a;S;b", "      12345;K;", entry), 1);
    EXPECT_EQ(entry.number, 12345);
    ASSERT_EQ(parse("a;S;b", "       12345;K;", entry), 1);
    EXPECT_EQ(entry.number, 1234);
}

TEST(SchemaName, LastCharacterDroppedRestUpperCased) {
    struct Case {
        const char* stored;
        const char* expected;
    };
    const Case cases[] = {
        {"qrv.", "QRV"},
        {"qrv", "QR"},
        {"q", ""},
        {"", ""},
        {"Mix_9z.", "MIX_9Z"},
        {"\xE4q\xFC.", "\xE4Q\xFC"},
        {"abcdefghijklmnopqrstu", "ABCDEFGHIJKLMNOPQRST"},
    };
    for (const Case& c : cases) {
        FixedText<21> name{};
        name.assign("stale");
        formSchemaName(c.stored, name);
        EXPECT_STREQ(name.text, c.expected) << c.stored;
    }
}

}  // namespace
