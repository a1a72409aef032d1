// The steps of a whole run of the example (three vertices, one face 0 1 2) that write to each
// of its files, in the order they run: where a file's slot stays closed, each shows a box.
#pragma once

#include <initializer_list>
#include <vector>

inline std::vector<int> repeated_step(int step, int count) {
    return std::vector<int>(static_cast<std::size_t>(count), step);
}

inline std::vector<int> joined(std::initializer_list<std::vector<int>> parts) {
    std::vector<int> steps;
    for (const std::vector<int>& part : parts)
        steps.insert(steps.end(), part.begin(), part.end());
    return steps;
}

// "TEMP1.TMP": its head, three coordinate lines, the list ends, three colour lines, the list
// ends, the face line twice, the tail.
inline std::vector<int> example_wrl_write_steps() {
    return joined({{192, 193, 194, 195, 196, 197, 198, 199},
                   repeated_step(230, 3),
                   {234, 235, 236, 238, 239, 240},
                   repeated_step(280, 3),
                   {284, 285, 290, 291, 292},
                   repeated_step(469, 3),
                   {475, 528, 529},
                   repeated_step(595, 3),
                   {601, 607, 608, 609}});
}

// The same for "TEMP2.TMP".
inline std::vector<int> example_iv_write_steps() {
    return joined({{203, 204, 205, 206, 208, 209, 210, 211},
                   repeated_step(231, 3),
                   {242, 243, 244, 246, 247, 248},
                   repeated_step(281, 3),
                   {287, 288, 294, 295, 296},
                   repeated_step(470, 3),
                   {476, 530, 531},
                   repeated_step(596, 3),
                   {602, 611, 612, 613}});
}

// The STL file after its head (115): the first count, the facet's twelve floats and its
// attribute bytes, the final count.
inline std::vector<int> example_stl_write_steps_after_head() {
    return joined({{455}, repeated_step(518, 12), {521, 620}});
}

inline std::vector<int> example_stl_write_steps() {
    return joined({{115}, example_stl_write_steps_after_head()});
}
