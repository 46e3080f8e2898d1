// Argument vectors travel parent -> helper -> child: the parent quotes each item
// for the helper's command line, the helper splits it, then quotes the program
// and arguments again for the child. The child's C runtime must hand back the
// very items the parent started with.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "e2e_launch.h"
#include "e2e_probe_report.h"
#include "base/os_string.h"

namespace {

// Runs the probe through the helper with `items` as its arguments and returns
// the probe's argv after its own two (report path, action).
std::vector<std::u16string> child_arguments(const e2e::ScratchDir& dir,
                                            const std::vector<std::u16string>& items, int index,
                                            std::u16string* child_command_line = nullptr) {
    const std::wstring report_path = dir.join(L"argv-" + std::to_wstring(index) + L".txt");
    std::vector<std::u16string> args = {e2e::to_u16(report_path), u"report"};
    args.insert(args.end(), items.begin(), items.end());
    const e2e::LaunchResult result = e2e::launch(e2e::helper_run({}, e2e::probe_path(), args));
    EXPECT_TRUE(result.started) << "CreateProcessW error " << result.create_error;
    EXPECT_EQ(result.exit_code, 0u) << result.err;
    EXPECT_EQ(result.err, "");
    const auto report = e2e::read_probe_report(report_path);
    if (!report || report->argv.size() < 3) {
        ADD_FAILURE() << "no usable probe report";
        return {};
    }
    if (child_command_line) *child_command_line = report->command_line;
    return std::vector<std::u16string>(report->argv.begin() + 3, report->argv.end());
}

std::vector<std::u16string> generated_items(int count) {
    const std::u16string alphabet[] = {
        u"a", u"Z", u"0", u" ", u" ", u"\t", u"\"", u"\"", u"\\", u"\\", u"\\", u"\n", u"\v",
        u"\r", u"&", u"|", u"^", u"%", u"'", u"=", u"-", u"\u00e9", u"\u4e2d", u"\U0001F600",
        u"\U0010FFFD"};
    std::mt19937 random(7041);
    std::uniform_int_distribution<int> length(0, 12);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(alphabet)) - 1);
    std::vector<std::u16string> items;
    for (int i = 0; i < count; ++i) {
        std::u16string item;
        for (int n = length(random); n > 0; --n) item += alphabet[pick(random)];
        items.push_back(item);
    }
    return items;
}

TEST(ArgvRoundTrip, EdgeItemsArriveUnchanged) {
    const std::vector<std::u16string> items = {
        u"", u"--", u"--env", u"X", u"--stdio-stdin", u"-e", u"console.log(\"hi\")",
        u"C:\\dir\\", u"C:\\out dir\\", u"x\\y", u"\"", u"a\\\\\"b", u"\\\\\\", u"\"\"",
        u"npm run build & echo done", u"", u"tab\there", u"tail space ", u"\U0001F600"};
    e2e::ScratchDir dir;
    EXPECT_EQ(child_arguments(dir, items, 0), items);
}

TEST(ArgvRoundTrip, NoArgumentsAtAll) {
    e2e::ScratchDir dir;
    EXPECT_EQ(child_arguments(dir, {}, 0), std::vector<std::u16string>{});
}

TEST(ArgvRoundTrip, GeneratedVectorsArriveUnchanged) {
    // Batched: a hundred items per launch keeps the suite fast and the lines
    // well below the system's length limit.
    const std::vector<std::u16string> all = generated_items(300);
    e2e::ScratchDir dir;
    for (std::size_t start = 0, index = 0; start < all.size(); start += 100, ++index) {
        const auto first = all.begin() + static_cast<std::ptrdiff_t>(start);
        const std::vector<std::u16string> batch(first, first + 100);
        SCOPED_TRACE("batch " + std::to_string(index));
        const std::vector<std::u16string> got = child_arguments(dir, batch, static_cast<int>(index));
        ASSERT_EQ(got.size(), batch.size());
        for (std::size_t i = 0; i < batch.size(); ++i)
            EXPECT_EQ(got[i], batch[i]) << "item " << start + i << ": "
                                        << zub::to_utf8_lossy(batch[i]);
    }
}

// An unpaired surrogate cannot be written into the child's command line; it
// arrives as U+FFFD, and nothing else about the item changes.
TEST(ArgvRoundTrip, UnpairedSurrogateArrivesAsReplacement) {
    const std::u16string lone_high = std::u16string(u"a") + char16_t(0xD800) + u"b";
    const std::u16string lone_low(1, char16_t(0xDC00));
    e2e::ScratchDir dir;
    std::u16string line;
    const std::vector<std::u16string> got = child_arguments(dir, {lone_high, lone_low}, 0, &line);
    EXPECT_EQ(got, (std::vector<std::u16string>{u"a\uFFFDb", u"\uFFFD"}));
    EXPECT_EQ(line.substr(line.size() - 6), u" a\uFFFDb \uFFFD");
}

}  // namespace
