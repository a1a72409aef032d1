// The three standard descriptors made sure to be open before the program uses any descriptor.
#pragma once

// Opens /dev/null on each of 0, 1 and 2 that is not open. A parent may start the program with
// one of them closed (`plyconv >&-`); the first pipe or file the program opens would then take
// that number, and the keys would be read from, or the transcript written into, the program's
// own descriptors. Call it first thing in main, before anything opens a descriptor.
void open_missing_standard_descriptors();
