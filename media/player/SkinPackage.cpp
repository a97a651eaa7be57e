#include "media/player/SkinPackage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "archive/ZipWriter.h"

namespace norv::media {

static_assert(SkinPackage::kSkinText.size() == 125);

namespace {

// GetTempPath's buffer: the directory and its terminating NUL must fit.
constexpr std::size_t kTemporaryPathBuffer = 256;
constexpr std::string_view kPrefix = "TFR";
constexpr std::string_view kPackageExtension = ".wmz";
constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

std::mutex gLock;
std::string gPath; // the package, empty while there is none
SkinFiles gRealFiles;
SkinFiles* gFiles = &gRealFiles;

// The package's path for the exit and signal handlers, which may not lock or allocate.
char gExitPath[4096];
volatile std::sig_atomic_t gExitPathSet = 0;

void setExitPath(const std::string& path) {
    gExitPathSet = 0;
    if (path.empty() || path.size() >= sizeof gExitPath)
        return;
    std::memcpy(gExitPath, path.c_str(), path.size() + 1);
    gExitPathSet = 1;
}

// The process that made the package: a child forked from it (one that has not replaced
// its image yet) must not delete it when it exits.
pid_t gOwner = 0;

void removeAtExit() {
    if (gExitPathSet && ::getpid() == gOwner)
        ::unlink(gExitPath);
}

extern "C" void removeOnSignal(int sig) {
    removeAtExit();
    // Then end the process as the signal would have.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Once per process: at exit, and on the end signals that would end the process without
// running exit handlers. A signal the program handles itself (the shell's main loop
// answers SIGTERM) is left to it: the process then exits normally.
void registerRemoval() {
    static std::once_flag once;
    std::call_once(once, [] {
        gOwner = ::getpid();
        std::atexit(removeAtExit);
        for (int sig : kEndSignals) {
            struct sigaction current {};
            if (::sigaction(sig, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
                (current.sa_flags & SA_SIGINFO))
                continue;
            struct sigaction action {};
            action.sa_handler = removeOnSignal;
            sigemptyset(&action.sa_mask);
            ::sigaction(sig, &action, nullptr);
        }
    });
}

std::size_t characterCount(std::string_view utf8) {
    return utf8ToUtf16(utf8).size();
}

// The errno of the call that just failed, as an HRESULT (never S_OK).
HRESULT lastError() {
    return hresultFromLastError();
}

struct TemporaryFile {
    std::string path;
    int fd = -1;
    bool moved = false; // renamed to the package: nothing to delete
};

HRESULT makeTemporaryFile(SkinFiles& files, TemporaryFile& file) {
    std::string directory = files.temporaryDirectory();
    if (directory.empty())
        return hresultFromErrno(ENOENT);
    if (directory.back() != '/')
        directory += '/';
    if (characterCount(directory) >= kTemporaryPathBuffer)
        return DISP_E_BUFFERTOOSMALL;
    errno = 0;
    file.fd = files.createTemporary(directory, file.path);
    if (file.fd < 0) {
        file.path.clear();
        return lastError();
    }
    return S_OK;
}

HRESULT writeAll(SkinFiles& files, int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        errno = 0;
        ssize_t n = files.write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return lastError();
        if (n == 0)
            return hresultFromErrno(ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    return S_OK;
}

void discardFile(SkinFiles& files, TemporaryFile& file) {
    if (file.fd >= 0) {
        files.close(file.fd);
        file.fd = -1;
    }
    if (!file.path.empty() && !file.moved)
        files.remove(file.path);
    file.path.clear();
}

// Makes the package; its path goes to `package`. Called with gLock held.
HRESULT makePackage(SkinFiles& files, std::string& package) {
    TemporaryFile text, zipFile;
    HRESULT hr = makeTemporaryFile(files, text);
    if (succeeded(hr))
        hr = writeAll(files, text.fd, SkinPackage::kSkinText);
    if (succeeded(hr))
        hr = makeTemporaryFile(files, zipFile);
    std::unique_ptr<norv::archive::ZipWriter> writer;
    if (succeeded(hr)) {
        errno = 0;
        writer = norv::archive::ZipWriter::create(zipFile.fd);
        if (!writer)
            hr = lastError();
    }
    if (succeeded(hr)) {
        files.flush(text.fd); // a failure shows when the entry is read back
        files.close(text.fd);
        text.fd = -1;

        errno = 0;
        std::uint32_t added = writer->add(text.path);
        std::uint32_t finished = writer->close();
        int zipErrno = errno;
        writer.reset();

        // Reopened as the steps have it; the file is deleted below in any case.
        errno = 0;
        text.fd = files.open(text.path);
        if (text.fd < 0 || files.seekEnd(text.fd) < 0)
            hr = lastError();
        // The archive is used only when both the entry and the directory were written.
        if (succeeded(hr) &&
            (added != norv::archive::ZipResult::ok || finished != norv::archive::ZipResult::ok))
            hr = hresultFromErrno(zipErrno ? zipErrno : EIO);
    }
    if (succeeded(hr)) {
        std::size_t dot = zipFile.path.rfind('.');
        std::size_t slash = zipFile.path.rfind('/');
        std::string target =
            (dot == std::string::npos || (slash != std::string::npos && dot < slash))
                ? zipFile.path
                : zipFile.path.substr(0, dot);
        target += kPackageExtension;
        errno = 0;
        int closed = files.close(zipFile.fd);
        zipFile.fd = -1;
        if (closed != 0)
            hr = lastError(); // a write the system could not complete after all
        if (succeeded(hr)) {
            errno = 0;
            if (files.remove(target) != 0 && errno != ENOENT)
                hr = lastError();
        }
        if (succeeded(hr)) {
            errno = 0;
            if (files.rename(zipFile.path, target) != 0)
                hr = lastError();
            else
                zipFile.moved = true;
        }
        if (succeeded(hr))
            package = target;
    }
    discardFile(files, text);
    discardFile(files, zipFile);
    return hr;
}

} // namespace

std::string SkinFiles::temporaryDirectory() {
    const char* dir = std::getenv("TMPDIR");
    return dir && *dir ? std::string(dir) : std::string("/tmp");
}

int SkinFiles::createTemporary(const std::string& directory, std::string& path) {
    std::string pattern = directory + std::string(kPrefix) + "XXXXXX.tmp";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = ::mkostemps(buffer.data(), 4, O_CLOEXEC);
    if (fd >= 0)
        path.assign(buffer.data());
    return fd;
}

ssize_t SkinFiles::write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

int SkinFiles::flush(int fd) {
    return ::fsync(fd);
}

int SkinFiles::close(int fd) {
    return ::close(fd);
}

int SkinFiles::open(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CLOEXEC);
}

off_t SkinFiles::seekEnd(int fd) {
    return ::lseek(fd, 0, SEEK_END);
}

int SkinFiles::remove(const std::string& path) {
    return ::unlink(path.c_str());
}

int SkinFiles::rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str());
}

HRESULT SkinPackage::ensure() {
    std::lock_guard guard(gLock);
    if (!gPath.empty())
        return S_OK;
    std::string package;
    HRESULT hr = makePackage(*gFiles, package);
    if (succeeded(hr)) {
        if (!gPath.empty() && gPath != package)
            gFiles->remove(gPath);
        gPath = package;
        setExitPath(gPath);
        registerRemoval();
    } else if (!gPath.empty()) {
        gFiles->remove(gPath);
        gPath.clear();
        setExitPath(gPath);
    }
    return hr;
}

HRESULT SkinPackage::customUiMode(Bstr* file) {
    if (file == nullptr)
        return E_POINTER;
    std::lock_guard guard(gLock);
    if (gPath.empty())
        return E_NOTIMPL;
    *file = Bstr::fromUtf8("file://" + gPath);
    return S_OK;
}

std::string SkinPackage::path() {
    std::lock_guard guard(gLock);
    return gPath;
}

void SkinPackage::useFiles(SkinFiles* files) {
    std::lock_guard guard(gLock);
    gFiles = files ? files : &gRealFiles;
}

void SkinPackage::discard() {
    std::lock_guard guard(gLock);
    if (!gPath.empty())
        ::unlink(gPath.c_str());
    gPath.clear();
    setExitPath(gPath);
}

} // namespace norv::media
