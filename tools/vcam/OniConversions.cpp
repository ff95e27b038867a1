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

OniVideoMode videoModeOf(const SensorConfig& sensor) {
    OniVideoMode mode{};
    // The scenario may name any format code, also ones the enumeration lacks;
    // the value goes in as the int it is.
    static_assert(sizeof(mode.pixelFormat) == sizeof(sensor.format), "pixel format is an int");
    std::memcpy(&mode.pixelFormat, &sensor.format, sizeof(sensor.format));
    mode.resolutionX = sensor.width;
    mode.resolutionY = sensor.height;
    mode.fps = sensor.fps;
    return mode;
}

}  // namespace vcam
