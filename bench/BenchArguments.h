#pragma once

#include <cstdlib>

// The command line a workload's Qt application is made with; drawn off screen when asked. It
// must outlive the application, which keeps a reference to argc.
struct BenchArguments {
    explicit BenchArguments(bool offscreen) {
        if (offscreen)
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    BenchArguments(const BenchArguments&) = delete;
    BenchArguments& operator=(const BenchArguments&) = delete;
    int argc = 1;
    char name[12] = "ulen3-bench";
    char* argv[2] = {name, nullptr};
};
