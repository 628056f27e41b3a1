// The registry port's behaviour, the same for the SQLite store and the
// in-memory double that other tests use.

#include <gtest/gtest.h>

#include "platform/fake/InMemoryRegistry.h"
#include "platform/fake/RecordingDebugLog.h"
#include "platform/linux/registry/SqliteRegistry.h"
#include "tests/settings/TempStore.h"

namespace ovra {
namespace {

struct SqliteFixture {
    testing::TempStore dir;
    RecordingDebugLog log;
    SqliteRegistry registry{log, dir.Location()};
};
struct MemoryFixture {
    InMemoryRegistry registry;
};

template <typename Fixture>
class RegistryPort : public ::testing::Test {
protected:
    Registry& registry() { return fixture_.registry; }
    std::unique_ptr<RegistryKey> Create(std::string_view path,
                                        RegistryRoot root = RegistryRoot::LocalMachine) {
        std::unique_ptr<RegistryKey> key;
        EXPECT_EQ(registry().CreateKey(root, path, &key), RegistryStatus::Ok) << path;
        return key;
    }
    RegistryStatus Open(std::string_view path, std::unique_ptr<RegistryKey>* key,
                        RegistryAccess access = RegistryAccess::ReadWrite,
                        RegistryRoot root = RegistryRoot::LocalMachine) {
        return registry().OpenKey(root, path, access, key);
    }
    Fixture fixture_;
};

using Fixtures = ::testing::Types<SqliteFixture, MemoryFixture>;
TYPED_TEST_SUITE(RegistryPort, Fixtures);

TYPED_TEST(RegistryPort, ValuesKeepTypeAndExactBytes) {
    auto key = this->Create("Software\\T");
    const std::vector<RegistryValue> values = {
        {RegistryType::Dword, {1, 2, 3, 4}},
        {RegistryType::Dword, {9}},  // odd size kept as written
        {RegistryType::String, {'h', 0, 'i', 0, 0, 0}},
        {RegistryType::Binary, {}},
        {RegistryType::Binary, {0, 0xFF, 0, 0x80}},
        {static_cast<RegistryType>(7), {1, 0, 0, 0}},
        {RegistryType::Binary, std::vector<std::uint8_t>(kMaxRegistryValueSize, 0xA5)},
    };
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string name = "v" + std::to_string(i);
        ASSERT_EQ(key->SetValue(name, values[i].type, values[i].data), RegistryStatus::Ok);
        RegistryValue read;
        ASSERT_EQ(key->QueryValue(name, &read), RegistryStatus::Ok);
        EXPECT_EQ(read, values[i]) << name;
    }
}

TYPED_TEST(RegistryPort, NamesCompareWithoutLetterCaseAndKeepTheirSpelling) {
    auto key = this->Create("Software\\Quelt\\Mixed");
    ASSERT_EQ(key->SetValue("LED Red", RegistryType::Dword, EncodeRegistryDword(1)), RegistryStatus::Ok);
    ASSERT_EQ(key->SetValue("led RED", RegistryType::Dword, EncodeRegistryDword(2)), RegistryStatus::Ok);
    std::unique_ptr<RegistryKey> same;
    ASSERT_EQ(this->Open("SOFTWARE\\quelt\\MIXED", &same), RegistryStatus::Ok);
    std::vector<NamedRegistryValue> values;
    ASSERT_EQ(same->EnumValues(&values), RegistryStatus::Ok);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "LED Red");
    EXPECT_EQ(values[0].value.data, EncodeRegistryDword(2));
    std::vector<std::string> subKeys;
    std::unique_ptr<RegistryKey> parent;
    ASSERT_EQ(this->Open("software\\QUELT", &parent), RegistryStatus::Ok);
    ASSERT_EQ(parent->EnumSubKeys(&subKeys), RegistryStatus::Ok);
    EXPECT_EQ(subKeys, std::vector<std::string>{"Mixed"});
}

TYPED_TEST(RegistryPort, RootsAreSeparate) {
    auto machine = this->Create("Software\\A", RegistryRoot::LocalMachine);
    ASSERT_EQ(machine->SetValue("x", RegistryType::Dword, EncodeRegistryDword(1)), RegistryStatus::Ok);
    std::unique_ptr<RegistryKey> user;
    EXPECT_EQ(this->Open("Software\\A", &user, RegistryAccess::Read, RegistryRoot::CurrentUser),
              RegistryStatus::NotFound);
}

