// number_format_bench: the coordinate field, the colour field and the index item, each against
// the exact snprintf formatting of the same values, in the same run.
//
// The values come from a fixed seed and look like a mesh's: coordinates of a grid in steps of
// 1/32, of a model of some 1000 units and of a unit cube, colours that are a byte over 255, and
// vertex indices of a few million. Before anything is timed, every value is formatted both ways
// and the bytes compared, so a fast wrong answer cannot pass.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "converter/number_format.h"
#include "tests/number_format_reference.h"

namespace {

// 4096 values: more than the branch predictor learns, fewer than the first-level cache holds.
constexpr int value_count = 4096;

struct Values {
    std::vector<float> coordinates;
    std::vector<float> colours;
    std::vector<std::int32_t> indices;
};

Values make_values() {
    std::mt19937 generator(20240601);
    Values values;
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> grid_steps(-64000, 64000); // 1/32 steps of +-2000 units
    std::uniform_real_distribution<float> model(-1000.0f, 1000.0f);
    std::uniform_real_distribution<float> cube(-1.0f, 1.0f);
    for (int i = 0; i < value_count; ++i) {
        switch (kind(generator)) {
        case 0:
            values.coordinates.push_back(static_cast<float>(grid_steps(generator)) / 32);
            break;
        case 1:
            values.coordinates.push_back(cube(generator));
            break;
        default:
            values.coordinates.push_back(model(generator));
            break;
        }
    }
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < value_count; ++i) // as the colour pass forms them
        values.colours.push_back(
            static_cast<float>(static_cast<long double>(byte(generator)) / 255));
    std::uniform_int_distribution<std::int32_t> index(0, 4000000);
    for (int i = 0; i < value_count; ++i)
        values.indices.push_back(i % 64 == 0 ? -1 : index(generator));
    return values;
}

const Values& values() {
    static const Values made = make_values();
    return made;
}

// Stops the program when the two formattings of one value differ.
void expect_same(const std::string& ours, const std::string& reference, const char* what, int i) {
    if (ours == reference)
        return;
    std::fprintf(stderr, "%s %d: \"%s\", snprintf gives \"%s\"\n", what, i, ours.c_str(),
                 reference.c_str());
    std::exit(1);
}

// The item appended to a text, as the baseline appends its own.
void append_index_item(std::int32_t index, std::string& text) {
    IndexItem item;
    format_index_item(index, item);
    text += item.text();
}

void check_against_reference() {
    const Values& v = values();
    std::string ours;
    std::string reference;
    for (int i = 0; i < value_count; ++i) {
        ours.clear();
        reference.clear();
        format_coordinate_field(v.coordinates[i], ours);
        append_reference_coordinate_field(v.coordinates[i], reference);
        expect_same(ours, reference, "coordinate", i);
        ours.clear();
        reference.clear();
        format_colour_field(v.colours[i], ours);
        append_reference_colour_field(v.colours[i], reference);
        expect_same(ours, reference, "colour", i);
        ours.clear();
        reference.clear();
        append_index_item(v.indices[i], ours);
        append_reference_index_item(v.indices[i], reference);
        expect_same(ours, reference, "index", i);
    }
}

// Formats every value of the set into one text per iteration; counts values and bytes.
void time_floats(benchmark::State& state, const std::vector<float>& set,
                 bool (*format)(float, std::string&)) {
    std::string text;
    text.reserve(set.size() * 48);
    for (auto _ : state) {
        text.clear();
        for (float value : set)
            format(value, text);
        benchmark::DoNotOptimize(text.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(set.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

bool reference_coordinate(float value, std::string& text) {
    append_reference_coordinate_field(value, text);
    return true;
}

bool reference_colour(float value, std::string& text) {
    append_reference_colour_field(value, text);
    return true;
}

void time_indices(benchmark::State& state, void (*format)(std::int32_t, std::string&)) {
    const std::vector<std::int32_t>& set = values().indices;
    std::string text;
    text.reserve(set.size() * 12);
    for (auto _ : state) {
        text.clear();
        for (std::int32_t index : set)
            format(index, text);
        benchmark::DoNotOptimize(text.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(set.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

} // namespace

int main(int argc, char** argv) {
    check_against_reference();
    const Values& v = values();
    benchmark::RegisterBenchmark("coordinate_field/ours", time_floats, v.coordinates,
                                 format_coordinate_field);
    benchmark::RegisterBenchmark("coordinate_field/snprintf", time_floats, v.coordinates,
                                 reference_coordinate);
    benchmark::RegisterBenchmark("colour_field/ours", time_floats, v.colours, format_colour_field);
    benchmark::RegisterBenchmark("colour_field/snprintf", time_floats, v.colours, reference_colour);
    benchmark::RegisterBenchmark("index_item/ours", time_indices, append_index_item);
    benchmark::RegisterBenchmark("index_item/snprintf", time_indices, append_reference_index_item);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
