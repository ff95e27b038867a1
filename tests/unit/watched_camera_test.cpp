#include <gtest/gtest.h>

#include "WatchedCamera.h"

namespace {

using Arrival = WatchedCamera::Arrival;

TEST(WatchedCameraByUri, OnlyItsOwnUriComesBackAndOnlyAfterItLeft) {
    WatchedCamera camera("usb://1/4", "");
    EXPECT_EQ(camera.arrived("usb://1/4"), Arrival::Other) << "never unplugged";
    camera.unplugged("usb://1/5");
    EXPECT_FALSE(camera.lost()) << "another camera left";
    camera.unplugged("usb://1/4");
    EXPECT_TRUE(camera.lost());
    EXPECT_EQ(camera.arrived("usb://1/5"), Arrival::Other);
    EXPECT_EQ(camera.arrived("usb://1/4/"), Arrival::Other);
    EXPECT_EQ(camera.arrived("usb://1/"), Arrival::Other);
    EXPECT_EQ(camera.arrived("usb://1/4"), Arrival::Watched);
}

TEST(WatchedCameraByUri, WithoutASerialNoNumberMatches) {
    const WatchedCamera camera("usb://1/4", "");
    EXPECT_FALSE(camera.hasSerial(""));
    EXPECT_FALSE(camera.hasSerial("0001"));
}

TEST(WatchedCameraBySerial, AnyCameraPluggedInWhileLostIsAskedItsNumber) {
    WatchedCamera camera("usb://1/4", "A00123");
    EXPECT_EQ(camera.arrived("usb://1/7"), Arrival::Other) << "the watched one is still here";
    camera.unplugged("usb://1/4");
    // Under a new URI after USB enumerated it again, or under its old one.
    EXPECT_EQ(camera.arrived("usb://1/7"), Arrival::AskItsSerial);
    EXPECT_EQ(camera.arrived("usb://1/4"), Arrival::AskItsSerial);
}

TEST(WatchedCameraBySerial, OnlyTheSameNumberMatches) {
    const WatchedCamera camera("usb://1/4", "A00123");
    EXPECT_TRUE(camera.hasSerial("A00123"));
    EXPECT_FALSE(camera.hasSerial("A0012"));
    EXPECT_FALSE(camera.hasSerial("A001234"));
    EXPECT_FALSE(camera.hasSerial("a00123"));
    EXPECT_FALSE(camera.hasSerial("")) << "a camera without a number is not ours";
}

TEST(WatchedCameraReopened, IsWatchedAtItsNewUriAndMayLeaveAgain) {
    WatchedCamera camera("usb://1/4", "A00123");
    camera.unplugged("usb://1/4");
    camera.reopened("usb://1/7");
    EXPECT_FALSE(camera.lost());
    EXPECT_EQ(camera.uri(), "usb://1/7");
    camera.unplugged("usb://1/4");
    EXPECT_FALSE(camera.lost()) << "its old URI is no longer its own";
    camera.unplugged("usb://1/7");
    EXPECT_TRUE(camera.lost());
    EXPECT_TRUE(camera.hasSerial("A00123"));
}

TEST(WatchedCameraReopened, ByUriFollowsTheSameUriAgain) {
    WatchedCamera camera("vcam://0", "");
    camera.unplugged("vcam://0");
    camera.reopened("vcam://0");
    EXPECT_EQ(camera.arrived("vcam://0"), Arrival::Other) << "already back";
    camera.unplugged("vcam://0");
    EXPECT_EQ(camera.arrived("vcam://0"), Arrival::Watched);
}

}  // namespace
