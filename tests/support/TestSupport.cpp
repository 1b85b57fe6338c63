#include "TestSupport.h"
#include "quorvane/base/Error.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <unistd.h>
#include <zlib.h>

namespace qvtest {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "qvtest-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void WriteFile(const std::filesystem::path& path, const std::string& text)
{
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> TextBytes(size_t size, uint32_t seed)
{
    static const char* words[] = {"<p>", "quorvane ", "page ", "the ", "site ", "index ", "</p>\n", "link ", "style "};
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    out.reserve(size);
    while (out.size() < size) {
        const char* w = words[rng() % 9];
        for (const char* p = w; *p && out.size() < size; ++p)
            out.push_back(static_cast<uint8_t>(*p));
    }
    return out;
}

std::vector<uint8_t> NoiseBytes(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(size);
    for (auto& b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

std::vector<uint8_t> Inflate(const uint8_t* data, size_t size, size_t expectedSize)
{
    std::vector<uint8_t> out(expectedSize + 1);
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        throw std::runtime_error("inflateInit");
    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = static_cast<uInt>(size);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&zs, Z_FINISH);
    const size_t produced = out.size() - zs.avail_out;
    const bool consumedAll = zs.avail_in == 0;
    inflateEnd(&zs);
    if (rc != Z_STREAM_END || !consumedAll)
        throw std::runtime_error("not one complete zlib stream (rc " + std::to_string(rc) + ")");
    out.resize(produced);
    return out;
}

uint32_t Crc32(const std::vector<uint8_t>& bytes)
{
    return static_cast<uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

std::string FailureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const qv::Error& e) {
        return e.what();
    }
    return "<no error>";
}

} // namespace qvtest
