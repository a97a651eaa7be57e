#pragma once
// MainLoopSource: a source attached to the thread's default GLib main context (a timeout,
// an idle call or a file-descriptor watch) that is removed when the object goes away.
// The callback runs on the thread whose loop dispatches the default context (the UI
// thread); returning false from it removes the source.

#include <chrono>
#include <functional>
#include <memory>

namespace norv::platform::glib {

class MainLoopSource {
public:
    using Callback = std::function<bool()>;

    MainLoopSource() = default;
    ~MainLoopSource();
    MainLoopSource(MainLoopSource&& other) noexcept;
    MainLoopSource& operator=(MainLoopSource&& other) noexcept;
    MainLoopSource(const MainLoopSource&) = delete;
    MainLoopSource& operator=(const MainLoopSource&) = delete;

    // Calls `callback` every `interval` until it returns false or the source is removed.
    static MainLoopSource timeout(std::chrono::milliseconds interval, Callback callback);
    // Calls `callback` when the loop has nothing else to do.
    static MainLoopSource idle(Callback callback);
    // Calls `callback` whenever `fd` is readable (or hung up).
    static MainLoopSource readable(int fd, Callback callback);

    // Whether the source is still attached.
    bool active() const;
    // Removes the source now; the callback is not called again.
    void reset();

private:
    struct State;
    explicit MainLoopSource(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

} // namespace norv::platform::glib
