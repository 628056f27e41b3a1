#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/linux/named_objects/ShmObjectName.h"

namespace ovra {
namespace {

TEST(ShmObjectName, IsAValidShmNameAndKeepsNamesApart) {
    const std::string names[] = {
        "Global\\ledsettingdataevent", "Global/ledsettingdataevent", "ledsettingdataevent",
        "waitsyncevent_main",          "waitsyncevent.main",         "DOZIDODUdavevedi",
        "dozidodudavevedi",            "a_2Fb",                       "a/b",
        "",                            std::string(300, 'x'),        std::string(300, 'x') + "y",
    };
    std::set<std::string> seen;
    for (const auto& name : names) {
        const std::string shm = ShmObjectName(name, "", 1000);
        ASSERT_FALSE(shm.empty());
        EXPECT_EQ(shm[0], '/') << name;
        EXPECT_EQ(shm.find('/', 1), std::string::npos) << name;
        EXPECT_LE(shm.size(), 200u) << name;
        EXPECT_TRUE(seen.insert(shm).second) << "two names share " << shm;
    }
}

TEST(ShmObjectName, LocalPrefixIsTheSessionNamespaceAndGlobalIsNot) {
    EXPECT_EQ(ShmObjectName("Local\\x", "", 1), ShmObjectName("x", "", 1));
    EXPECT_NE(ShmObjectName("Global\\x", "", 1), ShmObjectName("x", "", 1));
}

TEST(ShmObjectName, UsersAndNamespacesAreSeparate) {
    const std::string base = ShmObjectName("Global\\ledsettingdataevent", "", 1000);
    EXPECT_NE(base, ShmObjectName("Global\\ledsettingdataevent", "", 1001));
    EXPECT_NE(base, ShmObjectName("Global\\ledsettingdataevent", "test1", 1000));
    EXPECT_EQ(base, ShmObjectName("Global\\ledsettingdataevent", "", 1000));
    EXPECT_EQ(base, "/ovra.1000..Global_5Cledsettingdataevent");
}

}  // namespace
}  // namespace ovra
