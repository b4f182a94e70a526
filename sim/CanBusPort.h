// The emulated adapter's connection to a CAN bus: what its slots transmit goes out through a port, and
// what the port hears on the bus comes in through a listener (the firmware).
//
// Thread contract: Transmit may be called from any thread and never waits for the bus. The listener is
// called on the port's own delivery thread (the caller's thread for LoopbackCanBus::Inject), one call at
// a time; SetListener waits for a running call to finish, so once it returns the old listener is no
// longer called and may go. Open and Close belong to the thread that owns the port.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "BusFrame.h"

class CanBusListener {
public:
    // A frame another node put on the bus.
    virtual void OnBusFrame(const BusFrame &frame) = 0;
    // Error flags seen on the bus, in the bits of the bus error report (stuff 08, CRC 04, form 02, ack 01).
    virtual void OnBusError(uint8_t flags) = 0;
    // The bus failed or went away after it had opened (interface down, device error, the virtual bus's
    // server gone): at most once per Open, with a one-line reason. What is queued for it is lost.
    virtual void OnBusLost(const std::string &why) { (void)why; }

protected:
    ~CanBusListener() = default;
};

class CanBusPort {
public:
    virtual ~CanBusPort() = default;
    // False with a reason the operator can act on.
    virtual bool Open(std::string &why) = 0;
    virtual void Close() = 0;
    // Queues the frame for the bus; false when the port is closed or its queue is full (the frame is lost,
    // as a controller drops a frame it has no buffer for).
    virtual bool Transmit(const BusFrame &frame) = 0;

    void SetListener(CanBusListener *listener);

protected:
    void DeliverFrame(const BusFrame &frame);
    void DeliverError(uint8_t flags);
    void DeliverLost(const std::string &why);

private:
    std::mutex listenerMutex_;  // held across every listener call
    CanBusListener *listener_ = nullptr;
};

// The value of --bus: PLUGIN:INTERFACE, split at the first colon; both parts non-empty.
//   "virtualcan:can0" -> {virtualcan, can0};  "socketcan:vcan0" -> {socketcan, vcan0}
//   "virtualcan", ":can0", "virtualcan:" -> false, why = bus: "..." is not PLUGIN:INTERFACE (...)
// Whether the plugin exists is only known when the port opens.
struct BusChoice {
    std::string plugin;
    std::string interface;
};
bool ParseBusOption(std::string_view value, BusChoice &choice, std::string &why);
