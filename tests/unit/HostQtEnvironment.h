// One host application object for a whole test program (Qt allows one per process), on Qt's
// offscreen platform.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "kelvane/HostApplication.h"

class HostApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        application_ = std::make_unique<kelvane::THostApplication>(argc_, argv_, "/nonexistent");
    }
    void TearDown() override { application_.reset(); }

    static kelvane::THostApplication& application() { return *application_; }

  private:
    inline static std::unique_ptr<kelvane::THostApplication> application_;
    inline static char name_[] = "host-test";
    inline static char* argv_[] = {name_, nullptr};
    inline static int argc_ = 1;
};
