// The program a test starts by fork and exec while the library has ports open: it holds whatever
// descriptors the exec handed on until the test kills it.
#include <unistd.h>

int main() {
    for (;;) pause();
}
