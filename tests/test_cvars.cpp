#include "cvar/cvars.h"
#include "support/alloc_fault.h"
#include "support/test_env.h"

#include <cstring>

namespace {

class cvars_test : public brevox_test {
protected:
    void SetUp() override {
        brevox_test::SetUp();
        open_log();
    }

    cvars list;
};

TEST_F(cvars_test, NamesMatchWhateverTheCaseOfTheirLettersAndNothingElse) {
    list.register_int("cl_maxfps", 200);
    list.register_int("a[b@", 7);
    list.register_string("windowname", "brevox");
    // '[' and '{', '@' and '`' differ in the same bit as a letter's two cases, but are no letters.
    const std::pair<const char*, std::int32_t> cases[] = {
        {"CL_MAXFPS", 200}, {"Cl_MaxFps", 200}, {"cl_maxfp", -1}, {"cl_maxfpss", -1},
        {"cl-maxfps", -1},  {"A[B@", 7},        {"a{b@", -1},     {"a[b`", -1},
        {"windowname", 0},  {"nothing", -1}};
    for (const auto& [name, value] : cases)
        EXPECT_EQ(list.get_int(name), value) << name;
    EXPECT_STREQ(list.get_string("WINDOWNAME"), "brevox");
    EXPECT_EQ(list.get_string("cl_maxfps"), nullptr);
    // A change finds the first match whatever its type; a string keeps its text.
    EXPECT_EQ(list.set_int("WindowName", 5), 1);
    EXPECT_EQ(list.get_int("windowname"), 5);
    EXPECT_STREQ(list.get_string("windowname"), "brevox");
}

TEST_F(cvars_test, AnIntRegisteredAgainChangesAStringIsAddedAgainAMissingNameFails) {
    EXPECT_EQ(list.set_int("hwnd", 1), 0);
    EXPECT_TRUE(read_log().ends_with(" (cvars) changing value hwnd : FAILED\n")) << "empty list";
    char first[] = "first";
    list.register_int("hwnd", 7);
    list.register_string("title", first);
    std::strcpy(first, "xxxxx"); // the list holds its own copy
    list.register_string("title", "second");
    EXPECT_EQ(list.register_int("HWND", 9), 1);
    EXPECT_EQ(list.set_int("height", 480), 0);
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(list.get_int("hwnd"), 9);
    EXPECT_STREQ(list.get_string("title"), "first");
    EXPECT_STREQ(list.head->next->next->string_value, "second") << "in registration order";
    EXPECT_TRUE(read_log().ends_with(" (cvars) changing value HWND : OK\n"
                                     " (cvars) changing value height : FAILED [not found]\n"));
}

TEST_F(cvars_test, AFailedAllocationLeavesTheListAsItWas) {
    list.register_int("width", 640);
    for (int which = 0; which < 3; ++which) { // the record, the name's copy, the value's copy
        test_support::fail_nothrow_allocations(which);
        EXPECT_EQ(list.register_string("windowname", "brevox"), 0) << which;
        test_support::stop_failing_allocations();
        EXPECT_TRUE(read_log().ends_with(" (cvar) registring string value windowname : FAILED\n"));
    }
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.head->next, nullptr);
}

} // namespace
