#include "platform/media/CustomSkin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include <cerrno>
#include <cstdio>

#include "platform/com/ErrorInfo.h"
#include "platform/media/EqualizerSettings.h"
#include "platform/media/SkinDefinition.h"
#include "platform/media/VideoSettings.h"

namespace norv::platform::media {

namespace {

constexpr std::uint32_t ERROR_BAD_FORMAT = 11;
constexpr std::uint32_t ERROR_INVALID_DATA = 13;
constexpr std::uint32_t ERROR_CRC = 23;
constexpr std::uint32_t ERROR_FILE_TOO_LARGE = 223;
// No package the program makes comes near this.
constexpr off_t kMaxPackageSize = 16 << 20;

// The path of a "file://" address: the rest as it is, without a "localhost" host.
bool pathOf(const Bstr& address, std::string& path) {
    std::string text = address.toUtf8();
    constexpr std::string_view scheme = "file://";
    if (text.size() < scheme.size() ||
        g_ascii_strncasecmp(text.c_str(), scheme.data(), scheme.size()) != 0)
        return false;
    path = text.substr(scheme.size());
    if (g_ascii_strncasecmp(path.c_str(), "localhost/", 10) == 0)
        path.erase(0, 9);
    return !path.empty() && path.find('\0') == std::string::npos;
}

HRESULT readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return hresultFromLastError();
    struct stat info {};
    HRESULT hr = S_OK;
    if (::fstat(fd, &info) != 0) {
        hr = hresultFromLastError();
    } else if (!S_ISREG(info.st_mode)) {
        hr = hresultFromWin32(ERROR_ACCESS_DENIED);
    } else if (info.st_size > kMaxPackageSize) {
        hr = hresultFromWin32(ERROR_FILE_TOO_LARGE);
    } else {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                hr = hresultFromLastError();
                break;
            }
            if (n == 0)
                break; // the file shrank: read what there is
            done += static_cast<std::size_t>(n);
        }
        bytes.resize(done);
    }
    ::close(fd);
    return hr;
}

HRESULT resultOf(const SkinResult& result) {
    switch (result.error) {
    case SkinError::None:
        return S_OK;
    case SkinError::Package:
        if (result.zipError == ZipError::BadCrc)
            return hresultFromWin32(ERROR_CRC);
        if (result.zipError == ZipError::TooLarge)
            return hresultFromWin32(ERROR_FILE_TOO_LARGE);
        return hresultFromWin32(ERROR_BAD_FORMAT);
    case SkinError::NoDefinition:
    case SkinError::SeveralDefinitions:
        return hresultFromWin32(ERROR_NOT_FOUND);
    case SkinError::Malformed:
    case SkinError::NoTheme:
    case SkinError::NoView:
        return hresultFromWin32(ERROR_INVALID_DATA);
    }
    return E_FAIL;
}

} // namespace

HRESULT CustomSkin::load(const Bstr& address, const Bstr& scriptableName, IDispatch* scriptable,
                         const Targets& targets, std::unique_ptr<CustomSkin>& out) {
    std::string path;
    if (!pathOf(address, path)) {
        g_debug("player: the skin address %s is not a file address", address.toUtf8().c_str());
        return E_INVALIDARG;
    }
    std::vector<std::uint8_t> bytes;
    if (HRESULT hr = readFile(path, bytes); failed(hr)) {
        g_debug("player: the skin %s cannot be read (0x%08X)", path.c_str(),
                static_cast<unsigned>(hr));
        return hr;
    }
    SkinDefinition definition;
    SkinResult result = readSkinPackage(bytes, definition);
    if (!result) {
        g_debug("player: the skin %s cannot be loaded: %s", path.c_str(), result.detail.c_str());
        return resultOf(result);
    }

    auto skin = std::make_unique<CustomSkin>();
    for (const SkinElement& e : definition.elements) {
        if (skin->element(e.id)) {
            g_debug("player: skin: a second element with the id \"%s\" is left out", e.id.c_str());
            continue;
        }
        ComPtr<IDispatch> made;
        if (e.type == "EQUALIZERSETTINGS" && targets.audio)
            made = makeObject<EqualizerSettings>(targets.audio, e.id);
        else if (e.type == "VIDEOSETTINGS")
            made = makeObject<VideoSettings>(targets.videoBalance, e.id);
        if (made)
            skin->elements_.emplace_back(e.id, std::move(made));
    }

    for (const std::string& statement : definition.ignored)
        g_debug("player: skin onload: \"%s\" is not an assignment of an element; left out",
                statement.c_str());
    const std::string name = scriptableName.toUtf8();
    for (const SkinAssignment& a : definition.onload) {
        IDispatch* element = skin->element(a.id);
        if (!scriptable || a.object != name || element == nullptr) {
            g_debug("player: skin onload: %s.%s =%s names no object or element; left out",
                    a.object.c_str(), a.member.c_str(), a.id.c_str());
            continue;
        }
        HRESULT hr =
            putPropertyByName(scriptable, utf8ToUtf16(a.member), Variant::fromDispatch(element));
        if (failed(hr)) {
            g_debug("player: skin onload stopped: %s.%s =%s failed (0x%08X)", a.object.c_str(),
                    a.member.c_str(), a.id.c_str(), static_cast<unsigned>(hr));
            clearErrorInfo(); // about a call the caller did not make
            break;
        }
    }
    out = std::move(skin);
    return S_OK;
}

IDispatch* CustomSkin::element(std::string_view id) const {
    for (const auto& [elementId, object] : elements_)
        if (elementId == id)
            return object.get();
    return nullptr;
}

} // namespace norv::platform::media
