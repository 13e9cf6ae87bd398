// The host's application object of a test program, made before the first test and destroyed
// after the last: a THostApplication whose executable directory is a private temporary
// directory, where the server keeps "config.ini".
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kelvane/HostApplication.h"
#include "tests/support/TempDir.h"

class HostApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        directory_ = std::make_unique<daq::test::TempDir>();
        application_ = std::make_unique<kelvane::THostApplication>(argc_, argv_, exeDir());
    }
    void TearDown() override {
        application_.reset();
        directory_.reset();
    }

    static kelvane::THostApplication& application() { return *application_; }
    static std::string exeDir() { return directory_->path().string(); }
    static std::string configPath() { return exeDir() + "/config.ini"; }

  private:
    int argc_ = 1;
    char name_[12] = "plugin_test";
    char* argv_[2] = {name_, nullptr};
    static inline std::unique_ptr<daq::test::TempDir> directory_;
    static inline std::unique_ptr<kelvane::THostApplication> application_;
};

[[maybe_unused]] static ::testing::Environment* const hostApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new HostApplicationEnvironment);
