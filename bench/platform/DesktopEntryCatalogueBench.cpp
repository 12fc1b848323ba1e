// Looking up an application by an identifier made of many dashes ("a-a-a-…"),
// each of which may stand for a sub-folder. The time must grow with the
// identifier's length, not its square: the reported complexity is the fit
// (no sub-folder matches, so every dash is tried and refused). Past the
// longest identifier an entry can have (4,096 bytes) the lookup is refused at
// once: BM_DashedIdentifierHuge times a 160 KB identifier.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "Platform/Linux/DesktopEntryCatalogue.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"

namespace {

using ravolet::platform::DesktopEntryCatalogue;
using ravolet::platform::InMemoryFileSystem;

// "a-a-…-a", `length` characters long.
std::string dashed(std::size_t length) {
    std::string id;
    for (std::size_t i = 0; i < length; ++i) id += i % 2 == 0 ? 'a' : '-';
    if (id.ends_with('-')) id.back() = 'a';
    return id;
}

std::shared_ptr<DesktopEntryCatalogue> catalogue(const std::shared_ptr<InMemoryFileSystem>& files) {
    return std::make_shared<DesktopEntryCatalogue>(files, "/home/u/.local/share", std::vector<std::filesystem::path>{"/usr/share"});
}

void BM_DashedIdentifier(benchmark::State& state) {
    const auto length = static_cast<std::size_t>(state.range(0));
    const auto files = std::make_shared<InMemoryFileSystem>();
    files->putFile("/usr/share/applications/other.desktop", "[Desktop Entry]\nType=Application\nName=Other\n");
    const auto applications = catalogue(files);
    const std::string id = dashed(length);
    for (auto _ : state) benchmark::DoNotOptimize(applications->application(id));
    state.SetComplexityN(static_cast<std::int64_t>(length));
}

void BM_DashedIdentifierHuge(benchmark::State& state) {
    const auto files = std::make_shared<InMemoryFileSystem>();
    const auto applications = catalogue(files);
    const std::string id = dashed(160 * 1024);
    for (auto _ : state) benchmark::DoNotOptimize(applications->application(id));
}

} // namespace

BENCHMARK(BM_DashedIdentifier)->RangeMultiplier(2)->Range(256, 4096)->Complexity(benchmark::oN);
BENCHMARK(BM_DashedIdentifierHuge);
