// The private export table of the shared library, checked against the public header.
#include <dlfcn.h>

#include <fstream>
#include <regex>
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

class ExportTable : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = dlopen(MBUS_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        auto table = reinterpret_cast<const uint32_t* (*)()>(dlsym(library_, "LumbraExportTable"));
        resolve_ = reinterpret_cast<void* (*)(const char*)>(dlsym(library_, "LumbraGetProcAddress"));
        hash_ = reinterpret_cast<uint32_t (*)(const char*)>(dlsym(library_, "LumbraHashName"));
        ASSERT_TRUE(table && resolve_ && hash_);
        // Layout: a version word, the entry count, the entries, then their hashes in the same order.
        header_ = table();
        entries_ = reinterpret_cast<void* const*>(header_ + 2);
        hashes_ = reinterpret_cast<const uint32_t*>(entries_ + kEntries);
    }
    void TearDown() override {
        if (library_ != nullptr) dlclose(library_);
    }

    static constexpr size_t kEntries = 106;
    void* library_ = nullptr;
    void* (*resolve_)(const char*) = nullptr;
    uint32_t (*hash_)(const char*) = nullptr;
    const uint32_t* header_ = nullptr;
    void* const* entries_ = nullptr;
    const uint32_t* hashes_ = nullptr;
};

}  // namespace

// Every declared function, found by its name's hash in the sorted table, is its own symbol.
TEST_F(ExportTable, HashesAscendAndEveryDeclaredFunctionResolvesToItsOwnSymbol) {
    ASSERT_EQ(header_[0], 0x1F00u);
    ASSERT_EQ(header_[1], kEntries);
    for (size_t i = 1; i < kEntries; ++i) EXPECT_LT(hashes_[i - 1], hashes_[i]) << "entry " << i;
    for (size_t i = 0; i < kEntries; ++i) EXPECT_NE(entries_[i], nullptr);
    EXPECT_EQ(hash_(""), 2166136261u) << "FNV-1a offset basis";
    EXPECT_EQ(hash_("a"), 0xe40c292cu) << "FNV-1a of one byte";
    // Every function the public header declares.
    std::ifstream header(MBUS_SOURCE_DIR "/include/mbus/mbus.h");
    const std::regex declaration(R"(^MB_API\s+\w+\s+(Mb\w+)\()");
    std::vector<std::string> names;
    for (std::string line; std::getline(header, line);) {
        std::smatch match;
        if (std::regex_search(line, match, declaration)) names.push_back(match[1]);
    }
    ASSERT_EQ(names.size(), 102u);
    for (const std::string& name : names) {
        void* bySymbol = dlsym(library_, name.c_str());
        ASSERT_NE(bySymbol, nullptr) << name;
        EXPECT_EQ(resolve_(name.c_str()), bySymbol) << name;
        const auto* at = std::lower_bound(hashes_, hashes_ + kEntries, hash_(name.c_str()));
        ASSERT_TRUE(at != hashes_ + kEntries && *at == hash_(name.c_str())) << name;
        EXPECT_EQ(entries_[at - hashes_], bySymbol) << name;
    }
    EXPECT_EQ(resolve_("MbBufferFree"), resolve_("MbMemoryFree")) << "two entries, one function";
    EXPECT_EQ(resolve_("MbNoSuchFunction"), nullptr);
    EXPECT_EQ(resolve_(nullptr), nullptr);
}
TEST_F(ExportTable, SingletonModuleFlagIsExportedAndDrivenByItsFourEntries) {
    auto* flag = static_cast<bool*>(dlsym(library_, "_ZZN5boost13serialization16singleton_module8get_lockEvE4lock"));
    ASSERT_NE(flag, nullptr);
    auto getLock = reinterpret_cast<bool* (*)()>(resolve_("boost::serialization::singleton_module::get_lock"));
    auto isLocked = reinterpret_cast<bool (*)()>(resolve_("boost::serialization::singleton_module::is_locked"));
    auto lock = reinterpret_cast<void (*)()>(resolve_("boost::serialization::singleton_module::lock"));
    auto unlock = reinterpret_cast<void (*)()>(resolve_("boost::serialization::singleton_module::unlock"));
    ASSERT_TRUE(getLock && isLocked && lock && unlock);
    EXPECT_EQ(getLock(), flag);
    lock();
    EXPECT_TRUE(*flag);
    EXPECT_TRUE(isLocked());
    unlock();
    EXPECT_FALSE(*flag);
    EXPECT_FALSE(isLocked());
}
