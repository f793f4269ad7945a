#include "app/log.h"
#include "support/test_env.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using log_test = brevox_test;

TEST_F(log_test, ANewRunStartsWithAnEmptyLogAndTheBanner) {
    std::ofstream(log_file_name) << "a line of the previous run\n";
    open_log();
    const std::string log = read_log();
    EXPECT_EQ(log.rfind("---- brevox[0.7a] started ----\n\n+ OS info : ", 0), 0u) << log;
    EXPECT_EQ(log.find("previous run"), std::string::npos);
}

TEST_F(log_test, AVerdictLandsOnTheLineThatAnnouncedIt) {
    open_log();
    log_printf(main_log, " (timer) creating timer : high performance ");
    log_printf(main_log, "ENABLED\n");
    log_printf(main_log, "+ next\n");
    EXPECT_EQ(log_from(" (timer)"), " (timer) creating timer : high performance ENABLED\n+ next\n");
}

TEST_F(log_test, FormattedTextReachesTheFileUnchanged) {
    open_log();
    const int written = log_printf(main_log, "[%s|%d]\n", "100% of %s and %n", 42);
    EXPECT_EQ(log_from("[100"), "[100% of %s and %n|42]\n");
    EXPECT_EQ(written, 23);
}

TEST_F(log_test, AnOverlongLineIsCutToTheLineBuffer) {
    open_log();
    const std::string long_text(5000, 'x');
    EXPECT_EQ(log_printf(main_log, "<%s", long_text.c_str()), 1023);
    EXPECT_EQ(log_from("<"), "<" + std::string(1022, 'x'));
}

TEST_F(log_test, ALogThatCannotBeOpenedSkipsItsLines) {
    // A directory in the log's place cannot be opened as a file, even by root.
    std::filesystem::create_directory(log_file_name);
    open_log();
    EXPECT_EQ(log_printf(main_log, "+ lost line\n"), 0);
    main_log->finish();
    EXPECT_TRUE(std::filesystem::is_directory(log_file_name));
}

} // namespace
