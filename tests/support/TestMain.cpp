#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
#ifdef _WIN32
    std::printf("[ovra] running %s on Windows (under Wine when cross-built)\n", argv[0]);
#endif
    return RUN_ALL_TESTS();
}
