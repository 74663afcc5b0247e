#pragma once
// Test support: one Qt application object for a whole GoogleTest program, created before
// the first test and destroyed after the last, so tests can use event loops, sockets and
// (with QApplication) widgets. Install it with
//     VEX_QT_TEST_ENVIRONMENT(QCoreApplication, "my_test");
// at namespace scope in one source file of the test program.

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

template <class App>
class QtTestEnvironment : public ::testing::Environment {
  public:
    explicit QtTestEnvironment(const char* name, void (*beforeApp)() = nullptr)
        : name_(name), beforeApp_(beforeApp) {}

    void SetUp() override {
        if (beforeApp_)
            beforeApp_();
        argv_[0] = const_cast<char*>(name_);
        app_ = std::make_unique<App>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

  private:
    const char* name_;
    void (*beforeApp_)();
    int argc_ = 1;
    char* argv_[2] = {nullptr, nullptr};
    std::unique_ptr<App> app_;
};

}  // namespace testsupport

#define VEX_QT_TEST_ENVIRONMENT(AppClass, name, ...)           \
    [[maybe_unused]] static auto* const vexQtTestEnvironment = \
        ::testing::AddGlobalTestEnvironment(                   \
            new ::testsupport::QtTestEnvironment<AppClass>(name, ##__VA_ARGS__))
