// measure RUNS STDOUT_FILE COMMAND...: runs a command RUNS times with its
// output sent to STDOUT_FILE and prints the best wall time in seconds and the
// largest peak resident memory in KiB of the runs, as "seconds kib".
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: measure RUNS STDOUT_FILE COMMAND...\n");
        return 64;
    }
    const int runs = std::atoi(argv[1]);
    double best = 1e300;
    long peak = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) {
            const int fd = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 1);
            execvp(argv[3], argv + 3);
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "measure: %s failed\n", argv[3]);
            return 1;
        }
        best = std::min(best, elapsed.count());
        peak = std::max(peak, usage.ru_maxrss);
    }
    std::printf("%.4f %ld\n", best, peak);
    return 0;
}
