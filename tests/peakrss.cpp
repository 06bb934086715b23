/* peakrss PROGRAM [ARGUMENT...]: runs the program, its standard output
 * thrown away, and prints the largest resident set it and the processes it
 * waited for had, in KiB; exits with its status (125 when it could not run,
 * 126 when it did not end by itself).
 *
 * For the tests' memory figures: the kernel counts a process's resident
 * set from before its exec too, so a program started straight from a test
 * executable would show the test's own. This small program forks it from a
 * small address space. */
#include <fcntl.h>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 2)
        return 125;
    const pid_t pid = fork();
    if (pid < 0)
        return 125;
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDOUT_FILENO);
        execv(argv[1], argv + 1);
        _exit(125);
    }
    int status = 0;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0)
        ;
    printf("%ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 126;
}
