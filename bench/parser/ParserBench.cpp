// Reply parsing speed: XYZParser::Parse on the position server's two reply lines,
// against the C library's sscanf of the same line with a fixed argument list (what
// parsing would cost without format lists and without the safe scanner).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "driver/comm/parser/XYZParser.h"

namespace {

const char kFormats[] = R"("( %lf %lf %lf %lf %lf %lf %lf ) %3c","( %lf %lf %lf %lf ) %3c")";
const std::string kPositionLine = "( 1.000000 2.000000 3.000000 4.000000 ) 235\r\n";
const std::string kHitLine = "( 1.0 2.0 3.0 4.0 0.0 0.0 1.0 ) 237\r\n";

void BM_Parse(benchmark::State& state, const std::string& line) {
    XYZParser parser;
    parser.SetReplyFormats(kFormats);
    for (auto _ : state) {
        parser.Parse(line);
        benchmark::DoNotOptimize(parser.GetParsedPosition());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Sscanf(benchmark::State& state, const std::string& line, bool hit) {
    double v[7];
    char code[4] = {};
    for (auto _ : state) {
        int r = hit ? std::sscanf(line.c_str(), "( %lf %lf %lf %lf %lf %lf %lf ) %3c", &v[0], &v[1],
                                  &v[2], &v[3], &v[4], &v[5], &v[6], code)
                    : std::sscanf(line.c_str(), "( %lf %lf %lf %lf ) %3c", &v[0], &v[1], &v[2],
                                  &v[3], code);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BM_Parse, position_line, kPositionLine);
BENCHMARK_CAPTURE(BM_Sscanf, position_line, kPositionLine, false);
BENCHMARK_CAPTURE(BM_Parse, hit_line, kHitLine);
BENCHMARK_CAPTURE(BM_Sscanf, hit_line, kHitLine, true);

}  // namespace

BENCHMARK_MAIN();
