// The kill-on-close job: nothing the child started outlives the helper, whether
// the helper ends normally or is ended from outside.
#include <gtest/gtest.h>

#include "e2e_launch.h"
#include "e2e_probe_report.h"

namespace {

TEST(ChildLifetime, GrandchildIsGoneOnceTheHelperHasExited) {
    e2e::ScratchDir dir;
    const std::wstring report_path = dir.join(L"grandchild.txt");
    const e2e::LaunchResult result = e2e::launch(
        e2e::helper_run({}, e2e::probe_path(), {e2e::to_u16(report_path), u"grandchild"}));
    ASSERT_EQ(result.exit_code, 0u) << result.err;
    EXPECT_EQ(result.err, "");
    const auto report = e2e::read_probe_report(report_path);
    ASSERT_TRUE(report);
    ASSERT_NE(report->pid, 0u);
    ASSERT_TRUE(report->alive) << "the grandchild should be running when the child exits";
    // It would sleep for half a minute on its own.
    EXPECT_TRUE(e2e::process_gone(report->pid, 5000));
}

TEST(ChildLifetime, HelperEndedFromOutsideTakesItsChild) {
    e2e::ScratchDir dir;
    const std::wstring report_path = dir.join(L"hang.txt");
    // The child holds none of the test's pipes, so reading them never waits for it.
    e2e::RunFlags flags;
    flags.stdout_mode = flags.stderr_mode = u"null";
    e2e::Launched helper(
        e2e::helper_run(flags, e2e::probe_path(), {e2e::to_u16(report_path), u"hang"}));
    ASSERT_TRUE(helper.started());
    const auto report = e2e::wait_probe_report(report_path, 15000);
    ASSERT_TRUE(report) << "the child never started";
    ASSERT_FALSE(e2e::process_gone(report->pid, 0));

    ASSERT_TRUE(TerminateProcess(helper.process(), 1));
    const e2e::LaunchResult result = helper.finish(5000);
    EXPECT_EQ(result.exit_code, 1u);
    EXPECT_TRUE(e2e::process_gone(report->pid, 5000));
}

}  // namespace
