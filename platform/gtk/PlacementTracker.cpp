#include "platform/gtk/PlacementTracker.h"

#include <utility>

namespace norv::platform::gtk {

namespace {

bool sameSize(const Rect& a, const Rect& b) {
    return a.width() == b.width() && a.height() == b.height();
}

} // namespace

void PlacementTracker::want(const Rect& client, bool move, bool size) {
    if (unsent_) {
        unsent_->client = client;
        unsent_->move = unsent_->move || move;
        unsent_->size = unsent_->size || size;
        return;
    }
    unsent_ = Request{client, move, size};
}

std::optional<PlacementTracker::Request> PlacementTracker::takeUnsent() {
    std::optional<Request> request = std::exchange(unsent_, std::nullopt);
    if (request)
        expect(request->client);
    return request;
}

void PlacementTracker::expect(const Rect& client) {
    sent_.push_back(client);
    if (sent_.size() > kMaxWaiting)
        sent_.pop_front();
    misses_ = 0;
}

void PlacementTracker::report(const Rect& client, bool positionKnown, bool mapped) {
    actual_ = positionKnown ? client
                            : Rect::fromOriginSize(actual_.left, actual_.top, client.width(),
                                                   client.height());
    if (sent_.empty())
        return;
    for (auto it = sent_.begin(); it != sent_.end(); ++it) {
        if (positionKnown && *it == client) {
            // Done, and so is everything sent before it.
            sent_.erase(sent_.begin(), it + 1);
            misses_ = 0;
            return;
        }
        if (!positionKnown && sameSize(*it, client))
            return;
    }
    if (mapped && ++misses_ >= kMaxMisses) {
        sent_.clear();
        misses_ = 0;
    }
}

Rect PlacementTracker::answer() const {
    if (unsent_)
        return unsent_->client;
    if (!sent_.empty())
        return sent_.back();
    return actual_;
}

} // namespace norv::platform::gtk
