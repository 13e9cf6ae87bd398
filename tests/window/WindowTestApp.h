#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

// Every window test program runs its tests inside one QApplication, made before the first test
// and destroyed after the last one (still inside main, while Qt is fully alive).
class QtApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[12] = "window_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] static ::testing::Environment* const qtApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);
