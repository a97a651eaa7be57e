#pragma once
// RecordingFile: where a recording goes, and the file it is written to.
//
// A name given by script becomes a path (resolve): a file URI ("file:///home/me/a.wav",
// percent escapes decoded, host empty or "localhost") gives its path; '\' counts as a
// folder separator; a name with a leading '/' is absolute, any other is taken relative to
// the folder of the program's executable ("rec\a.wav" -> "<executable's folder>/rec/a.wav").
//
// Before a recording is written, the folders of its path are created (createFolders) and
// the file is created or emptied (prepare). An existing file that is not empty and not a
// RIFF/WAVE file is never emptied: it is refused with E_ACCESSDENIED, untouched.
//
//   auto path = RecordingFile::resolve(name, RecordingFile::executableFolder());
//   if (!path) fail(E_INVALIDARG);
//   FileIdentity id;
//   if (auto r = RecordingFile::createFolders(*path); !r.ok()) fail(r);
//   if (auto r = RecordingFile::prepare(*path, &id); !r.ok()) fail(r);
//   ...
//   if (!RecordingFile::stillAt(*path, id)) ... // removed or replaced meanwhile

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/HResult.h"

namespace norv::media {

// The file a path named when it was prepared (device and inode).
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The result of a file operation: the HRESULT and, for a failure, a text for script that
// names the file and the reason.
struct FileOutcome {
    com::HRESULT hr = com::S_OK;
    std::u16string message;
    bool ok() const { return com::succeeded(hr); }
};

class RecordingFile {
public:
    // The refusal of a file that is not a recording.
    static constexpr const char16_t* notARecording =
        u"The file exists and is not a sound recording.";

    // The path a name stands for; nullopt for one that names no local file (a file URI of
    // another host, a broken percent escape, a NUL character).
    static std::optional<std::string> resolve(std::u16string_view name,
                                              std::string_view executableFolder);
    // The folder of the running program's executable, without a trailing '/'.
    static std::string executableFolder();

    // Creates every folder on the way to the file (the text before each '/' after the
    // first character); one that exists is fine.
    static FileOutcome createFolders(const std::string& path);

    // Creates the file, or empties an existing regular file that is empty or a RIFF/WAVE
    // file; anything else (another file with content, a folder, a device) is refused and
    // left as it is. `identity` receives the file's identity.
    static FileOutcome prepare(const std::string& path, FileIdentity* identity);

    // Whether `path` still names the file that was prepared.
    static bool stillAt(const std::string& path, const FileIdentity& identity);
};

} // namespace norv::media
