#include "OpenNIDeviceListener.h"

#include "OutputFailure.h"

void OpenNIDeviceListener::onDeviceConnected(const openni::DeviceInfo* info) {
    reportLine(stdout, "Device \"%s\" connected\n", info->getUri());
}

void OpenNIDeviceListener::onDeviceDisconnected(const openni::DeviceInfo* info) {
    reportLine(stdout, "Device \"%s\" disconnected\n", info->getUri());
}

void OpenNIDeviceListener::onDeviceStateChanged(const openni::DeviceInfo* info,
                                                openni::DeviceState state) {
    reportLine(stdout, "Device \"%s\" error state changed to %d\n", info->getUri(),
               static_cast<int>(state));
}
