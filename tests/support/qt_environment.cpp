// Every window test program gets one QApplication, offscreen, from before the
// first test to after the last: not into the program's exit, where the
// toolkit's own statics are already gone.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "link/wait_guard.h"

namespace {

class QtApplication : public ::testing::Environment {
public:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setApplicationName("Korvel_JIG");
        kj::forbidWaitsOnThisThread();
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "korvel-tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* const kApplication = ::testing::AddGlobalTestEnvironment(new QtApplication);

}  // namespace