TYPED_TEST(RegistryPort, EnumerationIsSortedByName) {
    for (const char* name : {"b", "C", "a"}) this->Create(std::string("Software\\E\\") + name);
    auto key = this->Create("Software\\E");
    for (const char* name : {"z", "M", "k"})
        ASSERT_EQ(key->SetValue(name, RegistryType::Binary, {}), RegistryStatus::Ok);
    std::vector<std::string> subKeys;
    std::vector<NamedRegistryValue> values;
    ASSERT_EQ(key->EnumSubKeys(&subKeys), RegistryStatus::Ok);
    ASSERT_EQ(key->EnumValues(&values), RegistryStatus::Ok);
    EXPECT_EQ(subKeys, (std::vector<std::string>{"a", "b", "C"}));
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, "k");
    EXPECT_EQ(values[1].name, "M");
    EXPECT_EQ(values[2].name, "z");
}

TYPED_TEST(RegistryPort, DeletingAKeyTakesItsSubtreeAndOpenHandlesSeeItGone) {
    auto child = this->Create("Software\\D\\child\\grandchild");
    auto parent = this->Create("Software\\D");
    ASSERT_EQ(child->SetValue("v", RegistryType::Dword, EncodeRegistryDword(1)), RegistryStatus::Ok);
    ASSERT_EQ(this->registry().DeleteKey(RegistryRoot::LocalMachine, "Software\\D\\child"),
              RegistryStatus::Ok);
    RegistryValue value;
    EXPECT_EQ(child->QueryValue("v", &value), RegistryStatus::NotFound);
    EXPECT_EQ(child->SetValue("v", RegistryType::Dword, EncodeRegistryDword(2)), RegistryStatus::NotFound);
    std::vector<std::string> subKeys;
    ASSERT_EQ(parent->EnumSubKeys(&subKeys), RegistryStatus::Ok);
    EXPECT_TRUE(subKeys.empty());
    // Re-created under the same name, the key starts empty and the old handle
    // still does not reach it.
    auto again = this->Create("Software\\D\\child\\grandchild");
    EXPECT_EQ(again->QueryValue("v", &value), RegistryStatus::NotFound);
    EXPECT_EQ(child->SetValue("v", RegistryType::Dword, EncodeRegistryDword(3)), RegistryStatus::NotFound);
    EXPECT_EQ(this->registry().DeleteKey(RegistryRoot::LocalMachine, "Software\\Nope"),
              RegistryStatus::NotFound);
    EXPECT_EQ(this->registry().DeleteKey(RegistryRoot::LocalMachine, ""), RegistryStatus::AccessDenied);
}

TYPED_TEST(RegistryPort, ReadHandlesCannotWriteAndMissingValuesAreNotFound) {
    this->Create("Software\\R");
    std::unique_ptr<RegistryKey> key;
    ASSERT_EQ(this->Open("Software\\R", &key, RegistryAccess::Read), RegistryStatus::Ok);
    EXPECT_EQ(key->SetValue("x", RegistryType::Dword, EncodeRegistryDword(1)), RegistryStatus::AccessDenied);
    EXPECT_EQ(key->DeleteValue("x"), RegistryStatus::AccessDenied);
    RegistryValue value;
    EXPECT_EQ(key->QueryValue("x", &value), RegistryStatus::NotFound);
    std::unique_ptr<RegistryKey> writable;
    ASSERT_EQ(this->Open("Software\\R", &writable), RegistryStatus::Ok);
    EXPECT_EQ(writable->DeleteValue("x"), RegistryStatus::NotFound);
}

TYPED_TEST(RegistryPort, ValuesAboveTheCallersLimitReportTheirSize) {
    auto key = this->Create("Software\\M");
    ASSERT_EQ(key->SetValue("big", RegistryType::String, std::vector<std::uint8_t>(10, 1)),
              RegistryStatus::Ok);
    const std::array<std::string_view, 2> names{"big", "absent"};
    std::vector<RegistryRead> reads;
    ASSERT_EQ(key->QueryValues(names, 4, &reads), RegistryStatus::Ok);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].status, RegistryStatus::MoreData);
    EXPECT_EQ(reads[0].size, 10u);
    EXPECT_EQ(reads[0].value.type, RegistryType::String);
    EXPECT_TRUE(reads[0].value.data.empty());
    EXPECT_EQ(reads[1].status, RegistryStatus::NotFound);
}

