#include "host/SessionWatcher.h"

namespace norv::host {

SessionWatcher::SessionWatcher(std::function<void(bool mute)> notify)
    : session_([notify = std::move(notify)](bool active) {
          if (notify)
              notify(!active);
      }) {}

} // namespace norv::host
