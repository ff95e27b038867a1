#pragma once

#include <OpenNI.h>

#include <optional>

#include "Streams.h"
#include "VideoModes.h"

// Streams started in the modes the command line asks for.

// Before any stream exists, each mode asked for is looked up among those its
// sensor offers; then both streams are created, the modes set, and both
// started; which of them run is returned. None, with a message on standard
// error, when a sensor does not offer the mode asked of it (or is missing), or
// a stream refuses its mode: no stream has started then, and the caller takes
// down what there is. A stream that cannot be created is reported and left out
// as createAndStart does.
std::optional<StreamsStarted> createAndStartInModes(openni::Device& device,
                                                    openni::VideoStream& depth,
                                                    openni::VideoStream& color,
                                                    const std::optional<ModeRequest>& depthMode,
                                                    const std::optional<ModeRequest>& colorMode);
