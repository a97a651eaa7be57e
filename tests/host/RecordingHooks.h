#pragma once
// The host window's side of the window model in tests: what the model asked of it.

#include <functional>
#include <string>
#include <vector>

#include "host/WindowHooks.h"

namespace norv::test {

struct RecordingHooks final : host::WindowHooks {
    bool layoutPending = false;
    int sizedToDeclaration = 0;
    std::pair<int, int> declared{-1, -1};
    std::vector<std::u16string> events;
    // Runs after an event is recorded (a listener of the page).
    std::function<void()> onEvent;

    bool isLayoutPending() const override { return layoutPending; }
    void sizeToDeclaration() override { ++sizedToDeclaration; }
    std::pair<int, int> declaredClientSize() override { return declared; }
    void fireWindowEvent(std::u16string_view type) override {
        events.emplace_back(type);
        if (onEvent)
            onEvent();
    }
};

} // namespace norv::test
