// Parse-and-match rate of the configuration answer against nlohmann::json building its tree
// from the same bytes, in the same run, on 64 MiB answers: one whose `config` is a single large
// string (a JSON text, so full of escapes, and a plain one), and one whose bulk is many ignored
// members of every kind. Also the heap each side holds at its peak while decoding, as a multiple
// of the body's size.
#include "kov/config_response.hpp"
#include "ratio_reporter.hpp"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <map>
#include <new>
#include <nlohmann/json.hpp>
#include <string>

namespace {

// Heap held by the process, and its peak since the last reset.
std::atomic<std::size_t> heap_now{0};
std::atomic<std::size_t> heap_peak{0};

void* counted_allocation(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        std::fputs("out of memory\n", stderr);
        std::abort();
    }
    const std::size_t now = heap_now += malloc_usable_size(block);
    std::size_t peak = heap_peak.load(std::memory_order_relaxed);
    while (now > peak && !heap_peak.compare_exchange_weak(peak, now)) {
    }
    return block;
}

void counted_release(void* block) {
    if (block != nullptr) {
        heap_now -= malloc_usable_size(block);
        std::free(block);
    }
}

} // namespace

void* operator new(std::size_t size) {
    return counted_allocation(size);
}
void* operator new[](std::size_t size) {
    return counted_allocation(size);
}
void operator delete(void* block) noexcept {
    counted_release(block);
}
void operator delete[](void* block) noexcept {
    counted_release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    counted_release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    counted_release(block);
}

namespace {

constexpr std::size_t MiB = 1024 * 1024;
constexpr std::size_t ANSWER_SIZE = 64 * MiB;

// An installer configuration as a service would send it: a JSON text inside the string, so its
// quotes and line ends are escaped.
std::string escaped_config_answer(std::size_t size) {
    std::string text = R"({"prompt":"Install Kovane Console for all users?","config":"{\n)";
    const std::string tail = R"(\"end\":true\n}"})";
    for (std::size_t id = 0; text.size() + tail.size() < size; ++id) {
        const std::string n = std::to_string(id);
        text += R"(  \"component-)" + n + R"(\": {\"path\": \"C:\\\\Program Files\\\\Kovane\\\\)" +
                n + R"(\", \"size\": )" + n + R"(, \"label\": \"caf\u00e9 )" + n +
                R"(\", \"enabled\": true},\n)";
    }
    return text + tail;
}

// A configuration text without escapes: the string is used where it lies.
std::string plain_config_answer(std::size_t size) {
    std::string text = R"({"config":")";
    const std::string tail = R"("})";
    for (std::size_t id = 0; text.size() + tail.size() < size; ++id) {
        text += "component-" + std::to_string(id) + "=C:/Program Files/Kovane/bin; enabled; ";
    }
    return text + tail;
}

// The bulk in members that the answer ignores: records of every JSON kind, each under a key of
// its own so that nlohmann::json keeps them all too.
std::string ignored_members_answer(std::size_t size) {
    std::string text = R"({"config":"channel=stable","prompt":null)";
    for (std::size_t id = 0; text.size() < size; ++id) {
        const std::string n = std::to_string(id);
        text += R"(,"item-)" + n + R"(":{"id":)" + n + R"(,"name":"item-)" + n +
                R"( \"quoted\" caf\u00e9",)" + R"("score":-)" + n +
                R"(.25e-3,"ok":true,"gone":null,)" +
                R"("tags":["alpha","beta","\uD83D\uDE00"],"nested":{"x":[1,2,[3,false,{}]]}})";
    }
    return text + "}";
}

const std::string& answer(int which) {
    static const std::string answers[] = {escaped_config_answer(ANSWER_SIZE),
                                          plain_config_answer(ANSWER_SIZE),
                                          ignored_members_answer(ANSWER_SIZE)};
    return answers[which];
}

constexpr const char* ANSWER_NAMES[] = {"EscapedConfig64MiB", "PlainConfig64MiB",
                                        "IgnoredMembers64MiB"};

// Peak heap above what was held before, while `decode` runs once, over the body's size.
template <class Decode>
double peak_ratio(const std::string& body, Decode decode) {
    heap_peak = heap_now.load();
    const std::size_t before = heap_now;
    decode();
    return static_cast<double>(heap_peak - before) / static_cast<double>(body.size());
}

std::map<std::string, double>& memory_ratios() {
    static std::map<std::string, double> ratios;
    return ratios;
}

void decode_answer(benchmark::State& state, int which) {
    const std::string& body = answer(which);
    for (auto _ : state) {
        auto response = kov::decode_config_response(body);
        if (!response) {
            state.SkipWithError(kov::debug_form(response.error()).c_str());
            return;
        }
        benchmark::DoNotOptimize(response);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
    memory_ratios()[std::string{"BM_"} + ANSWER_NAMES[which] + "_answer"] =
        peak_ratio(body, [&] { benchmark::DoNotOptimize(kov::decode_config_response(body)); });
}

void parse_with_nlohmann(benchmark::State& state, int which) {
    const std::string& body = answer(which);
    const auto parse = [&] {
        return nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    };
    for (auto _ : state) {
        auto document = parse();
        if (document.is_discarded()) {
            state.SkipWithError("nlohmann::json rejected the text");
            return;
        }
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
    memory_ratios()[std::string{"BM_"} + ANSWER_NAMES[which] + "_nlohmann"] =
        peak_ratio(body, [&] { benchmark::DoNotOptimize(parse()); });
}

void BM_EscapedConfig64MiB_answer(benchmark::State& state) {
    decode_answer(state, 0);
}
void BM_EscapedConfig64MiB_nlohmann(benchmark::State& state) {
    parse_with_nlohmann(state, 0);
}
void BM_PlainConfig64MiB_answer(benchmark::State& state) {
    decode_answer(state, 1);
}
void BM_PlainConfig64MiB_nlohmann(benchmark::State& state) {
    parse_with_nlohmann(state, 1);
}
void BM_IgnoredMembers64MiB_answer(benchmark::State& state) {
    decode_answer(state, 2);
}
void BM_IgnoredMembers64MiB_nlohmann(benchmark::State& state) {
    parse_with_nlohmann(state, 2);
}

BENCHMARK(BM_EscapedConfig64MiB_answer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EscapedConfig64MiB_nlohmann)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainConfig64MiB_answer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainConfig64MiB_nlohmann)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IgnoredMembers64MiB_answer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IgnoredMembers64MiB_nlohmann)->Unit(benchmark::kMillisecond);

// Prints the usual table, then for each answer the decoding rate as a multiple of nlohmann's
// on the same bytes, and each side's peak heap over the body's size.
class Reporter : public kov::bench::RatioReporter {
public:
    void Finalize() override {
        RatioReporter::Finalize();
        for (const char* text : ANSWER_NAMES) {
            const std::string name = std::string{"BM_"} + text;
            const auto ratio = speedup(name + "_answer", name + "_nlohmann");
            if (!ratio) {
                continue;
            }
            std::printf("%s: the answer decodes at %.2fx the rate of nlohmann::json; peak heap "
                        "%.2fx the body (nlohmann::json %.2fx)\n",
                        text, *ratio, memory_ratios()[name + "_answer"],
                        memory_ratios()[name + "_nlohmann"]);
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    Reporter reporter;
    return kov::bench::run_benchmarks(argc, argv, reporter);
}
