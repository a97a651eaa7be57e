#pragma once
// Skin packages for the skin engine's tests, made by the program's own ZIP writer.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <thread>
#include <vector>

#include "archive/ZipWriter.h"

namespace norv::test {

// The program's skin definition.
inline constexpr std::string_view kSkinText =
    "<THEME><VIEW onload=\"wmpsrv.audio =eq; wmpsrv.video =vs;\"><VIDEOSETTINGS id=\"vs\"/>"
    "<EQUALIZERSETTINGS id=\"eq\"/></VIEW></THEME>";

using Bytes = std::vector<std::uint8_t>;

inline Bytes readAll(int fd) {
    Bytes bytes;
    std::uint8_t chunk[4096];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    return bytes;
}

// A package of `text` as the program writes it: into a file, or into a pipe (which cannot
// seek, so the entry gets a data descriptor). `dir` holds the files it needs.
inline Bytes makePackage(const std::filesystem::path& dir, std::string_view text,
                         bool throughPipe = false) {
    auto source = dir / "skin-source.txt";
    std::ofstream(source, std::ios::binary).write(text.data(), std::streamsize(text.size()));
    int fds[2] = {-1, -1};
    int fd;
    std::thread reader;
    Bytes bytes;
    if (throughPipe) {
        EXPECT_EQ(::pipe(fds), 0);
        reader = std::thread([&] { bytes = readAll(fds[0]); });
        fd = fds[1];
    } else {
        fd = ::open((dir / "skin-package.zip").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    }
    auto writer = archive::ZipWriter::create(fd);
    EXPECT_TRUE(writer);
    if (writer) {
        EXPECT_EQ(writer->add(source.string()), 0u);
        EXPECT_EQ(writer->close(), 0u);
    }
    writer.reset();
    if (throughPipe) {
        ::close(fds[1]);
        reader.join();
        ::close(fds[0]);
    } else {
        ::lseek(fd, 0, SEEK_SET);
        bytes = readAll(fd);
        ::close(fd);
    }
    std::filesystem::remove(source);
    std::filesystem::remove(dir / "skin-package.zip");
    return bytes;
}

inline std::filesystem::path writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

inline std::uint32_t read32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

// Offsets of the records of a one-entry archive.
struct PackageLayout {
    std::size_t local = 0;
    std::size_t central = 0;
    std::size_t end = 0;
    explicit PackageLayout(const Bytes& b) : central(read32(b, b.size() - 6)), end(b.size() - 22) {}
};

// The package with its entry renamed from "wmpsrv.wms" to "wmpsrv.txt" in both headers:
// still a valid archive.
inline Bytes renameEntry(Bytes b) {
    PackageLayout at(b);
    for (std::size_t name : {at.local + 30 + 7, at.central + 46 + 7}) {
        b[name] = 't';
        b[name + 1] = 'x';
        b[name + 2] = 't';
    }
    return b;
}

} // namespace norv::test
