// Shared main of every test program: Qt tests run on the offscreen platform
// with a private runtime directory, so no test needs a display.
#include <gtest/gtest.h>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!getenv("XDG_RUNTIME_DIR") || access(getenv("XDG_RUNTIME_DIR"), W_OK) != 0) {
        std::string dir = "/tmp/trackmill-test-runtime-" + std::to_string(getuid());
        mkdir(dir.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