TYPED_TEST(RegistryPort, OddButValidNamesWork) {
    const std::string longKey(kMaxRegistryKeyNameLength, 'k');
    const std::string longValue(kMaxRegistryValueNameLength, 'v');
    struct Case {
        std::string key, value;
    } const cases[] = {
        {"Software\\with space \\ trailing", ""},  // empty value name: the key's default value
        {"Software\\ünïcødé ✓", "näme ✓"},
        {"Software\\[brackets]\\\"quotes\"", "back\\slash\"quote\nnewline"},
        {"\\Software\\lead and trail\\", "x"},
        {"Software\\" + longKey, longValue},
        {"Software\\%s%n", "%s%n"},
    };
    for (const auto& c : cases) {
        auto key = this->Create(c.key);
        ASSERT_TRUE(key) << c.key;
        ASSERT_EQ(key->SetValue(c.value, RegistryType::Dword, EncodeRegistryDword(7)), RegistryStatus::Ok);
        std::unique_ptr<RegistryKey> again;
        ASSERT_EQ(this->Open(c.key, &again, RegistryAccess::Read), RegistryStatus::Ok) << c.key;
        RegistryValue value;
        ASSERT_EQ(again->QueryValue(c.value, &value), RegistryStatus::Ok) << c.key;
        EXPECT_EQ(value.data, EncodeRegistryDword(7));
    }
}

TYPED_TEST(RegistryPort, MalformedNamesAndOversizedValuesAreRefused) {
    const std::string deep = [] {
        std::string path = "a";
        for (std::size_t i = 0; i < kMaxRegistryKeyDepth; ++i) path += "\\a";
        return path;
    }();
    for (const std::string& path : {std::string("Software\\\\double"),
                                    std::string("Software\\") + std::string(256, 'k'),
                                    std::string("Software\\tab\there"), std::string("a\nb"),
                                    std::string("nul\0x", 5), deep}) {
        std::unique_ptr<RegistryKey> key;
        EXPECT_EQ(this->registry().CreateKey(RegistryRoot::LocalMachine, path, &key),
                  RegistryStatus::InvalidName)
            << path.size();
        EXPECT_EQ(this->Open(path, &key), RegistryStatus::InvalidName);
    }
    auto key = this->Create("Software\\Big");
    EXPECT_EQ(key->SetValue("huge", RegistryType::String,
                            std::vector<std::uint8_t>(kMaxRegistryValueSize + 1, 'x')),
              RegistryStatus::TooLarge);
    EXPECT_EQ(key->SetValue(std::string(kMaxRegistryValueNameLength + 1, 'n'), RegistryType::Binary, {}),
              RegistryStatus::InvalidName);
    EXPECT_EQ(key->SetValue(std::string("a\0b", 3), RegistryType::Binary, {}), RegistryStatus::InvalidName);
    RegistryValue value;
    EXPECT_EQ(key->QueryValue("huge", &value), RegistryStatus::NotFound);
}

TYPED_TEST(RegistryPort, SetValuesStoresAllInOrder) {
    auto key = this->Create("Software\\Many");
    const std::vector<NamedRegistryValue> values = {
        {"one", {RegistryType::Dword, EncodeRegistryDword(1)}},
        {"two", {RegistryType::Dword, EncodeRegistryDword(2)}},
        {"ONE", {RegistryType::Dword, EncodeRegistryDword(3)}},  // same value again: the later wins
    };
    ASSERT_EQ(key->SetValues(values), RegistryStatus::Ok);
    RegistryValue value;
    ASSERT_EQ(key->QueryValue("one", &value), RegistryStatus::Ok);
    EXPECT_EQ(value.data, EncodeRegistryDword(3));
}

TEST(RegistryText, StringsConvertBetweenUtf8AndUtf16) {
    struct Case {
        std::string utf8;
        std::vector<std::uint8_t> data;
    } const cases[] = {
        {"", {0, 0}},
        {"A", {'A', 0, 0, 0}},
        {"é", {0xE9, 0, 0, 0}},
        {"\xF0\x9F\x98\x80", {0x3D, 0xD8, 0x00, 0xDE, 0, 0}},  // a surrogate pair
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> data;
        ASSERT_TRUE(EncodeRegistryString(c.utf8, &data));
        EXPECT_EQ(data, c.data);
        std::string back;
        ASSERT_TRUE(DecodeRegistryString(data, &back));
        EXPECT_EQ(back, c.utf8);
    }
    std::vector<std::uint8_t> data;
    for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xFF", "\xE2\x82", "a\xF4\x90\x80\x80"})
        EXPECT_FALSE(EncodeRegistryString(bad, &data)) << bad;
    std::string text;
    for (const std::vector<std::uint8_t>& bad : std::vector<std::vector<std::uint8_t>>{
             {}, {0}, {'A', 0}, {'A', 0, 0}, {0, 0, 'A', 0, 0, 0}, {0x00, 0xDC, 0, 0}, {0x3D, 0xD8, 0, 0}})
        EXPECT_FALSE(DecodeRegistryString(bad, &text)) << bad.size();
}

}  // namespace
}  // namespace ovra
