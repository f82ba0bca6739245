// bench-peakrss PROGRAM ARGS...: runs the program and prints its peak resident memory in KiB.
//
// A child's peak (wait4's ru_maxrss) counts the memory of the process it was spawned from as it
// stood at the spawn, since the high-water mark survives exec. Spawned from a large benchmark
// driver, a small program would show the driver's size; spawned from this small one, its own.
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-peakrss PROGRAM ARGS...\n");
        return 2;
    }
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return 1;
    std::printf("%ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
