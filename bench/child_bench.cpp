// Growth of the child's environment block and command line with their size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "child/command_line.h"
#include "child/env_block.h"
#include "fake_platform.h"

namespace zub {
namespace {

// Distinct names in random order and mixed case, so the map really sorts and folds.
std::vector<OsString> definitions(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<OsString> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string name = "Var_" + std::to_string(i);
        for (char& c : name) {
            if (c >= 'a' && c <= 'z' && (random() & 1)) c = static_cast<char>(c - 'a' + 'A');
        }
        out.push_back(to_utf16(name + "=C:\\Program Files\\value " + std::to_string(random())));
    }
    std::shuffle(out.begin(), out.end(), random);
    return out;
}

void BM_EnvBlockFromHelperEnvironment(benchmark::State& state) {
    test::FakePlatform fake;
    std::u16string block;
    for (const OsString& d : definitions(static_cast<std::size_t>(state.range(0)), 1)) {
        block += d + u'\0';
    }
    fake.environment = block + u'\0';
    const std::vector<OsString> entries{u"PATH=C:\\bin", u"ZUB_CHILD=1"};
    for (auto _ : state) {
        auto result = build_env_block(fake, entries, false);
        benchmark::DoNotOptimize(result.value().data());
        fake.log.clear();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EnvBlockFromHelperEnvironment)->RangeMultiplier(10)->Range(100, 10000)
    ->Complexity(benchmark::oNLogN);

void BM_EnvBlockFromEntries(benchmark::State& state) {
    test::FakePlatform fake;
    const std::vector<OsString> entries = definitions(static_cast<std::size_t>(state.range(0)), 2);
    for (auto _ : state) {
        auto result = build_env_block(fake, entries, true);
        benchmark::DoNotOptimize(result.value().data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_EnvBlockFromEntries)->RangeMultiplier(10)->Range(100, 10000)
    ->Complexity(benchmark::oNLogN);

void BM_CommandLine(benchmark::State& state) {
    // A mix of plain items, items that need quotes and escapes, and empty ones.
    const OsString samples[] = {u"install.js", u"C:\\out dir\\", u"console.log(\"hi\")", u"",
                                u"--flag=value", u"a\\\\\"b"};
    std::vector<OsString> args;
    for (std::int64_t i = 0; i < state.range(0); ++i) args.push_back(samples[i % 6]);
    for (auto _ : state) {
        std::u16string line = build_command_line(u"C:\\Tools Dir\\node.exe", args);
        benchmark::DoNotOptimize(line.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_CommandLine)->RangeMultiplier(10)->Range(100, 10000)->Complexity(benchmark::oN);

}  // namespace
}  // namespace zub
