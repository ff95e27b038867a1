#include "WatchedCamera.h"

#include <utility>

WatchedCamera::WatchedCamera(std::string uri, std::string serial)
    : uri_(std::move(uri)), serial_(std::move(serial)) {}

void WatchedCamera::unplugged(std::string_view uri) {
    if (uri == uri_) {
        lost_ = true;
    }
}

WatchedCamera::Arrival WatchedCamera::arrived(std::string_view uri) const {
    // While the watched camera is here, any other camera is someone else's:
    // it is not even opened to read its serial number.
    if (!lost_) {
        return Arrival::Other;
    }
    if (!serial_.empty()) {
        return Arrival::AskItsSerial;
    }
    return uri == uri_ ? Arrival::Watched : Arrival::Other;
}

bool WatchedCamera::hasSerial(std::string_view serial) const {
    return !serial_.empty() && serial == serial_;
}

void WatchedCamera::reopened(std::string uri) {
    uri_ = std::move(uri);
    lost_ = false;
}
