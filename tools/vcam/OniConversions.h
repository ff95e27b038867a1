// How scenario terms map onto the camera library's types.
#pragma once

#include <OniCTypes.h>

#include <optional>

#include "Scenario.h"

namespace vcam {

OniSensorType oniSensorTypeOf(SensorKind kind);
std::optional<SensorKind> sensorKindOf(OniSensorType type);
OniVideoMode oniVideoModeOf(const VideoMode& mode);
VideoMode videoModeOf(const OniVideoMode& oni);

}  // namespace vcam
