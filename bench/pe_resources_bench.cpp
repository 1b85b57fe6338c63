// Reading and rewriting the resources of a large real executable (wine's
// shell32.dll by default, or the file named on the command line).
#include "quorvane/base/Stream.h"
#include "quorvane/platform/pe/PeResources.h"

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    const std::string path = argc > 1 ? argv[1] : "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/shell32.dll";
    qv::MemoryStream file;
    try {
        file.LoadFromFile(path);
    } catch (const std::exception& e) {
        std::printf("skipped: %s\n", e.what());
        return 0;
    }
    const std::span<const uint8_t> image(file.Bytes());
    using Clock = std::chrono::steady_clock;
    constexpr int kRounds = 20;

    size_t count = 0, bytes = 0;
    auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i)
        count = qv::pe::ReadResources(image).size();
    const double readSeconds = std::chrono::duration<double>(Clock::now() - start).count() / kRounds;

    const auto entries = qv::pe::ReadResources(image);
    for (const auto& e : entries)
        bytes += e.data.size();
    start = Clock::now();
    size_t written = 0;
    for (int i = 0; i < kRounds; ++i)
        written = qv::pe::ReplaceResources(image, entries).size();
    const double writeSeconds = std::chrono::duration<double>(Clock::now() - start).count() / kRounds;

    std::printf("%s: %zu bytes, %zu resources (%zu bytes of data)\n", path.c_str(), image.size(), count, bytes);
    std::printf("read:    %8.2f ms  %8.1f MB/s of file\n", readSeconds * 1e3, image.size() / readSeconds / 1e6);
    std::printf("rewrite: %8.2f ms  %8.1f MB/s of file (%zu bytes out)\n", writeSeconds * 1e3,
                image.size() / writeSeconds / 1e6, written);
    return 0;
}
