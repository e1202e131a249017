// The unit tests run on SDL's headless drivers, whatever the environment
// asks for: a real 8-bit screen in memory and a silent audio device.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

int main(int argc, char** argv)
{
    std::vector<std::string> names;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "SDL", 3) == 0)
            names.emplace_back(*e, std::strcspn(*e, "="));
    for (const std::string& n : names)
        unsetenv(n.c_str());
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
