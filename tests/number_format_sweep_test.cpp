// The full sweep: the coordinate and colour fields of every 32-bit pattern against the slow
// exact reference, across threads. Long, so it carries the label "sweep".
#include "converter/number_format.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_layer/failure.h"
#include "tests/byte_values.h"
#include "tests/number_format_reference.h"

namespace {

struct SliceResult {
    std::uint64_t coordinate_mismatch_count = 0;
    std::uint64_t colour_mismatch_count = 0;
    std::uint64_t not_finite_count = 0;
    std::string first_mismatch;
};

// Thread `slice` of `slice_count` takes every bit pattern congruent to it, so that each thread
// meets every exponent. The pending failure code is the run's one global, so the threads leave
// the NaNs and infinities, whose fields raise it, to the main thread.
void sweep_slice(std::uint32_t slice, std::uint32_t slice_count, SliceResult& result) {
    std::string coordinate;
    std::string colour;
    for (std::uint64_t wide_bits = slice; wide_bits <= 0xFFFFFFFFu; wide_bits += slice_count) {
        const std::uint32_t bits = static_cast<std::uint32_t>(wide_bits);
        const float value = float_from_bits(bits);
        if (!std::isfinite(value)) {
            ++result.not_finite_count;
            continue;
        }
        coordinate.clear();
        colour.clear();
        format_coordinate_field(value, coordinate);
        format_colour_field(value, colour);
        const std::string expansion = exact_expansion(value);
        const std::string want_coordinate = reference_field(value, expansion, 7, 5);
        const std::string want_colour = reference_field(value, expansion, 1, 3);
        const bool coordinate_differs = coordinate != want_coordinate;
        const bool colour_differs = colour != want_colour;
        result.coordinate_mismatch_count += coordinate_differs ? 1 : 0;
        result.colour_mismatch_count += colour_differs ? 1 : 0;
        if ((coordinate_differs || colour_differs) && result.first_mismatch.empty()) {
            std::ostringstream note;
            note << "bits 0x" << std::hex << bits << ": \"" << coordinate << "\" \"" << colour
                 << "\", want \"" << want_coordinate << "\" \"" << want_colour << "\"";
            result.first_mismatch = note.str();
        }
    }
}

TEST(NumberFieldSweep, BothFieldsMatchTheExactReferenceForEveryFloat) {
    const std::uint32_t slice_count = std::max(1u, std::thread::hardware_concurrency());
    std::vector<SliceResult> results(slice_count);
    std::vector<std::thread> threads;
    for (std::uint32_t slice = 0; slice < slice_count; ++slice)
        threads.emplace_back(sweep_slice, slice, slice_count, std::ref(results[slice]));
    for (std::thread& thread : threads)
        thread.join();

    std::uint64_t coordinate_mismatch_count = 0;
    std::uint64_t colour_mismatch_count = 0;
    std::uint64_t not_finite_count = 0;
    for (const SliceResult& result : results) {
        coordinate_mismatch_count += result.coordinate_mismatch_count;
        colour_mismatch_count += result.colour_mismatch_count;
        not_finite_count += result.not_finite_count;
        EXPECT_EQ(result.first_mismatch, "");
    }
    EXPECT_EQ(coordinate_mismatch_count, 0u);
    EXPECT_EQ(colour_mismatch_count, 0u);
    // Every pattern was met: 2 signs x 2^23 fractions = 16777216 of them, of exponent 255, are
    // not finite.
    EXPECT_EQ(not_finite_count, 16777216u);

    std::uint64_t wrong_failure_count = 0;
    clear_failure();
    for (std::uint32_t fraction = 0; fraction < 0x800000u; ++fraction) {
        for (std::uint32_t sign : {0u, 0x80000000u}) {
            const std::uint32_t bits = sign | 0x7F800000u | fraction;
            const float value = float_from_bits(bits);
            std::string coordinate = "kept";
            std::string colour = "kept";
            const bool coordinate_formatted = format_coordinate_field(value, coordinate);
            const bool colour_formatted = format_colour_field(value, colour);
            if (coordinate_formatted || coordinate != "kept" || colour_formatted ||
                colour != "kept" || failure_pending())
                ++wrong_failure_count;
        }
    }
    EXPECT_EQ(wrong_failure_count, 0u);
}

} // namespace
