#include "media/pipeline/RecordingFile.h"

#include <array>
#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/com/Bstr.h"

namespace norv::media {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes %XX escapes; nullopt for a broken escape or an escaped NUL.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

// The path of a file URI ("file:" already taken off); nullopt when it names no local file.
std::optional<std::string> pathOfFileUri(std::string_view rest) {
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos)
            return std::nullopt;
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !(host.size() == 9 && startsWithNoCase(host, "localhost")))
            return std::nullopt;
        rest.remove_prefix(slash);
    }
    return percentDecoded(rest);
}

std::u16string errnoText(int err) {
    return com::utf8ToUtf16(std::error_code(err, std::generic_category()).message());
}

FileOutcome failure(int err, const char* what, const std::string& path) {
    FileOutcome r;
    r.hr = com::hresultFromErrno(err);
    r.message = u"Cannot " + com::utf8ToUtf16(what) + u" \"" + com::utf8ToUtf16(path) + u"\": " +
                errnoText(err) + u".";
    return r;
}

// A file descriptor closed on destruction.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

bool isRiffWave(int fd) {
    std::array<char, 12> head{};
    ssize_t got = 0;
    while (got < static_cast<ssize_t>(head.size())) {
        const ssize_t n = ::pread(fd, head.data() + got, head.size() - got, got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += n;
    }
    const std::string_view h(head.data(), head.size());
    return h.substr(0, 4) == "RIFF" && h.substr(8, 4) == "WAVE";
}

} // namespace

std::optional<std::string> RecordingFile::resolve(std::u16string_view name,
                                                  std::string_view executableFolder) {
    if (name.find(u'\0') != std::u16string_view::npos)
        return std::nullopt;
    std::string path = com::utf16ToUtf8(name);
    if (startsWithNoCase(path, "file:")) {
        auto local = pathOfFileUri(std::string_view(path).substr(5));
        if (!local)
            return std::nullopt;
        path = std::move(*local);
    }
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    if (path.starts_with('/'))
        return path;
    std::string folder(executableFolder);
    while (folder.size() > 1 && folder.ends_with('/'))
        folder.pop_back();
    if (!folder.ends_with('/'))
        folder += '/';
    return folder + path;
}

std::string RecordingFile::executableFolder() {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size())
        return ".";
    buffer.resize(static_cast<std::size_t>(n));
    const std::size_t slash = buffer.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    buffer.resize(slash);
    return buffer;
}

FileOutcome RecordingFile::createFolders(const std::string& path) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '/')
            continue;
        const std::string folder = path.substr(0, i);
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
            return failure(errno, "create the folder", folder);
    }
    return {};
}

FileOutcome RecordingFile::prepare(const std::string& path, FileIdentity* identity) {
    // No O_TRUNC: the file is looked at before anything in it changes. O_NONBLOCK keeps a
    // FIFO from holding the call up.
    Descriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
    if (fd.get() < 0)
        return failure(errno, "write the recording's file", path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return failure(errno, "write the recording's file", path);
    if (!S_ISREG(st.st_mode) || (st.st_size > 0 && !isRiffWave(fd.get())))
        return {com::E_ACCESSDENIED, notARecording};
    if (st.st_size > 0 && ::ftruncate(fd.get(), 0) != 0)
        return failure(errno, "empty the recording's file", path);
    if (identity != nullptr)
        *identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return {};
}

bool RecordingFile::stillAt(const std::string& path, const FileIdentity& identity) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)} == identity;
}

} // namespace norv::media
