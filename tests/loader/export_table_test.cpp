// The private export table of the shared library, checked against the public header.
#include <dlfcn.h>

#include <fstream>
#include <regex>
#include <algorithm>
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
        auto table = reinterpret_cast<const uint32_t* (*)()>(dlsym(library, "LumbraExportTable"));
        resolve = reinterpret_cast<void* (*)(const char*)>(dlsym(library, "LumbraGetProcAddress"));
        hash = reinterpret_cast<uint32_t (*)(const char*)>(dlsym(library, "LumbraHashName"));
        ASSERT_TRUE(table && resolve && hash);
        // Layout: a version word, the entry count, the entries, then their hashes in the same order.
        header = table();
        entries = reinterpret_cast<void* const*>(header + 2);
        hashes = reinterpret_cast<const uint32_t*>(entries + kEntries);
    }
    void TearDown() override {
        if (library != nullptr) dlclose(library);
    }

    static constexpr size_t kEntries = 106;
    void* library = nullptr;
    void* (*resolve)(const char*) = nullptr;
    uint32_t (*hash)(const char*) = nullptr;
    const uint32_t* header = nullptr;
    void* const* entries = nullptr;
    const uint32_t* hashes = nullptr;
};

}  // namespace

// Every declared function, found by its name's hash in the sorted table, is its own symbol.
TEST_F(ExportTable, HashesAscendAndEveryDeclaredFunctionResolvesToItsOwnSymbol) {
    ASSERT_EQ(header[0], 0x1F00u);
    ASSERT_EQ(header[1], kEntries);
    for (size_t i = 1; i < kEntries; ++i) EXPECT_LT(hashes[i - 1], hashes[i]) << "entry " << i;
    for (size_t i = 0; i < kEntries; ++i) EXPECT_NE(entries[i], nullptr);
    EXPECT_EQ(hash(""), 2166136261u) << "FNV-1a offset basis";
    EXPECT_EQ(hash("a"), 0xe40c292cu) << "FNV-1a of one byte";
    const std::vector<std::string> names = DeclaredFunctions();
    ASSERT_EQ(names.size(), 102u);
    for (const std::string& name : names) {
        void* bySymbol = dlsym(library, name.c_str());
        ASSERT_NE(bySymbol, nullptr) << name;
        EXPECT_EQ(resolve(name.c_str()), bySymbol) << name;
        const auto* at = std::lower_bound(hashes, hashes + kEntries, hash(name.c_str()));
        ASSERT_TRUE(at != hashes + kEntries && *at == hash(name.c_str())) << name;
        EXPECT_EQ(entries[at - hashes], bySymbol) << name;
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
