// The facet normal in its exact arithmetic, and the STL head text.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "converter/stl_writer.h"
#include "tests/mesh_builder.h"

TEST(FacetNormal, IsTheCrossProductWithOneRoundingPerComponent) {
    struct Case {
        const char* name;
        float a[3], b[3], c[3];
        float normal[3];
    };
    const float p23 = std::ldexp(1.f, -23), p22 = std::ldexp(1.f, -22);
    const Case cases[] = {
        {"general", {1, 2, 3}, {4, 5, 6.5f}, {-1, 0.5f, 2}, {2.25f, -4, 1.5f}},
        {"turned the other way", {0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, -1}},
        {"equal corners", {1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {0, 0, 0}},
        {"corners on one line", {0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {0, 0, 0}},
        // Products rounded to 32 bits would cancel to 0.
        {"exact products",
         {0, 1 + p23, 1 + p22},
         {0, 1, 1 + p23},
         {0, 0, 0},
         {std::ldexp(1.f, -46), 0, 0}},
        // 1 - 2^-25 - 2^-55 rounded once to 64 bits, then to 32: the float below 1; a first
        // rounding to 53 bits would give 1.
        {"one rounding in the extended format",
         {0, 1, std::ldexp(1.f, -5) - std::ldexp(1.f, -15) + std::ldexp(1.f, -25)},
         {0, std::ldexp(1.f, -20) + std::ldexp(1.f, -30), 1},
         {0, 0, 0},
         {std::nextafter(1.f, 0.f), 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        float normal[3];
        facet_normal(c.a, c.b, c.c, normal);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(bits_of(normal[i]), bits_of(c.normal[i])) << "component " << i;
    }
}

TEST(FacetNormal, SignOfAZeroFollowsTheOperandOrder) {
    // (-0) - (-0) gives +0 and (-0) - (+0) gives -0, so U and W carry signed zeros.
    const float a[3] = {-0.f, -0.f, -0.f};
    const float c[3] = {-0.f, -0.f, -0.f};
    float normal[3];
    facet_normal(a, a, c, normal);
    for (float component : normal)
        EXPECT_EQ(bits_of(component), 0u);
}

TEST(StlHead, IsEightyBytesWithTheContactAddress) {
    const std::string head = make_stl_head_text();
    EXPECT_EQ(head.size(), 80u);
    EXPECT_EQ(head.substr(0, 76),
              "Convert .ply > .stl (Stereolithography) by Morvantellis morvantellis.example");
    EXPECT_EQ(head.substr(76), "    ");
}
