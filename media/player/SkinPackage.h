#pragma once
// SkinPackage: the player skin package the program writes once per process, so that the
// control hands its equaliser to the settings part (MPSettings) through a skin's onload.
//
// The package is a ZIP archive (archive/ZipWriter) in the temporary directory ($TMPDIR,
// or /tmp when it is unset or empty) named "TFR" + six unique characters + ".wmz", with
// one entry, "wmpsrv.wms", holding the 125 bytes of kSkinText. It is made by the first
// ensure() that finds no package, from two temporary files of the same directory ("TFR"
// + six characters + ".tmp": the skin text, and the archive that is then renamed to the
// package), neither of which is left behind, whatever step fails. Every later ensure() of
// the process reuses the package; a failed attempt leaves none, so the next one tries
// again. The package is deleted when the process exits, and also when it is ended by
// SIGTERM, SIGINT or SIGHUP while those still have their default action.
//
// Results: S_OK; DISP_E_BUFFERTOOSMALL (0x80020013) when the temporary directory, with its
// final '/', takes 256 characters or more; otherwise the failing call's errno as an
// HRESULT (see the README's table).
//
// Process-wide; the functions may be called from any thread.

#include <string>
#include <string_view>

#include <sys/types.h>

#include "platform/com/Bstr.h"
#include "platform/com/HResult.h"

namespace norv::media {

using namespace norv::com;

// The file operations the package steps make; each failing call leaves errno set. The
// real ones are POSIX calls; tests put failing ones in their place.
class SkinFiles {
public:
    virtual ~SkinFiles() = default;
    // $TMPDIR, or /tmp when it is unset or empty.
    virtual std::string temporaryDirectory();
    // Creates, and opens for reading and writing, a new file `directory` + "TFR" + six
    // unique characters + ".tmp" (directory ends with '/'); its path goes to `path`.
    virtual int createTemporary(const std::string& directory, std::string& path);
    virtual ssize_t write(int fd, const void* data, std::size_t size);
    virtual int flush(int fd);
    virtual int close(int fd);
    // Opens an existing file for reading and writing.
    virtual int open(const std::string& path);
    virtual off_t seekEnd(int fd);
    virtual int remove(const std::string& path);
    virtual int rename(const std::string& from, const std::string& to);
};

class SkinPackage {
public:
    // The skin definition: exactly these 125 bytes.
    static constexpr std::string_view kSkinText =
        "<THEME><VIEW onload=\"wmpsrv.audio =eq; wmpsrv.video =vs;\"><VIDEOSETTINGS id=\"vs\"/>"
        "<EQUALIZERSETTINGS id=\"eq\"/></VIEW></THEME>";
    // The scriptable object's name in the skin's script.
    static constexpr std::u16string_view kScriptableName = u"wmpsrv";

    // Makes the package unless the process has one.
    static HRESULT ensure();
    // "file://" + the package's path, for the control's custom UI mode: E_POINTER for a null
    // `file`, E_NOTIMPL while there is no package.
    static HRESULT customUiMode(Bstr* file);
    // The package's path; empty while there is none.
    static std::string path();

    // For tests: the file operations of later ensure() calls (null: the real ones; the
    // object must outlive those calls), and deleting the package and forgetting it.
    static void useFiles(SkinFiles* files);
    static void discard();
};

} // namespace norv::media
