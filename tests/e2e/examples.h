// The inputs of the whole-process tests beyond the example, and the folder a conversion of the
// example leaves (the example and its final files are in tests/example_files.h).
#pragma once

#include <string>

#include "tests/e2e/e2e_support.h"
#include "tests/example_files.h"

// The example with a vertex line before its own whose count, 17 hexadecimal digits, is wider
// than 64 bits: the scan reports it, and the vertex line after it gives the count.
inline std::string overflowing_example_file() {
    const std::string format = "format binary_little_endian 1.0\n";
    std::string bytes = example_face_file();
    bytes.insert(bytes.find(format) + format.size(), "element vertex &H10000000000000000\n");
    return bytes;
}

// The program's folder after a whole conversion of the example: the input as it was, then the
// three files.
inline FileBytes example_converted(const std::string& input_name, const std::string& input) {
    return {{input_name, input},
            {"out.wrl", final_wrl(example_lists())},
            {"out.iv", final_iv(example_lists())},
            {"out.stl", example_stl()}};
}
