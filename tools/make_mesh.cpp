// make_mesh: writes a grid mesh as a PLY face file or strip file, binary or as text.
//
// Usage: make_mesh --layout face|strip --grid W H [--seed S] [--quads] [--ascii] OUTPUT.ply
//
// The grid has (W+1)*(H+1) vertices; vertex (i, j), i = 0..W, j = 0..H, has the index
// j*(W+1) + i. Cell (i, j) has the corners a = (i, j), b = (i+1, j), c = (i+1, j+1) and
// d = (i, j+1). The face file gives each cell the triangles (a, b, c) and (a, c, d), or the one
// quad (a, b, c, d) with --quads. The strip file has one strip per row of cells,
// d0 a0 d1 a1 ... dW aW (top corner first, so that a standard strip turns counter-clockwise
// seen from +z), with -1 between two rows. Without --seed, x = i, y = j, z = 0 and the colours
// are gradients; with --seed, x, y and z move by multiples of 1/32 drawn from the seed and the
// colours are drawn too. --ascii writes the same mesh as "format ascii 1.0", for reading by eye
// and by tests. Records are streamed: memory does not grow with the grid.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

static_assert(std::numeric_limits<float>::is_iec559, "PLY floats are IEEE 754 singles");

namespace {

enum class Layout { Face, Strip };
enum class Encoding { Binary, Ascii };

struct Options {
    Layout layout = Layout::Face;
    Encoding encoding = Encoding::Binary;
    std::int64_t width = 0;  // cells along x
    std::int64_t height = 0; // cells along y
    bool seeded = false;
    std::uint32_t seed = 0;
    bool quads = false;
    const char* output_name = nullptr;
};

struct Vertex {
    float x, y, z;
    std::uint8_t red, green, blue;
};

// Records are encoded into the buffer, which is written out whenever it fills.
struct Writer {
    std::FILE* file = nullptr;
    Encoding encoding = Encoding::Binary;
    std::uint8_t buffer[1 << 16];
    std::size_t used = 0;
    bool failed = false;
};

// The intensity property: the four bytes of a face-file record that the converter skips.
constexpr float intensity = 1.0f;

void flush(Writer& writer) {
    if (writer.used > 0 && std::fwrite(writer.buffer, 1, writer.used, writer.file) != writer.used)
        writer.failed = true;
    writer.used = 0;
}

void put_bytes(Writer& writer, const void* data, std::size_t size) {
    if (writer.used + size > sizeof writer.buffer)
        flush(writer);
    std::memcpy(writer.buffer + writer.used, data, size);
    writer.used += size;
}

void put_text(Writer& writer, const std::string& text) {
    put_bytes(writer, text.data(), text.size());
}

// Each value goes out as its 4 or 1 little-endian bytes (the host is checked in main), or as
// text followed by `separator`. Nine significant digits give every float back exactly.
void put_float(Writer& writer, float value, char separator) {
    if (writer.encoding == Encoding::Binary) {
        put_bytes(writer, &value, 4);
        return;
    }
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.9g%c", value, separator);
    put_bytes(writer, text, static_cast<std::size_t>(length));
}

void put_int32(Writer& writer, std::int32_t value, char separator) {
    if (writer.encoding == Encoding::Binary) {
        put_bytes(writer, &value, 4);
        return;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%d%c", value, separator);
    put_bytes(writer, text, static_cast<std::size_t>(length));
}

void put_uint8(Writer& writer, std::uint8_t value, char separator) {
    if (writer.encoding == Encoding::Binary) {
        put_bytes(writer, &value, 1);
        return;
    }
    char text[8];
    const int length =
        std::snprintf(text, sizeof text, "%u%c", static_cast<unsigned>(value), separator);
    put_bytes(writer, text, static_cast<std::size_t>(length));
}

bool host_is_little_endian() {
    const std::uint32_t one = 1;
    std::uint8_t first = 0;
    std::memcpy(&first, &one, 1);
    return first == 1;
}

void print_usage() {
    std::fputs("usage: make_mesh --layout face|strip --grid W H [--seed S] [--quads] [--ascii] "
               "OUTPUT.ply\n",
               stderr);
}

// Reads a whole decimal number from min_value to max_value; false for anything else.
bool parse_count(const char* text, std::int64_t min_value, std::int64_t max_value,
                 std::int64_t& value) {
    if (*text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < min_value || parsed > max_value)
        return false;
    value = parsed;
    return true;
}

bool parse_options(int argc, char** argv, Options& options) {
    for (int a = 1; a < argc; ++a) {
        const std::string word = argv[a];
        std::int64_t number = 0;
        if (word == "--layout" && a + 1 < argc) {
            const std::string name = argv[++a];
            if (name == "face")
                options.layout = Layout::Face;
            else if (name == "strip")
                options.layout = Layout::Strip;
            else
                return false;
        } else if (word == "--grid" && a + 2 < argc) {
            // 2^30 cells a side is far past any useful mesh; the totals are checked in main.
            if (!parse_count(argv[a + 1], 1, 1 << 30, options.width) ||
                !parse_count(argv[a + 2], 1, 1 << 30, options.height))
                return false;
            a += 2;
        } else if (word == "--seed" && a + 1 < argc) {
            if (!parse_count(argv[++a], 0, std::numeric_limits<std::uint32_t>::max(), number))
                return false;
            options.seeded = true;
            options.seed = static_cast<std::uint32_t>(number);
        } else if (word == "--quads") {
            options.quads = true;
        } else if (word == "--ascii") {
            options.encoding = Encoding::Ascii;
        } else if (word.size() > 1 && word[0] == '-') {
            return false;
        } else if (options.output_name == nullptr) {
            options.output_name = argv[a];
        } else {
            return false;
        }
    }
    return options.width > 0 && options.output_name != nullptr &&
           !(options.quads && options.layout == Layout::Strip);
}

// Step `step` of `steps` along a colour gradient from 0 to 255.
std::uint8_t gradient(std::int64_t step, std::int64_t steps) {
    return static_cast<std::uint8_t>(step * 255 / steps);
}

// A whole number from 0 to range - 1. The modulo bias is harmless here, and unlike the
// standard distributions this gives the same values with every standard library.
std::int64_t draw(std::mt19937& generator, std::uint32_t range) {
    return generator() % range;
}

Vertex make_vertex(const Options& options, std::int64_t i, std::int64_t j,
                   std::mt19937& generator) {
    Vertex vertex{};
    vertex.x = static_cast<float>(i);
    vertex.y = static_cast<float>(j);
    vertex.z = 0.0f;
    vertex.red = gradient(i, options.width);
    vertex.green = gradient(j, options.height);
    vertex.blue = gradient(i + j, options.width + options.height);
    if (options.seeded) {
        // Multiples of 1/32 print exactly with five decimals. x and y move by less than half
        // a cell (0 to 15/32), so no cell folds over; z lies from -4 to 4 - 1/32.
        vertex.x += static_cast<float>(draw(generator, 16)) / 32.0f;
        vertex.y += static_cast<float>(draw(generator, 16)) / 32.0f;
        vertex.z = static_cast<float>(draw(generator, 256) - 128) / 32.0f;
        vertex.red = static_cast<std::uint8_t>(draw(generator, 256));
        vertex.green = static_cast<std::uint8_t>(draw(generator, 256));
        vertex.blue = static_cast<std::uint8_t>(draw(generator, 256));
    }
    return vertex;
}

std::string make_header(const Options& options, std::int64_t vertex_count,
                        std::int64_t face_count) {
    // LF line ends only: the converter recognises no other.
    std::string header = "ply\n";
    header += options.encoding == Encoding::Binary ? "format binary_little_endian 1.0\n"
                                                   : "format ascii 1.0\n";
    header += "element vertex " + std::to_string(vertex_count) + "\n";
    header += "property float x\nproperty float y\nproperty float z\n";
    if (options.layout == Layout::Face)
        header += "property float intensity\n";
    header += "property uchar red\nproperty uchar green\nproperty uchar blue\n";
    if (options.layout == Layout::Face) {
        header += "element face " + std::to_string(face_count) + "\n";
        header += "property list uchar int vertex_indices\n";
    } else {
        header += "element tristrips 1\nproperty list int int vertex_indices\n";
    }
    header += "end_header\n";
    return header;
}

void write_vertices(Writer& writer, const Options& options) {
    std::mt19937 generator(options.seed);
    for (std::int64_t j = 0; j <= options.height; ++j) {
        for (std::int64_t i = 0; i <= options.width; ++i) {
            const Vertex vertex = make_vertex(options, i, j, generator);
            put_float(writer, vertex.x, ' ');
            put_float(writer, vertex.y, ' ');
            put_float(writer, vertex.z, ' ');
            if (options.layout == Layout::Face)
                put_float(writer, intensity, ' ');
            put_uint8(writer, vertex.red, ' ');
            put_uint8(writer, vertex.green, ' ');
            put_uint8(writer, vertex.blue, '\n');
        }
    }
}

void write_face(Writer& writer, const std::int32_t* indices, std::uint8_t count) {
    put_uint8(writer, count, ' ');
    for (std::uint8_t k = 0; k < count; ++k)
        put_int32(writer, indices[k], k + 1 < count ? ' ' : '\n');
}

void write_faces(Writer& writer, const Options& options) {
    const std::int64_t row = options.width + 1;
    for (std::int64_t j = 0; j < options.height; ++j) {
        for (std::int64_t i = 0; i < options.width; ++i) {
            const auto a = static_cast<std::int32_t>(j * row + i);
            const std::int32_t b = a + 1;
            const auto d = static_cast<std::int32_t>(a + row);
            const std::int32_t c = d + 1;
            if (options.quads) {
                const std::int32_t quad[4] = {a, b, c, d};
                write_face(writer, quad, 4);
            } else {
                const std::int32_t first[3] = {a, b, c};
                const std::int32_t second[3] = {a, c, d};
                write_face(writer, first, 3);
                write_face(writer, second, 3);
            }
        }
    }
}

void write_strips(Writer& writer, const Options& options, std::int64_t strip_index_count) {
    const std::int64_t row = options.width + 1;
    put_int32(writer, static_cast<std::int32_t>(strip_index_count), ' ');
    for (std::int64_t j = 0; j < options.height; ++j) {
        if (j > 0)
            put_int32(writer, -1, ' ');
        for (std::int64_t i = 0; i <= options.width; ++i) {
            const bool last = j + 1 == options.height && i == options.width;
            put_int32(writer, static_cast<std::int32_t>((j + 1) * row + i), ' '); // top
            put_int32(writer, static_cast<std::int32_t>(j * row + i), last ? '\n' : ' ');
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!host_is_little_endian()) {
        std::fputs("make_mesh: needs a little-endian host\n", stderr);
        return 2;
    }
    Options options;
    if (!parse_options(argc, argv, options)) {
        print_usage();
        return 2;
    }

    const std::int64_t vertex_count = (options.width + 1) * (options.height + 1);
    const std::int64_t cell_count = options.width * options.height;
    const std::int64_t face_count = options.quads ? cell_count : 2 * cell_count;
    // Each row of cells gives 2*(W+1) indices, and one -1 stands between two rows.
    const std::int64_t strip_index_count =
        options.height * 2 * (options.width + 1) + (options.height - 1);
    const std::int64_t largest = options.layout == Layout::Face ? face_count : strip_index_count;
    // Indices and counts are 32-bit signed in the file.
    if (vertex_count > std::numeric_limits<std::int32_t>::max() ||
        largest > std::numeric_limits<std::int32_t>::max()) {
        std::fputs("make_mesh: grid too large for 32-bit indices\n", stderr);
        return 2;
    }

    Writer writer;
    writer.encoding = options.encoding;
    writer.file = std::fopen(options.output_name, "wb");
    if (writer.file == nullptr) {
        std::fprintf(stderr, "make_mesh: cannot create %s: %s\n", options.output_name,
                     std::strerror(errno));
        return 1;
    }
    put_text(writer, make_header(options, vertex_count, face_count));
    write_vertices(writer, options);
    if (options.layout == Layout::Face)
        write_faces(writer, options);
    else
        write_strips(writer, options, strip_index_count);
    flush(writer);
    if (std::fclose(writer.file) != 0)
        writer.failed = true;
    if (writer.failed) {
        std::fprintf(stderr, "make_mesh: cannot write %s\n", options.output_name);
        return 1;
    }
    return 0;
}
