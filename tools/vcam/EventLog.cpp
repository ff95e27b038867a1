#include "EventLog.h"

#include <cstring>
#include <stdexcept>

namespace vcam {

EventLog::EventLog(const std::string& path) : file_(path) {
    if (!file_.isOpen()) {
        throw std::runtime_error("cannot open log " + path + ": " +
                                 std::strerror(file_.openError()));
    }
}

void EventLog::write(const std::string& line) {
    // One write per line keeps lines whole and in event order.
    const std::string text = line + '\n';
    file_.append(text.data(), text.size());
}

}  // namespace vcam
