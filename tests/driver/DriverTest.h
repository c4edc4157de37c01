// The fixture of the driver tests that need the driver running.
#ifndef TAVEX_TESTS_DRIVER_DRIVERTEST_H
#define TAVEX_TESTS_DRIVER_DRIVERTEST_H

#include <gtest/gtest.h>

#include "DriverHarness.h"
#include "tavex/platform/OSInterface.h"

// The driver runs, started by the library as a client would start it.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        Tavex::OSInterface::osinterface();
        device.open();  // the service may have started only now
        ASSERT_NE(INVALID_HANDLE_VALUE, static_cast<HANDLE>(device)) << GetLastError();
    }
    DriverHarness::Device device;
};

#endif
