// A simulator library built only from the public header loads and behaves as declared.
#include <gtest/gtest.h>

#include "sim/include/vexsimulator.h"
#include "tests/sim/LibraryLoader.h"

namespace vexsim::testing {
namespace {

TEST(ThirdPartySimTest, LibraryFromThePublicHeaderWorks) {
    static LoadedLibrary lib("libThirdPartySim.so");
    ASSERT_TRUE(lib.ok()) << lib.error();
    auto* init = lib.Get<decltype(::Init)>("Init");
    auto* close = lib.Get<decltype(::Close)>("Close");
    auto* position = lib.Get<decltype(::Position)>("Position");
    auto* hit = lib.Get<decltype(::Hit)>("Hit");
    ASSERT_TRUE(init && close && position && hit);

    EXPECT_EQ(init() & 0xFF, 1);
    VexPosition p{};
    ASSERT_EQ(position(&p), 1);
    EXPECT_EQ(p.z, 30.0);
    ASSERT_EQ(hit(&p), 1);
    EXPECT_EQ(p.x, 1.5);
    EXPECT_EQ(p.y, -2.5);
    EXPECT_EQ(p.z, 25.0);
    EXPECT_EQ(p.w, 90.0);
    EXPECT_EQ(hit(&p), 0) << "one hit only";
    close();
}

}  // namespace
}  // namespace vexsim::testing
