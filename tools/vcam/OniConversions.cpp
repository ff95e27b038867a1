#include "OniConversions.h"

#include <cstring>

namespace vcam {

OniSensorType oniSensorTypeOf(SensorKind kind) {
    switch (kind) {
        case SensorKind::Depth:
            return ONI_SENSOR_DEPTH;
        case SensorKind::Color:
            return ONI_SENSOR_COLOR;
        case SensorKind::Ir:
            return ONI_SENSOR_IR;
    }
    return ONI_SENSOR_DEPTH;
}

std::optional<SensorKind> sensorKindOf(OniSensorType type) {
    switch (type) {
        case ONI_SENSOR_DEPTH:
            return SensorKind::Depth;
        case ONI_SENSOR_COLOR:
            return SensorKind::Color;
        case ONI_SENSOR_IR:
            return SensorKind::Ir;
    }
    return std::nullopt;
}

OniVideoMode oniVideoModeOf(const VideoMode& mode) {
    OniVideoMode oni{};
    // The scenario may name any format code, also ones the enumeration lacks;
    // the value goes in as the int it is.
    static_assert(sizeof(oni.pixelFormat) == sizeof(mode.format), "pixel format is an int");
    std::memcpy(&oni.pixelFormat, &mode.format, sizeof(mode.format));
    oni.resolutionX = mode.width;
    oni.resolutionY = mode.height;
    oni.fps = mode.fps;
    return oni;
}

VideoMode videoModeOf(const OniVideoMode& oni) {
    VideoMode mode;
    std::memcpy(&mode.format, &oni.pixelFormat, sizeof(mode.format));
    mode.width = oni.resolutionX;
    mode.height = oni.resolutionY;
    mode.fps = oni.fps;
    return mode;
}

}  // namespace vcam
