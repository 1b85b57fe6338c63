#pragma once
// Text checks that show the whole text when they fail (GoogleTest's macros
// underneath, so the test file includes gtest).
#define EXPECT_CONTAINS(text, part) EXPECT_NE(std::string(text).find(part), std::string::npos) << (text)
#define EXPECT_LACKS(text, part) EXPECT_EQ(std::string(text).find(part), std::string::npos) << (text)

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qvtest {

// A fresh folder under the system's temporary folder, removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
void WriteFile(const std::filesystem::path& path, const std::string& text);

// Deterministic bytes: text-like (compressible) or noise (incompressible).
std::vector<uint8_t> TextBytes(size_t size, uint32_t seed = 1);
std::vector<uint8_t> NoiseBytes(size_t size, uint32_t seed = 1);

// zlib itself, as an independent reader of our streams.
std::vector<uint8_t> Inflate(const uint8_t* data, size_t size, size_t expectedSize);
uint32_t Crc32(const std::vector<uint8_t>& bytes);

// The message of the qv::Error that `action` throws, or a note that none came.
std::string FailureOf(const std::function<void()>& action);

} // namespace qvtest
