// FirmwareFileBuffer: whole files read byte for byte, and the three error
// texts carrying the path exactly as it was passed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "support/ExpectThrow.h"
#include "tavex/platform/FirmwareFileBuffer.h"

namespace fs = std::filesystem;
using Tavex::FirmwareFileBuffer;

namespace {

class FirmwareFileBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        const fs::path base = fs::temp_directory_path();
        for (int attempt = 0; attempt < 100 && dir.empty(); ++attempt) {
            const fs::path candidate = base / ("tavex-firmware-" + std::to_string(seed()));
            if (fs::create_directory(candidate))
                dir = candidate;
        }
        ASSERT_FALSE(dir.empty()) << "no temporary directory";
    }
    void TearDown() override {
        if (dir.empty())
            return;
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(dir, ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }

    std::string write(const std::string& name, const std::vector<char>& contents) {
        const fs::path path = dir / name;
        std::ofstream out(path, std::ios::binary);
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        out.close();
        EXPECT_TRUE(out.good()) << path;
        return path.string();
    }

    fs::path dir;
};

// Bytes that text-mode reading would change or stop at: CR, LF, ^Z, NUL.
std::vector<char> image(std::size_t size) {
    std::vector<char> bytes(size);
    const char awkward[] = {'\r', '\n', 0x1A, 0, '\r', static_cast<char>(0xFF)};
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = (i % 7 == 3) ? awkward[(i / 7) % sizeof awkward]
                                : static_cast<char>((i * 131 + 17) & 0xFF);
    return bytes;
}

}  // namespace

TEST_F(FirmwareFileBufferTest, ReadsTheWholeFileExactly) {
    const std::size_t sizes[] = {1, 2, 3, 4, 5, 255, 4096, 65537, 300000};
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        const std::vector<char> contents = image(size);
        const std::string path = write("image" + std::to_string(size) + ".bin", contents);
        FirmwareFileBuffer buffer(path.c_str());
        ASSERT_EQ(size, buffer.size());
        const char* bytes = buffer;
        EXPECT_TRUE(std::equal(contents.begin(), contents.end(), bytes));
    }
}

TEST_F(FirmwareFileBufferTest, FilesThatCannotBeOpenedNameTheirPath) {
    const std::string dirText = dir.string();
    const std::string paths[] = {
        dirText + "/missing.bin",
        dirText + "/no such folder/../scanner.bin",   // passed on as it is, not tidied
        dirText + "/no such folder/clrram.bin",
        dirText,                                        // a folder is no file
        "",
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        TAVEX_EXPECT_THROW_TEXT(FirmwareFileBuffer(path.c_str()), std::runtime_error,
                                "FirmwareFileBuffer: Can not open the file " + path + ".");
    }
}

TEST_F(FirmwareFileBufferTest, EmptyFileIsAReadError) {
    const std::string path = write("empty.bin", std::vector<char>());
    TAVEX_EXPECT_THROW_TEXT(FirmwareFileBuffer(path.c_str()), std::runtime_error,
                            "FirmwareFileBuffer: error occured while reading file " + path + ".");
}

TEST_F(FirmwareFileBufferTest, ReadOnlyFileCannotBeOpened) {
#if !defined(_WIN32)
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open a read-only file for writing";
#endif
    const std::string path = write("loadpcl.bin", image(64));
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::replace);
    // Wine run by root, or a process with override rights, still may.
    if (std::FILE* probe = std::fopen(path.c_str(), "r+b")) {
        std::fclose(probe);
        GTEST_SKIP() << "this process may open a read-only file for writing";
    }
    TAVEX_EXPECT_THROW_TEXT(FirmwareFileBuffer(path.c_str()), std::runtime_error,
                            "FirmwareFileBuffer: Can not open the file " + path + ".");
}

#if defined(__linux__)
// The file is closed again whether the read worked or not.
TEST_F(FirmwareFileBufferTest, LeavesNoFileOpen) {
    auto openFiles = [] {
        std::size_t count = 0;
        for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it)
            ++count;
        return count;
    };
    const std::string good = write("pciprofi.ss1", image(1000));
    const std::string empty = write("empty.bin", std::vector<char>());
    const std::size_t before = openFiles();
    {
        FirmwareFileBuffer buffer(good.c_str());
        EXPECT_EQ(before, openFiles());
    }
    EXPECT_THROW(FirmwareFileBuffer(empty.c_str()), std::runtime_error);
    EXPECT_EQ(before, openFiles());
}
#endif
