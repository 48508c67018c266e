// The private export table of the shared library, checked against the public header.
#include <dlfcn.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Every function the public header declares.
std::vector<std::string> DeclaredFunctions() {
    std::ifstream header(MBUS_SOURCE_DIR "/include/mbus/mbus.h");
    const std::regex declaration(R"(^MB_API\s+\w+\s+(Mb\w+)\()");
    std::vector<std::string> names;
    for (std::string line; std::getline(header, line);) {
        std::smatch match;
        if (std::regex_search(line, match, declaration)) names.push_back(match[1]);
    }
    return names;
}

class ExportTable : public ::testing::Test {
protected:
    void SetUp() override {
        library = dlopen(MBUS_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        table = reinterpret_cast<const void* (*)()>(dlsym(library, "LumbraExportTable"));
        resolve = reinterpret_cast<void* (*)(const char*)>(dlsym(library, "LumbraGetProcAddress"));
        hash = reinterpret_cast<uint32_t (*)(const char*)>(dlsym(library, "LumbraHashName"));
        ASSERT_TRUE(table && resolve && hash);
    }
    void TearDown() override {
        if (library != nullptr) dlclose(library);
    }

    void* library = nullptr;
    const void* (*table)() = nullptr;
    void* (*resolve)(const char*) = nullptr;
    uint32_t (*hash)(const char*) = nullptr;
};

}  // namespace

TEST_F(ExportTable, LayoutHas106EntriesWithAscendingUniqueHashes) {
    const auto* words = static_cast<const uint32_t*>(table());
    ASSERT_EQ(words[0], 0x1F00u);
    ASSERT_EQ(words[1], 106u);
    const auto* entries = reinterpret_cast<void* const*>(words + 2);
    const auto* hashes = reinterpret_cast<const uint32_t*>(entries + 106);
    for (size_t i = 1; i < 106; ++i) EXPECT_LT(hashes[i - 1], hashes[i]) << "entry " << i;
    for (size_t i = 0; i < 106; ++i) EXPECT_NE(entries[i], nullptr);
    EXPECT_EQ(hash(""), 2166136261u) << "FNV-1a offset basis";
    EXPECT_EQ(hash("a"), 0xe40c292cu) << "FNV-1a of one byte";
}

TEST_F(ExportTable, EveryDeclaredFunctionResolvesToItsOwnSymbol) {
    const std::vector<std::string> names = DeclaredFunctions();
    ASSERT_EQ(names.size(), 102u);
    const auto* words = static_cast<const uint32_t*>(table());
    const auto* entries = reinterpret_cast<void* const*>(words + 2);
    const auto* hashes = reinterpret_cast<const uint32_t*>(entries + 106);
    std::set<uint32_t> seen;
    for (const std::string& name : names) {
        void* bySymbol = dlsym(library, name.c_str());
        ASSERT_NE(bySymbol, nullptr) << name;
        EXPECT_EQ(resolve(name.c_str()), bySymbol) << name;
        const uint32_t h = hash(name.c_str());
        const auto* at = std::lower_bound(hashes, hashes + 106, h);
        ASSERT_TRUE(at != hashes + 106 && *at == h) << name;
        EXPECT_EQ(entries[at - hashes], bySymbol) << name;
        seen.insert(h);
    }
    EXPECT_EQ(resolve("MbBufferFree"), resolve("MbMemoryFree")) << "two entries, one function";
    EXPECT_EQ(resolve("MbNoSuchFunction"), nullptr);
    EXPECT_EQ(resolve(nullptr), nullptr);
}

TEST_F(ExportTable, SingletonModuleFlagIsExportedAndDrivenByItsFourEntries) {
    auto* flag = static_cast<bool*>(dlsym(library, "_ZZN5boost13serialization16singleton_module8get_lockEvE4lock"));
    ASSERT_NE(flag, nullptr);
    auto getLock = reinterpret_cast<bool* (*)()>(resolve("boost::serialization::singleton_module::get_lock"));
    auto isLocked = reinterpret_cast<bool (*)()>(resolve("boost::serialization::singleton_module::is_locked"));
    auto lock = reinterpret_cast<void (*)()>(resolve("boost::serialization::singleton_module::lock"));
    auto unlock = reinterpret_cast<void (*)()>(resolve("boost::serialization::singleton_module::unlock"));
    ASSERT_TRUE(getLock && isLocked && lock && unlock);
    EXPECT_EQ(getLock(), flag);
    lock();
    EXPECT_TRUE(*flag);
    EXPECT_TRUE(isLocked());
    unlock();
    EXPECT_FALSE(*flag);
    EXPECT_FALSE(isLocked());
}
