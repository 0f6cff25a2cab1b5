// The fault injector itself: which call fails, for how long, and what a
// failed call leaves behind (nothing: it never reaches the system).
#include <gtest/gtest.h>

#include "host_sandbox.h"

namespace cabsetup::testing {
namespace {

class FaultyOsTest : public HostSandbox {
protected:
    bool Make(const std::string& path) { return os_.CreateDirectory(path); }
};

TEST_F(FaultyOsTest, NthCallOfOneKindTransientOrFromThenOn) {
    struct Case {
        int nth, count;
        std::vector<bool> expected;  // success of calls 1..5
    };
    const std::vector<Case> cases = {
        {2, 1, {true, false, true, true, true}},
        {2, 2, {true, false, false, true, true}},
        {3, FaultyOs::kFromThenOn, {true, true, false, false, false}},
        {0, 1, {true, true, true, true, true}},
    };
    int round = 0;
    for (const Case& c : cases) {
        os_.Reset();
        os_.FailNth(OsOp::CreateDirectory, c.nth, c.count);
        os_.FailNth(OsOp::DeleteFile, 1);  // another kind's plan does not count these calls
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            std::string path = "C:\\r" + std::to_string(round) + "_" + std::to_string(i);
            EXPECT_EQ(Make(path), c.expected[i]) << "nth " << c.nth << " call " << i + 1;
            // A failed call never reached the sandbox.
            EXPECT_EQ(Exists(path), c.expected[i]) << path;
        }
        EXPECT_EQ(os_.Calls(OsOp::CreateDirectory), 5);
        EXPECT_EQ(os_.Calls(OsOp::DeleteFile), 0);
        ++round;
    }
}

TEST_F(FaultyOsTest, NthCallOfAnyKindCountsEveryFallibleOperationButNotQueries) {
    WriteFile("C:\\a.txt", "a");
    os_.FailNthOfAny(3);
    std::uint32_t attributes = 0;
    EXPECT_TRUE(os_.GetAttributes("C:\\a.txt", attributes));  // 1
    os_.WindowsDirectory();                                    // a query: not counted
    EXPECT_TRUE(os_.CreateDirectory("C:\\d"));                 // 2
    EXPECT_FALSE(os_.MoveFile("C:\\a.txt", "C:\\b.txt"));      // 3 fails
    EXPECT_TRUE(os_.MoveFile("C:\\a.txt", "C:\\b.txt"));       // 4
    EXPECT_EQ(os_.CallsOfAny(), 4);
    EXPECT_EQ(os_.Injected(), 1);
    ASSERT_TRUE(os_.FirstFailed().has_value());
    EXPECT_EQ(*os_.FirstFailed(), OsOp::MoveFile);
    EXPECT_STREQ(OsOpName(*os_.FirstFailed()), "MoveFile");
    EXPECT_EQ(ReadFile("C:\\b.txt"), "a");
}

TEST_F(FaultyOsTest, FailedCallsAnswerAsTheSystemWould) {
    os_.FailNth(OsOp::CoInitialize, 1);
    EXPECT_LT(os_.CoInitialize(), 0);  // a failure HRESULT, neither S_OK nor S_FALSE
    os_.FailNth(OsOp::WindowsDirectory, 1);
    EXPECT_EQ(os_.WindowsDirectory(), "");
    EXPECT_EQ(os_.WindowsDirectory(), "C:\\WINDOWS");
    os_.FailNth(OsOp::Version, 1);
    EXPECT_FALSE(os_.Version().ok);
    WriteFile("C:\\f", "x");
    os_.FailNth(OsOp::OpenRead, 1);
    EXPECT_EQ(os_.OpenRead("C:\\f"), nullptr);
    EXPECT_NE(os_.OpenRead("C:\\f"), nullptr);
    // A refused PutInPlace still takes and closes the file it was handed.
    Os::HandlePtr file = os_.CreateHidden("C:\\new.tmp");
    ASSERT_NE(file, nullptr);
    os_.FailNth(OsOp::PutInPlace, 1);
    EXPECT_FALSE(os_.PutInPlace(std::move(file), "C:\\new.tmp", "C:\\new"));
    EXPECT_TRUE(Exists("C:\\new.tmp"));
    EXPECT_FALSE(Exists("C:\\new"));
    EXPECT_TRUE(os_.DeleteFile("C:\\new.tmp"));
}

TEST_F(FaultyOsTest, HookRunsBeforeEveryCallOfItsKind) {
    std::vector<std::string> seen;
    os_.SetHook(OsOp::CreateDirectory, [&] { seen.push_back(Exists("C:\\h") ? "after" : "before"); });
    EXPECT_TRUE(os_.CreateDirectory("C:\\h"));
    EXPECT_FALSE(os_.CreateDirectory("C:\\h"));  // exists already
    EXPECT_EQ(seen, (std::vector<std::string>{"before", "after"}));
    os_.SetHook(OsOp::CreateDirectory, nullptr);
    EXPECT_TRUE(os_.CreateDirectory("C:\\h2"));
    EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
}  // namespace cabsetup::testing
