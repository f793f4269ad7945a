#include "app/log.h"
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
    // The log written since the list was made.
    std::string lines() { return log_from(" (cvar"); }

    cvars list;
};

TEST_F(cvars_test, LookupIgnoresAsciiCaseAndReportsMissingNames) {
    EXPECT_EQ(list.get_int("cl_maxfps"), -1) << "an empty list finds nothing";
    list.register_int("cl_maxfps", 200);
    list.register_string("windowname", "brevox [build 0.7a]");

    EXPECT_EQ(list.get_int("CL_MAXFPS"), 200);
    EXPECT_EQ(list.get_int("Cl_MaxFps"), 200);
    EXPECT_STREQ(list.get_string("WINDOWNAME"), "brevox [build 0.7a]");
    // Only letters fold: a name that differs in length or in another character is another name.
    EXPECT_EQ(list.get_int("cl_maxfp"), -1);
    EXPECT_EQ(list.get_int("cl_maxfpss"), -1);
    EXPECT_EQ(list.get_int("cl-maxfps"), -1);

    EXPECT_EQ(list.get_int("nothing"), -1);
    EXPECT_EQ(list.get_string("nothing"), nullptr);
    EXPECT_EQ(list.get_string("cl_maxfps"), nullptr); // an int cvar has no text
    EXPECT_EQ(list.get_int("windowname"), 0);         // a string cvar's int is 0
}

TEST_F(cvars_test, RegisteringAnIntAgainChangesTheExistingRecord) {
    list.register_int("hwnd", 7);
    list.register_int("clwidth", 640);
    EXPECT_EQ(list.register_int("HWND", 9), 1);

    EXPECT_EQ(list.count, 2);
    EXPECT_EQ(list.get_int("hwnd"), 9);
    EXPECT_EQ(lines(), " (cvar) registring int value hwnd : OK\n"
                       " (cvar) registring int value clwidth : OK\n"
                       " (cvars) changing value HWND : OK\n");
}

TEST_F(cvars_test, AStringNameRegisteredTwiceGivesTwoRecordsAndTheFirstWins) {
    list.register_string("title", "first");
    list.register_string("title", "second");
    EXPECT_EQ(list.count, 2);
    EXPECT_STREQ(list.get_string("title"), "first");
    ASSERT_NE(list.head->next, nullptr);
    EXPECT_STREQ(list.head->next->string_value, "second");
}

TEST_F(cvars_test, RecordsKeepRegistrationOrderAndOwnTheirTexts) {
    char name[] = "fullscreen";
    char value[] = "on";
    list.register_int("width", 1);
    list.register_string(name, value);
    list.register_int("height", 2);
    // The list copied both texts: changing the caller's buffers changes nothing.
    std::strcpy(name, "xxxxxxxxxx");
    std::strcpy(value, "zz");

    const char* expected[] = {"width", "fullscreen", "height"};
    int i = 0;
    for (const cvar* r = list.head; r; r = r->next, ++i)
        EXPECT_STREQ(r->name, expected[i]);
    EXPECT_EQ(i, 3);
    EXPECT_STREQ(list.get_string("fullscreen"), "on");
}

TEST_F(cvars_test, SetIntOnAnEmptyListAndOnAMissingNameFails) {
    EXPECT_EQ(list.set_int("fullscreen", 1), 0);
    list.register_int("width", 640);
    EXPECT_EQ(list.set_int("height", 480), 0);
    EXPECT_EQ(list.get_int("width"), 640);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(log_from(" (cvars) changing value fullscreen"),
              " (cvars) changing value fullscreen : FAILED\n"
              " (cvar) registring int value width : OK\n"
              " (cvars) changing value height : FAILED [not found]\n");
}

TEST_F(cvars_test, SetIntChangesTheFirstMatchWhateverItsType) {
    list.register_string("windowname", "brevox");
    EXPECT_EQ(list.set_int("WindowName", 5), 1);
    EXPECT_EQ(list.get_int("windowname"), 5);
    EXPECT_STREQ(list.get_string("windowname"), "brevox");
}

TEST_F(cvars_test, AFailedAllocationLeavesTheListAsItWas) {
    list.register_int("width", 640);

    test_support::fail_nothrow_allocations(0); // the record itself
    EXPECT_EQ(list.register_int("height", 480), 0);
    test_support::fail_nothrow_allocations(1); // the copy of the name
    EXPECT_EQ(list.register_string("windowname", "brevox"), 0);
    test_support::fail_nothrow_allocations(2); // the copy of the value
    EXPECT_EQ(list.register_string("windowname", "brevox"), 0);
    test_support::stop_failing_allocations();

    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.get_int("height"), -1);
    EXPECT_EQ(list.head->next, nullptr);
    EXPECT_EQ(log_from(" (cvar) registring int value height"),
              " (cvar) registring int value height : FAILED\n"
              " (cvar) registring string value windowname : FAILED\n"
              " (cvar) registring string value windowname : FAILED\n");
    // The list still works after the failures.
    EXPECT_EQ(list.register_int("height", 480), 1);
    EXPECT_EQ(list.get_int("height"), 480);
}

TEST_F(cvars_test, DestructionEmptiesTheListAndItCanBeFilledAgain) {
    list.register_string("windowname", "brevox");
    list.register_int("width", 640);
    list.destroy();
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.get_int("width"), -1);
    list.destroy(); // twice is harmless
    list.register_int("width", 800);
    EXPECT_EQ(list.get_int("width"), 800);
    // Everything left is freed by the list's destructor; the sanitizer build reports any leak.
}

} // namespace
