#include "CanBusPort.h"

void CanBusPort::SetListener(CanBusListener *listener) {
    std::lock_guard lock(listenerMutex_);
    listener_ = listener;
}

void CanBusPort::DeliverFrame(const BusFrame &frame) {
    std::lock_guard lock(listenerMutex_);
    if (listener_) listener_->OnBusFrame(frame);
}

void CanBusPort::DeliverError(uint8_t flags) {
    std::lock_guard lock(listenerMutex_);
    if (listener_) listener_->OnBusError(flags);
}

void CanBusPort::DeliverLost(const std::string &why) {
    std::lock_guard lock(listenerMutex_);
    if (listener_) listener_->OnBusLost(why);
}

bool ParseBusOption(std::string_view value, BusChoice &choice, std::string &why) {
    const std::size_t colon = value.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == value.size()) {
        why = "bus: \"" + std::string(value) +
              "\" is not PLUGIN:INTERFACE (for example virtualcan:can0 or socketcan:can0)";
        return false;
    }
    choice.plugin = std::string(value.substr(0, colon));
    choice.interface = std::string(value.substr(colon + 1));
    return true;
}
