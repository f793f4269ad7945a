#include "app/log.h"
#include "support/test_env.h"

#include <fstream>
#include <string>

namespace {

using log_test = brevox_test;

TEST_F(log_test, ANewRunStartsWithAnEmptyLogAndTheBanner) {
    std::ofstream(log_file_name) << "a line of the previous run\n";
    open_log();
    EXPECT_EQ(read_log().rfind("---- brevox[0.7a] started ----\n\n+ OS info : ", 0), 0u);
    EXPECT_EQ(read_log().find("previous run"), std::string::npos);
}

TEST_F(log_test, TextReachesTheFileAsFormattedOnceAndCutToTheLineBuffer) {
    open_log();
    EXPECT_EQ(log_printf(main_log, "[%s|%d]\n", "100% of %s and %n", 42), 23);
    EXPECT_EQ(log_printf(main_log, "<%s", std::string(5000, 'x').c_str()), 1023);
    EXPECT_EQ(log_from("[100"), "[100% of %s and %n|42]\n<" + std::string(1022, 'x'));
}

} // namespace
