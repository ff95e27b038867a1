// Whether one plug-in of a camera is still there. Its streams send each frame
// under the shared lock, so once unplug() has returned no frame of that
// camera is in flight and none follows, as with a cable pulled out.
#pragma once

#include <mutex>
#include <shared_mutex>

namespace vcam {

class Plug {
public:
    explicit Plug(bool plugged) : plugged_(plugged) {}

    // Runs send() unless the camera is gone; false when it is.
    template <typename Send>
    bool whilePlugged(Send&& send) {
        const std::shared_lock<std::shared_mutex> lock(mutex_);
        if (!plugged_) {
            return false;
        }
        send();
        return true;
    }

    [[nodiscard]] bool plugged() const {
        const std::shared_lock<std::shared_mutex> lock(mutex_);
        return plugged_;
    }

    void plugIn() { set(true); }
    // Waits for a frame being sent to be handed over.
    void unplug() { set(false); }

private:
    void set(bool plugged) {
        const std::lock_guard<std::shared_mutex> lock(mutex_);
        plugged_ = plugged;
    }

    mutable std::shared_mutex mutex_;
    bool plugged_;
};

}  // namespace vcam
