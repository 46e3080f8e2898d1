// The helper's first step on a large request: splitting its raw command line
// and parsing the arguments into a request, as the entry point does.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "child/command_line.h"
#include "protocol/command_line_split.h"
#include "protocol/parse_args.h"

namespace zub {
namespace {

OsString ascii(const std::string& text) { return OsString(text.begin(), text.end()); }

// A request of `count` arguments (after argument zero): the required flags, then
// about a third grant directories and environment entries whose values need
// quoting, then the child's program and its arguments (quotes, trailing
// backslashes, empty items). Written as a parent would, with the child quoting.
OsString helper_command_line(std::size_t count) {
    std::vector<OsString> items = {u"--protocol-version", u"1",  u"--appcontainer-name",
                                   u"zub-bench",          u"--stdio-stdin", u"null",
                                   u"--stdio-stdout",     u"piped", u"--stdio-stderr",
                                   u"inherit"};
    for (std::size_t i = 0; items.size() + 4 < count / 3; ++i) {
        if (i % 2 == 0) {
            items.push_back(u"--readable-dir");
            items.push_back(ascii("C:\\Users\\dev\\My Project\\node_modules\\pkg-" + std::to_string(i)));
        } else {
            items.push_back(u"--env");
            items.push_back(ascii("ZUB_VAR_" + std::to_string(i) + "=value \"" + std::to_string(i) + "\""));
        }
    }
    items.push_back(u"--");
    items.push_back(u"C:\\Program Files\\nodejs\\node.exe");
    const OsString child_samples[] = {u"install.js", u"C:\\out dir\\", u"console.log(\"hi\")", u"",
                                      u"--flag=value", u"a\\\\\"b"};
    for (std::size_t i = 0; items.size() < count; ++i) items.push_back(child_samples[i % 6]);

    OsString line = build_command_line(u"C:\\Tools\\zub-sandbox-helper.exe", items);
    if (!line.empty() && line.back() == u'\0') line.pop_back();
    return line;
}

void BM_SplitAndParseHelperArgs(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const OsString line = helper_command_line(count);
    {
        std::vector<OsString> check = split_command_line(line, u"");
        check.erase(check.begin());
        if (check.size() != count || !parse_helper_args(std::move(check))) {
            state.SkipWithError("the generated command line does not parse");
            return;
        }
    }
    for (auto _ : state) {
        std::vector<OsString> arguments = split_command_line(line, u"");
        arguments.erase(arguments.begin());
        auto request = parse_helper_args(std::move(arguments));
        benchmark::DoNotOptimize(request.value().args.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * count));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size() * 2));
    state.counters["line_units"] = static_cast<double>(line.size());
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_SplitAndParseHelperArgs)->Arg(200)->Arg(2000)->Arg(20000)
    ->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oN);

}  // namespace
}  // namespace zub
