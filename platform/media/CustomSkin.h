#pragma once
// CustomSkin: the control's skin engine, what uiMode "custom" loads.
//
// The control's host names the skin as "file://" followed by the path of a skin package
// (a ZIP archive, ".wmz"; the rest of the address is the path as it is, not
// percent-decoded) and offers a scriptable object under a name. Loading reads the package
// (SkinDefinition.h), makes the elements of its first view that the control knows by their
// id (EQUALIZERSETTINGS over the audio effects, VIDEOSETTINGS over the picture settings;
// other elements are not made), and runs the view's onload assignments
// `name.member =id`: the element `id` is put into the property `member` of the scriptable
// object when `name` is the object's name (by-name put, as script would). Statements of
// any other form, and assignments to other objects or of unknown ids, are left out with a
// log message; a put that fails ends onload there, as an exception ends a script, and is
// logged too. Neither makes the load fail.
//
// A load fails, and changes nothing, when the address is not a file address, the file
// cannot be read, the package is damaged (0x8007000B, or 0x80070017 for a CRC mismatch),
// holds no single skin definition (0x80070490), or the definition is malformed
// (0x8007000D).

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/Bstr.h"
#include "platform/com/Dispatch.h"
#include "platform/media/AudioEffects.h"

namespace norv::platform::media {

using namespace norv::com;

class CustomSkin {
public:
    // What the skin's elements act on; either may be missing.
    struct Targets {
        std::shared_ptr<AudioEffects> audio;
        GstElement* videoBalance = nullptr;
    };

    // Reads the skin at `address`; onload sees `scriptable` (may be null) as
    // `scriptableName`.
    static HRESULT load(const Bstr& address, const Bstr& scriptableName, IDispatch* scriptable,
                        const Targets& targets, std::unique_ptr<CustomSkin>& out);

    // The element made for `id`, or null.
    IDispatch* element(std::string_view id) const;

private:
    std::vector<std::pair<std::string, ComPtr<IDispatch>>> elements_;
};

} // namespace norv::platform::media
