// Engine benchmark: parse, write and parse+write throughput, the walks over a
// whole tree (copy, compare, free), and the memory a parsed tree holds per
// input byte.
//
//   engine_bench [FILE_OR_DIR...]
//
// Without arguments it reads every .toml and .lock file of ../shared/bench-data
// and build/bench/lockfile.toml (made by bench/gen_lockfile.py), relative to
// the working directory, and adds generated documents of one shape at two
// sizes (see generated_inputs); missing inputs are skipped with a message. Each time
// is the best single run of N, N chosen so that the N runs take at least
// 0.5 s. Times cover parsing or writing only, not freeing the tree; copy
// times copying the parsed document, compare values_equal between the
// document and its copy, free destroying a copy (made untimed before each run).
// MB is 10^6 bytes of input.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "alloc.hpp"
#include "encode.hpp"
#include "parser.hpp"
#include "tree_item.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kMinSeconds = 0.5;
constexpr int kMinRuns = 5;

std::size_t g_sink = 0;  // keeps results observable

struct Input {
    std::string name;
    std::string text;  // plain std::string: the input is not engine memory and is not counted
};

// The input lent to the parsed document, as the Python module lends the
// string it is given: the document views it instead of copying it.
class LentInput final : public morvelan::SourceText {
public:
    explicit LentInput(std::string_view text) { view_ = text; }
};

morvelan::ParseResult<morvelan::DocumentRoot> parse_lent(std::string_view text) {
    return morvelan::parse_document(std::make_shared<const LentInput>(text));
}

std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void add_path(const fs::path& path, std::vector<Input>& inputs) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(path, ec)) {
            const auto ext = entry.path().extension();
            if (entry.is_regular_file() && (ext == ".toml" || ext == ".lock")) files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        if (files.empty()) std::printf("skipped %s: no .toml or .lock files\n", path.c_str());
        for (const auto& f : files) add_path(f, inputs);
        return;
    }
    auto text = read_file(path);
    if (!text) {
        std::printf("skipped %s: not found\n", path.c_str());
        return;
    }
    inputs.push_back({path.filename().string(), std::move(*text)});
}

// Headers taking over the tables that deeper headers made: `[x{i}.y]` for
// every i, then `[x{i}]` for every i. Each takeover removes the entry of x{i}
// from the front of the root table and appends it again, so the parse time
// shows what a removal costs; the two sizes show how it grows.
void generated_inputs(std::vector<Input>& inputs) {
    for (const int n : {20000, 40000}) {
        std::string text;
        for (int i = 0; i < n; ++i) text += "[x" + std::to_string(i) + ".y]\n";
        for (int i = 0; i < n; ++i) text += "[x" + std::to_string(i) + "]\n";
        inputs.push_back({"takeover " + std::to_string(n / 1000) + "k (generated)", std::move(text)});
    }
}

// Best single run of `op`, repeated until the runs add up to kMinSeconds.
template <class Op>
double best_seconds(Op&& op) {
    double best = 1e300;
    double total = 0;
    for (int runs = 0; runs < kMinRuns || total < kMinSeconds; ++runs) {
        const double t = op();
        best = std::min(best, t);
        total += t;
    }
    return best;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Returns false when the input does not parse.
bool bench(const Input& input) {
    const std::string_view text = input.text;
    const double mb = static_cast<double>(text.size()) / 1e6;

    const std::size_t before = morvelan::live_bytes();
    const std::size_t allocs_before = morvelan::alloc_count();
    auto parsed = parse_lent(text);
    const double allocs = static_cast<double>(morvelan::alloc_count() - allocs_before);
    if (!parsed.ok()) {
        std::printf("%-26s parse failed:\n%s\n", input.name.c_str(), parsed.error().display().c_str());
        return false;
    }
    const double held = static_cast<double>(morvelan::live_bytes() - before);
    const morvelan::String written = morvelan::write_document(parsed.value());
    const bool exact = std::string_view(written.data(), written.size()) == text;

    const double parse_s = best_seconds([&] {
        const auto start = Clock::now();
        auto r = parse_lent(text);
        const double t = seconds_since(start);
        g_sink += r.ok();
        return t;
    });
    const double write_s = best_seconds([&] {
        const auto start = Clock::now();
        const morvelan::String out = morvelan::write_document(parsed.value());
        const double t = seconds_since(start);
        g_sink += out.size();
        return t;
    });
    const double both_s = best_seconds([&] {
        const auto start = Clock::now();
        auto r = parse_lent(text);
        const morvelan::String out = morvelan::write_document(r.value());
        const double t = seconds_since(start);
        g_sink += out.size();
        return t;
    });

    const double copy_s = best_seconds([&] {
        const auto start = Clock::now();
        morvelan::DocumentRoot copy = parsed.value();
        const double t = seconds_since(start);
        g_sink += copy.table().entries.size();
        return t;
    });
    const morvelan::DocumentRoot copied = parsed.value();
    const double compare_s = best_seconds([&] {
        const auto start = Clock::now();
        const bool same = morvelan::values_equal(parsed.value().root(), copied.root());
        const double t = seconds_since(start);
        g_sink += same;
        return t;
    });
    const double free_s = best_seconds([&] {
        std::optional<morvelan::DocumentRoot> copy(parsed.value());
        const auto start = Clock::now();
        copy.reset();
        const double t = seconds_since(start);
        g_sink += !copy;
        return t;
    });

    std::printf("%-26s %10zu %11.1f %11.1f %11.1f %11.1f %11.1f %11.1f %12.2f %10.1f  %s\n",
                input.name.c_str(), text.size(), mb / parse_s, mb / write_s, mb / both_s, mb / copy_s,
                mb / compare_s, mb / free_s, held / static_cast<double>(text.size()),
                allocs * 1000 / static_cast<double>(text.size()), exact ? "exact" : "differs");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Input> inputs;
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) add_path(argv[i], inputs);
    } else {
        add_path("../shared/bench-data", inputs);
        add_path("build/bench/lockfile.toml", inputs);
        generated_inputs(inputs);
    }
    if (inputs.empty()) {
        std::printf("no inputs\n");
        return 1;
    }
    std::printf("\n%-26s %10s %11s %11s %11s %11s %11s %11s %12s %10s  %s\n", "input", "bytes", "parse MB/s",
                "write MB/s", "p+w MB/s", "copy MB/s", "cmp MB/s", "free MB/s", "tree B/B", "allocs/KB",
                "round trip");
    int failed = 0;
    for (const auto& input : inputs) failed += !bench(input);
    return failed > 0 || g_sink == 0 ? 1 : 0;
}
