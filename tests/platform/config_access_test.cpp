// The access list kelbor-config.exe gives the configuration file, as
// Windows reads its SDDL. Wine keeps no access list on its files (it makes
// one up from the Unix mode), so the list the tool writes is seen here, by
// the parser that turns it into the file's security descriptor.
#ifdef _WIN32
#include <windows.h>
// After windows.h, which it builds on.
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/config_platform.h"

namespace {

struct Entry {
    unsigned type;
    unsigned flags;
    ACCESS_MASK mask;
    std::string sid;
};

struct Parsed {
    bool ok = false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    bool hasList = false;
    std::vector<Entry> entries;
};

Parsed parse(const std::string& sddl) {
    Parsed parsed;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return parsed;
    }
    DWORD revision = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    parsed.ok = GetSecurityDescriptorControl(descriptor, &parsed.control, &revision) &&
                GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    parsed.hasList = present && dacl != nullptr;
    for (DWORD i = 0; parsed.hasList && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        char* sid = nullptr;
        ConvertSidToStringSidA(&allowed->SidStart, &sid);
        parsed.entries.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask,
                                  sid != nullptr ? sid : "?"});
        if (sid != nullptr) LocalFree(sid);
    }
    LocalFree(descriptor);
    return parsed;
}

}  // namespace

// The writer, SYSTEM and the Administrators have full control, each reader
// may read and nothing more, and no one else gets in: not through an entry
// of the folder (the list is protected) nor through a missing list.
TEST(ConfigFileAccess, LetsInOnlyTheWriterSystemAdministratorsAndTheReaders) {
    const std::string writer = "S-1-5-21-1004336348-1177238915-682003330-1001";
    const std::string taskAccount = "S-1-5-21-1004336348-1177238915-682003330-1002";
    const std::string users = "S-1-5-32-545";
    for (const std::vector<std::string>& readers :
         {std::vector<std::string>{}, std::vector<std::string>{taskAccount, users}}) {
        SCOPED_TRACE(readers.size());
        Parsed parsed = parse(configFileSddl(writer, readers));
        ASSERT_TRUE(parsed.ok);
        EXPECT_NE(parsed.control & SE_DACL_PROTECTED, 0);
        ASSERT_TRUE(parsed.hasList);
        std::vector<std::pair<std::string, ACCESS_MASK>> expected = {
            {writer, FILE_ALL_ACCESS},
            {"S-1-5-18", FILE_ALL_ACCESS},
            {"S-1-5-32-544", FILE_ALL_ACCESS}};
        for (const std::string& reader : readers) expected.push_back({reader, FILE_GENERIC_READ});
        ASSERT_EQ(parsed.entries.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const Entry& entry = parsed.entries[i];
            EXPECT_EQ(entry.type, static_cast<unsigned>(ACCESS_ALLOWED_ACE_TYPE));
            EXPECT_EQ(entry.flags, 0u) << "inherited or passed on: " << entry.sid;
            EXPECT_EQ(entry.sid, expected[i].first);
            EXPECT_EQ(entry.mask, expected[i].second) << entry.sid;
        }
        for (std::size_t i = 3; i < parsed.entries.size(); ++i) {
            EXPECT_EQ(parsed.entries[i].mask &
                          (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER),
                      0u);
        }
    }
}

#endif
