#pragma once

#include <string>
#include <string_view>

// Which camera --follow watches, and whether one that is plugged in is that
// camera back. A camera is known by its serial number when its driver gives
// one, since the number stays when USB enumerates the camera again under a new
// URI; a camera without one is known by its URI. Pure: no library call.
class WatchedCamera {
public:
    // What to make of a camera that has just been plugged in.
    enum class Arrival {
        Other,         // not the watched camera, or the watched one never left
        Watched,       // the watched camera back under its URI: reopen it
        AskItsSerial,  // open it and compare serial numbers to know
    };

    // `serial` is empty when the driver gives none.
    WatchedCamera(std::string uri, std::string serial);

    // The camera at `uri` was unplugged; the watched one is lost when it is at `uri`.
    void unplugged(std::string_view uri);
    [[nodiscard]] Arrival arrived(std::string_view uri) const;
    [[nodiscard]] bool hasSerial(std::string_view serial) const;
    // The watched camera is open again, now at `uri`.
    void reopened(std::string uri);

    [[nodiscard]] bool lost() const { return lost_; }
    [[nodiscard]] const std::string& uri() const { return uri_; }

private:
    std::string uri_;
    std::string serial_;
    bool lost_ = false;
};
