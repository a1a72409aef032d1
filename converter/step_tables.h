// The step numbers of the operations that run at more than one call site: the STL first count,
// the STL facet and the clean-up pass. Each call site has its own numbers, so each has a table
// here, every number written once, and the operation checks its steps by the table's fields.
#pragma once

// The first count of the STL file: its write and the move of stl_pos past it.
struct FirstCountSteps {
    int write;
    int move;
};

inline constexpr FirstCountSteps strip_first_count_steps = {300, 301};
inline constexpr FirstCountSteps face_first_count_steps = {455, 456};

// One corner of a facet: its position from the vertex number, the reads of x, y and z with a
// move of 4 between two reads, and the copies of the three into the facet.
struct CornerSteps {
    int position;
    int read_x, move_to_y, read_y, move_to_z, read_z;
    int copy_x, copy_y, copy_z;
};

// The facet's normal: facet_normal, then its copy into facet 1 to 3.
struct NormalSteps {
    int compute;
    int copy[3];
};

// Each of the twelve floats in turn: taken from the facet, written, stl_pos moved past it. The
// loop over them (361, 440, 516) closes no step of its own.
struct FloatSteps {
    int take, write, move;
};

// The steps of write_stl_facet.
struct FacetSteps {
    CornerSteps corners[3]; // A, B, C
    NormalSteps normal;
    FloatSteps each_float;
    int attribute_bytes;
};

// The three call sites, in the rows of one table: the first triangle of the strip walk,
// further strip triangles, a face of a face file.
inline constexpr FacetSteps first_strip_triangle_facet_steps = {
    {{324, 325, 326, 327, 328, 329, 330, 331, 332},  // A
     {334, 335, 336, 337, 338, 339, 340, 341, 342},  // B
     {344, 345, 346, 347, 348, 349, 350, 351, 352}}, // C
    {355, {357, 358, 359}},
    {362, 363, 364},
    366,
};
inline constexpr FacetSteps further_strip_triangle_facet_steps = {
    {{403, 404, 405, 406, 407, 408, 409, 410, 411},  // A
     {413, 414, 415, 416, 417, 418, 419, 420, 421},  // B
     {423, 424, 425, 426, 427, 428, 429, 430, 431}}, // C
    {434, {436, 437, 438}},
    {441, 442, 443},
    445,
};
inline constexpr FacetSteps face_facet_steps = {
    {{479, 480, 481, 482, 483, 484, 485, 486, 487},  // A
     {489, 490, 491, 492, 493, 494, 495, 496, 497},  // B
     {499, 500, 501, 502, 503, 504, 505, 506, 507}}, // C
    {510, {512, 513, 514}},
    {517, 518, 519},
    521,
};

// The steps of clean_up_text_file; a cycle cleans one line. Some close a run of steps:
// collapse_blanks 631-634 and drop_blanks_before_commas 640-643.
struct CleanUpSteps {
    int open_reader, open_writer;
    int begin_cycle, read_line;
    int take_line, trim, collapse_blanks, trim_again, drop_blanks_before_commas;
    int write_line, test_end;
    int close_reader, close_writer;
};

// The VRML text, then the Inventor text: each number of the second is the first's plus 29.
inline constexpr CleanUpSteps wrl_clean_up_steps = {
    623, 624, 626, 627, 628, 629, 634, 638, 643, 647, 648, 649, 650,
};
inline constexpr CleanUpSteps iv_clean_up_steps = {
    652, 653, 655, 656, 657, 658, 663, 667, 672, 676, 677, 678, 679,
};
