// How a pass looks names up: the linear case-insensitive scan against the
// index built once per pass. With n files on each side the scan costs n*n/2
// comparisons, the index n hash look-ups; the difference decides whether a
// site of 50,000 files takes milliseconds or minutes to compare.
#include <benchmark/benchmark.h>

#include "sync/ListOfFiles.h"

namespace {

void fillList(TListOfFiles& list, int count, bool upperCase) {
    for (int i = 0; i < count; ++i) {
        QString name = QStringLiteral("site/section-%1/Page-%2.html").arg(i % 97).arg(i);
        list.AddFile(*RelativeName::fromPath(upperCase ? name.toUpper() : name), i, {});
    }
}

void LookupLinear(benchmark::State& state) {
    TListOfFiles local, remote;
    fillList(local, int(state.range(0)), false);
    fillList(remote, int(state.range(0)), true);
    for (auto _ : state) {
        int found = 0;
        for (int i = 0; i < local.Count(); ++i)
            found += remote.IndexOf(local.Strings(i)) >= 0;
        benchmark::DoNotOptimize(found);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(LookupLinear)->RangeMultiplier(4)->Range(256, 4096)->Complexity();

void LookupIndexed(benchmark::State& state) {
    TListOfFiles local, remote;
    fillList(local, int(state.range(0)), false);
    fillList(remote, int(state.range(0)), true);
    for (auto _ : state) {
        const FileNameIndex index(remote); // built once per pass, as the passes do
        int found = 0;
        for (int i = 0; i < local.Count(); ++i)
            found += index.IndexOf(local.Strings(i)) >= 0;
        benchmark::DoNotOptimize(found);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(LookupIndexed)->RangeMultiplier(4)->Range(256, 65536)->Complexity();

} // namespace
