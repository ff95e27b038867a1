#include "OpenNIDeviceListener.h"

#include <cstdio>

#include "OutputFailure.h"

void OpenNIDeviceListener::onDeviceConnected(const openni::DeviceInfo* info) {
    noteReportWrite(std::printf("Device \"%s\" connected\n", info->getUri()));
}

void OpenNIDeviceListener::onDeviceDisconnected(const openni::DeviceInfo* info) {
    noteReportWrite(std::printf("Device \"%s\" disconnected\n", info->getUri()));
}

void OpenNIDeviceListener::onDeviceStateChanged(const openni::DeviceInfo* info,
                                                openni::DeviceState state) {
    noteReportWrite(std::printf("Device \"%s\" error state changed to %d\n", info->getUri(),
                                static_cast<int>(state)));
}
