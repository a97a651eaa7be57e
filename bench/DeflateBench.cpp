// Compresses each file of a corpus with our Deflater and with zlib's deflate (level 8, raw,
// 15 window bits, default memory level) and prints, per file and in total, the compressed
// size ratio (ours / zlib) and the throughput ratio (ours / zlib). Our output is inflated
// with zlib and compared with the input before it counts.
//
// Corpus: the Markdown documents in the shared folder next to the checkout (../shared or
// ../../shared), a few large files
// found on every Debian 12 machine with the build dependencies, and any files named on the
// command line. Missing files are skipped.

#include "archive/Deflater.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using norv::archive::Deflater;
using Clock = std::chrono::steady_clock;

std::vector<std::uint8_t> ours(Deflater& deflater, const std::vector<std::uint8_t>& input) {
    auto compressed = deflater.compress(8, input);
    if (!compressed) {
        std::fprintf(stderr, "Deflater failed: %s\n", deflater.errorText().c_str());
        std::exit(1);
    }
    return std::move(*compressed);
}

std::vector<std::uint8_t> zlibDeflate(const std::vector<std::uint8_t>& input) {
    z_stream z{};
    if (deflateInit2(&z, 8, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        std::exit(1);
    std::vector<std::uint8_t> out(deflateBound(&z, input.size()));
    z.next_in = const_cast<Bytef*>(input.data());
    z.avail_in = static_cast<uInt>(input.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END)
        std::exit(1);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bool inflatesTo(const std::vector<std::uint8_t>& compressed,
                const std::vector<std::uint8_t>& expected) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK)
        return false;
    std::vector<std::uint8_t> out(expected.size() + 1);
    z.next_in = const_cast<Bytef*>(compressed.data());
    z.avail_in = static_cast<uInt>(compressed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool ok = rc == Z_STREAM_END && z.total_out == expected.size() &&
                    std::equal(expected.begin(), expected.end(), out.begin());
    inflateEnd(&z);
    return ok;
}

// Best times of ours and zlib's, running them in turn (so that a change in the machine's
// load hits both alike) until each has run at least three times and, for small inputs,
// about half a second has passed.
template <typename A, typename B>
std::pair<double, double> bestSeconds(A&& runA, B&& runB) {
    const auto time = [](auto& run) {
        const auto start = Clock::now();
        run();
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    double bestA = 1e300;
    double bestB = 1e300;
    double total = 0;
    for (int runs = 0; runs < 3 || (total < 0.5 && runs < 200); ++runs) {
        const double a = time(runA);
        const double b = time(runB);
        bestA = std::min(bestA, a);
        bestB = std::min(bestB, b);
        total += a + b;
    }
    return {bestA, bestB};
}

std::vector<std::filesystem::path> corpus(int argc, char** argv) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    // The shared documents folder beside the checkout (a worktree sits one level deeper).
    std::vector<std::filesystem::path> docs;
    for (const char* up : {"..", "../.."}) {
        const std::filesystem::path shared = std::filesystem::path(NORV_SOURCE_DIR) / up / "shared";
        for (const auto& entry : std::filesystem::directory_iterator(shared, ec))
            if (entry.is_regular_file() && entry.path().extension() == ".md")
                docs.push_back(entry.path().lexically_normal());
        if (!docs.empty())
            break;
    }
    std::sort(docs.begin(), docs.end());
    files.insert(files.end(), docs.begin(), docs.end());
    for (const char* f :
         {"/usr/share/mime/packages/freedesktop.org.xml", "/usr/share/common-licenses/GPL-3",
          "/usr/bin/bash", "/usr/lib/x86_64-linux-gnu/libwebkit2gtk-4.1.so.0"})
        files.emplace_back(f);
    for (int i = 1; i < argc; ++i)
        files.emplace_back(argv[i]);
    return files;
}

} // namespace

int main(int argc, char** argv) {
    Deflater deflater;
    std::uint64_t totalIn = 0;
    std::uint64_t totalOurs = 0;
    std::uint64_t totalZlib = 0;
    double totalOurTime = 0;
    double totalZlibTime = 0;
    std::printf("%-28s %12s %12s %12s %8s %10s %10s %8s\n", "file", "bytes", "ours", "zlib", "size",
                "ours MB/s", "zlib MB/s", "speed");
    for (const auto& path : corpus(argc, argv)) {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            continue;
        std::vector<std::uint8_t> input((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        const std::vector<std::uint8_t> ourOutput = ours(deflater, input);
        const std::vector<std::uint8_t> zlibOutput = zlibDeflate(input);
        if (!inflatesTo(ourOutput, input)) {
            std::fprintf(stderr, "%s: our output does not inflate to the input\n", path.c_str());
            return 1;
        }
        const auto [ourTime, zlibTime] =
            bestSeconds([&] { ours(deflater, input); }, [&] { zlibDeflate(input); });
        const double mb = static_cast<double>(input.size()) / 1e6;
        std::printf("%-28s %12zu %12zu %12zu %8.4f %10.1f %10.1f %8.3f\n", path.filename().c_str(),
                    input.size(), ourOutput.size(), zlibOutput.size(),
                    static_cast<double>(ourOutput.size()) /
                        static_cast<double>(std::max<std::size_t>(zlibOutput.size(), 1)),
                    mb / ourTime, mb / zlibTime, zlibTime / ourTime);
        totalIn += input.size();
        totalOurs += ourOutput.size();
        totalZlib += zlibOutput.size();
        totalOurTime += ourTime;
        totalZlibTime += zlibTime;
    }
    if (totalIn == 0)
        return 0;
    const double mb = static_cast<double>(totalIn) / 1e6;
    std::printf("%-28s %12llu %12llu %12llu %8.4f %10.1f %10.1f %8.3f\n", "total",
                static_cast<unsigned long long>(totalIn),
                static_cast<unsigned long long>(totalOurs),
                static_cast<unsigned long long>(totalZlib),
                static_cast<double>(totalOurs) / static_cast<double>(totalZlib), mb / totalOurTime,
                mb / totalZlibTime, totalZlibTime / totalOurTime);
    return 0;
}
