// Resolves the fuzzer's bytes, read as UTF-16 text, as a recording's file name from
// script: the result must be an absolute path without backslashes or NUL characters, and
// a plain relative name must land in the executable's folder.

#include <cstdlib>
#include <cstring>
#include <string>

#include "media/pipeline/RecordingFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string name(size / 2, u'\0');
    std::memcpy(name.data(), data, name.size() * 2);
    const auto path = norv::media::RecordingFile::resolve(name, "/opt/norv");
    if (!path)
        return 0;
    if (path->empty() || path->front() != '/' || path->find('\\') != std::string::npos ||
        path->find('\0') != std::string::npos)
        std::abort();
    const bool uri = name.size() >= 5 && (name[0] | 0x20) == u'f' && (name[1] | 0x20) == u'i' &&
                     (name[2] | 0x20) == u'l' && (name[3] | 0x20) == u'e' && name[4] == u':';
    if (!uri && !name.empty() && name[0] != u'/' && name[0] != u'\\' &&
        path->rfind("/opt/norv/", 0) != 0)
        std::abort();
    return 0;
}
