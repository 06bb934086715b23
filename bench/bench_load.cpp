// Loads the shared libraries named on its command line and leaves: with
// bench_start.sh's run of it with no argument, what loading a library (and
// the libraries it needs) costs a process that does nothing else.
#include <cstdio>

#include <dlfcn.h>

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        // RTLD_NOW, as a program's own libraries are bound when they are Qt's or Poppler's.
        if (!dlopen(argv[i], RTLD_NOW | RTLD_LOCAL)) {
            std::fprintf(stderr, "bench_load: %s\n", dlerror());
            return 1;
        }
    }
    return 0;
}
