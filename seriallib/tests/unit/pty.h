// A real pseudo-terminal pair for the C++ tests.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace pellusk::testing {

struct Pty {
    Pty() : master(posix_openpt(O_RDWR | O_NOCTTY)) {
        if (grantpt(master) == 0 && unlockpt(master) == 0) path = ptsname(master);
    }
    ~Pty() { close(master); }
    const char* slave() const { return path.c_str(); }

    const int master;
    std::string path;
};

}  // namespace pellusk::testing
