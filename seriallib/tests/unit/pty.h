// A real pseudo-terminal pair for the C++ tests.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace pellusk::testing {

class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        char name[128];
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 &&
            ptsname_r(master_, name, sizeof name) == 0)
            slave_ = name;
    }
    ~Pty() { close(master_); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master() const { return master_; }
    const char* slave() const { return slave_.c_str(); }

  private:
    int master_;
    std::string slave_;
};

}  // namespace pellusk::testing
