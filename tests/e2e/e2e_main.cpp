// The whole-process tests: e2e_test [gtest options] PATH_OF_PLYCONV [PATH_OF_MAKE_MESH].
#include <gtest/gtest.h>

#include <signal.h>

#include "tests/e2e/e2e_support.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv); // takes the gtest options out of argv
    if (argc >= 2)
        set_plyconv_path(argv[1]);
    if (argc >= 3)
        set_make_mesh_path(argv[2]);
    // A program that ends before it has read every key must fail a test, not end this one.
    ::signal(SIGPIPE, SIG_IGN);
    return RUN_ALL_TESTS();
}
