// Decode rate of the installer tag reader against nlohmann::json parsing the same bytes, in the
// same run. Nothing is built for a skipped value, so a document whose bulk is one ignored member
// shows the skipper; a 64 KiB tag with a large PEM bundle shows string decoding.
#include "kov/installer_tag.hpp"
#include "ratio_reporter.hpp"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

namespace {

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = 1024 * KiB;

// A tag whose `ca` is a PEM bundle with escaped line ends, filled up to `size` bytes.
std::string tag_text(std::size_t size) {
    std::string text = R"({"config_url":"https://127.0.0.1:8443/installer/config",)"
                       R"("installer_url":"https://127.0.0.1:8443/setup.exe","ca":")";
    const std::string tail = R"(-----END CERTIFICATE-----\n"})";
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    text += R"(-----BEGIN CERTIFICATE-----\n)";
    std::size_t at = 0;
    while (text.size() + tail.size() + 66 < size) {
        for (int i = 0; i < 64; ++i) {
            text += alphabet[(at++ * 7 + 3) % alphabet.size()];
        }
        text += R"(\n)";
    }
    text.append(size - tail.size() - text.size(), 'Q');
    return text + tail;
}

// A tag of about `size` bytes whose bulk is one ignored member: records of every JSON kind.
std::string document_text(std::size_t size) {
    std::string text = R"({"config_url":"https://127.0.0.1:8443/installer/config","bulk":[)";
    for (std::size_t id = 0; text.size() < size; ++id) {
        const std::string n = std::to_string(id);
        text += id == 0 ? "" : ",";
        text += R"({"id":)" + n + R"(,"name":"item-)" + n + R"( \"quoted\" caf\u00e9",)" +
                R"("score":-)" + n + R"(.25e-3,"ok":true,"gone":null,)" +
                R"("tags":["alpha","beta","\uD83D\uDE00"],"nested":{"x":[1,2,[3,false,{}]]}})";
    }
    text += R"(],"installer_url":null})";
    return text;
}

void decode_with_reader(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto tag = kov::decode_installer_tag(text);
        if (!tag) {
            state.SkipWithError(kov::debug_form(tag.error()).c_str());
            return;
        }
        benchmark::DoNotOptimize(tag);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void parse_with_nlohmann(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto document = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
        if (document.is_discarded()) {
            state.SkipWithError("nlohmann::json rejected the text");
            return;
        }
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

const std::string& tag_64k() {
    static const std::string text = tag_text(64 * KiB);
    return text;
}

const std::string& document_64m() {
    static const std::string text = document_text(64 * MiB);
    return text;
}

void BM_Tag64KiB_reader(benchmark::State& state) {
    decode_with_reader(state, tag_64k());
}
void BM_Tag64KiB_nlohmann(benchmark::State& state) {
    parse_with_nlohmann(state, tag_64k());
}
void BM_IgnoredBulk64MiB_reader(benchmark::State& state) {
    decode_with_reader(state, document_64m());
}
void BM_IgnoredBulk64MiB_nlohmann(benchmark::State& state) {
    parse_with_nlohmann(state, document_64m());
}

BENCHMARK(BM_Tag64KiB_reader);
BENCHMARK(BM_Tag64KiB_nlohmann);
BENCHMARK(BM_IgnoredBulk64MiB_reader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IgnoredBulk64MiB_nlohmann)->Unit(benchmark::kMillisecond);

// Prints the usual table, then each reader's rate as a multiple of nlohmann's on the same text.
class Reporter : public kov::bench::RatioReporter {
public:
    void Finalize() override {
        RatioReporter::Finalize();
        for (const char* text : {"Tag64KiB", "IgnoredBulk64MiB"}) {
            const std::string name = std::string{"BM_"} + text;
            if (const auto ratio = speedup(name + "_reader", name + "_nlohmann")) {
                std::printf("%s: reader decodes at %.2fx the rate of nlohmann::json\n", text,
                            *ratio);
            }
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    Reporter reporter;
    return kov::bench::run_benchmarks(argc, argv, reporter);
}
