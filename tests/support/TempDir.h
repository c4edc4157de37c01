// A folder of its own under the system's temporary folder, removed with
// everything in it at the end: where card tests write firmware, module and
// configuration files.
#ifndef TAVEX_TESTS_SUPPORT_TEMPDIR_H
#define TAVEX_TESTS_SUPPORT_TEMPDIR_H

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

class TempDir {
public:
    explicit TempDir(const std::string& tag = "tavex") {
        namespace fs = std::filesystem;
        static unsigned counter = 0;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (;;) {
            path_ = fs::temp_directory_path() /
                    (tag + "-" + std::to_string(stamp) + "-" + std::to_string(++counter));
            if (fs::create_directory(path_))
                break;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder with its trailing separator, as a firmware or module prefix.
    std::string prefix() const {
        return path_.string() + static_cast<char>(std::filesystem::path::preferred_separator);
    }
    std::string file(const std::string& name) const { return prefix() + name; }

    // Writes the file and returns its full name.
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
        if (!bytes.empty())
            out.write(reinterpret_cast<const char*>(&bytes[0]),
                      static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("test scene: cannot write " + file(name));
        return file(name);
    }
    void remove(const std::string& name) const { std::filesystem::remove(file(name)); }

private:
    std::filesystem::path path_;
};

#endif
