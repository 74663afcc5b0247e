#pragma once
// Test helpers: loading a device library from build/bin by file name, and the environment
// and script file a stand-in library reads at Init.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace vexsim::testing {

// Folder of the built libraries: VEX_BIN_DIR under CTest, else this program's own folder
// (programs and libraries are built side by side).
inline std::filesystem::path BinDir() {
    if (const char* dir = std::getenv("VEX_BIN_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

// A library loaded for the whole test program; it is never unloaded, like in the server.
class LoadedLibrary {
  public:
    explicit LoadedLibrary(const std::string& fileName) {
        const std::string path = (BinDir() / fileName).string();
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            error_ = dlerror();
        }
    }

    bool ok() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }

    // The entry point `name` as a pointer to F; null (and a test failure) when it is missing.
    template <typename F>
    F* Get(const char* name) const {
        void* symbol = handle_ != nullptr ? dlsym(handle_, name) : nullptr;
        EXPECT_NE(symbol, nullptr) << "missing entry point " << name;
        return reinterpret_cast<F*>(symbol);
    }

  private:
    void* handle_ = nullptr;
    std::string error_;
};

// Clears the VEXSIM_ variables for each test and writes scripts to a private file.
class StandInEnvironment : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name :
             {"VEXSIM_SCRIPT", "VEXSIM_SCALE", "VEXSIM_TIME_SCALE", "VEXSIM_TOUCH_LOG"}) {
            unsetenv(name);
        }
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::path(::testing::TempDir()) /
               ("vexsim-" + std::to_string(getpid()) + "-" + info->test_suite_name() + "-" +
                info->name());
        std::filesystem::create_directories(dir_);
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // Writes the script to a file and points VEXSIM_SCRIPT at it; returns the path.
    std::string UseScript(const std::string& text) {
        const std::string path = (dir_ / "script.vexsim").string();
        std::ofstream(path) << text;
        setenv("VEXSIM_SCRIPT", path.c_str(), 1);
        return path;
    }

    std::filesystem::path dir_;
};

}  // namespace vexsim::testing
