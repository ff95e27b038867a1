#!/usr/bin/env python3
"""A small OpenNI2 program that is not camwatch: usage oni_frames.py depth|color COUNT.

It opens the first camera the OpenNI2 library lists, through the library's C
API, reads COUNT frames of one stream and prints each frame's middle pixel,
"depth VALUE" or "color 0xRRGGBB", the pixel at ((height + 1) * width) / 2 with
the rows taken as packed. Any failure ends it with status 1 and the library's
error text. The packages' checks run it under camwatch-vcam, as another
project's tests would run their own program.
"""

import ctypes
import sys

API_VERSION = 2 * 1000 + 2  # ONI_CREATE_API_VERSION(2, 2)
SENSORS = {"depth": 3, "color": 2}  # ONI_SENSOR_DEPTH, ONI_SENSOR_COLOR
BYTES_PER_PIXEL = {"depth": 2, "color": 3}
WAIT_MILLISECONDS = 10000
MAX_STR = 256


class DeviceInfo(ctypes.Structure):
    _fields_ = [("uri", ctypes.c_char * MAX_STR), ("vendor", ctypes.c_char * MAX_STR),
                ("name", ctypes.c_char * MAX_STR), ("usbVendorId", ctypes.c_uint16),
                ("usbProductId", ctypes.c_uint16)]


class VideoMode(ctypes.Structure):
    _fields_ = [("pixelFormat", ctypes.c_int), ("resolutionX", ctypes.c_int),
                ("resolutionY", ctypes.c_int), ("fps", ctypes.c_int)]


class Frame(ctypes.Structure):
    _fields_ = [("dataSize", ctypes.c_int), ("data", ctypes.c_void_p),
                ("sensorType", ctypes.c_int), ("timestamp", ctypes.c_uint64),
                ("frameIndex", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("videoMode", VideoMode), ("croppingEnabled", ctypes.c_int),
                ("cropOriginX", ctypes.c_int), ("cropOriginY", ctypes.c_int),
                ("stride", ctypes.c_int)]


class Failed(Exception):
    pass


def library():
    oni = ctypes.CDLL("libOpenNI2.so.0")
    oni.oniGetExtendedError.restype = ctypes.c_char_p
    oni.oniStreamDestroy.restype = None
    oni.oniStreamStop.restype = None
    oni.oniFrameRelease.restype = None
    oni.oniShutdown.restype = None
    return oni


def checked(oni, status, what):
    if status != 0:
        raise Failed("%s failed: %s" % (what, oni.oniGetExtendedError().decode(errors="replace")))


def middle(frame, sensor):
    size = BYTES_PER_PIXEL[sensor]
    offset = (frame.height + 1) * frame.width // 2 * size
    if frame.width <= 0 or frame.height <= 0 or offset + size > frame.dataSize:
        return "%s middle pixel outside frame" % sensor
    pixel = ctypes.string_at(frame.data + offset, size)
    if sensor == "depth":
        return "depth %d" % int.from_bytes(pixel, "little")
    return "color 0x%s" % pixel.hex()


def read_frames(oni, device, sensor, count):
    stream = ctypes.c_void_p()
    checked(oni, oni.oniDeviceCreateStream(device, SENSORS[sensor], ctypes.byref(stream)),
            "creating the %s stream" % sensor)
    try:
        checked(oni, oni.oniStreamStart(stream), "starting the %s stream" % sensor)
        try:
            for _ in range(count):
                ready = ctypes.c_int()
                checked(oni, oni.oniWaitForAnyStream(ctypes.byref(stream), 1, ctypes.byref(ready),
                                                     WAIT_MILLISECONDS), "waiting for a frame")
                frame = ctypes.POINTER(Frame)()
                checked(oni, oni.oniStreamReadFrame(stream, ctypes.byref(frame)),
                        "reading a frame")
                try:
                    print(middle(frame.contents, sensor), flush=True)
                finally:
                    oni.oniFrameRelease(frame)
        finally:
            oni.oniStreamStop(stream)
    finally:
        oni.oniStreamDestroy(stream)


def run(sensor, count):
    oni = library()
    checked(oni, oni.oniInitialize(API_VERSION), "initialising the library")
    try:
        devices = ctypes.POINTER(DeviceInfo)()
        number = ctypes.c_int()
        checked(oni, oni.oniGetDeviceList(ctypes.byref(devices), ctypes.byref(number)),
                "listing the cameras")
        try:
            if number.value == 0:
                raise Failed("no camera listed")
            uri = devices[0].uri
        finally:
            oni.oniReleaseDeviceList(devices)
        device = ctypes.c_void_p()
        checked(oni, oni.oniDeviceOpen(uri, ctypes.byref(device)), "opening " + uri.decode())
        try:
            read_frames(oni, device, sensor, count)
        finally:
            oni.oniDeviceClose(device)
    finally:
        oni.oniShutdown()


def main(argv):
    if len(argv) != 3 or argv[1] not in SENSORS or not argv[2].isdigit():
        sys.exit(__doc__.split("\n")[0])
    try:
        run(argv[1], int(argv[2]))
    except (Failed, OSError) as error:
        print("oni_frames: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
