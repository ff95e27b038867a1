#pragma once

#include <OpenNI.h>

// Prints one line for every device the library reports connected,
// disconnected or changed in state.
class OpenNIDeviceListener : public openni::OpenNI::DeviceConnectedListener,
                             public openni::OpenNI::DeviceDisconnectedListener,
                             public openni::OpenNI::DeviceStateChangedListener {
public:
    void onDeviceConnected(const openni::DeviceInfo* info) override;
    void onDeviceDisconnected(const openni::DeviceInfo* info) override;
    void onDeviceStateChanged(const openni::DeviceInfo* info, openni::DeviceState state) override;
};
