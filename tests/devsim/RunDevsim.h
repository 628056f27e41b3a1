#pragma once
// Runs the built devsim program with the given arguments and collects what it
// prints (stdout and stderr) and its exit code.

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace ovra::test {

struct DevsimRun {
    std::string output;
    int exitCode = -1;
};

inline DevsimRun RunDevsim(const std::string& arguments) {
    const char* bin = std::getenv("OVRA_BIN_DIR");
    const std::string command = std::string(bin ? bin : ".") + "/devsim " + arguments + " 2>&1";
    DevsimRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[512];
    std::size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) run.output.append(chunk, got);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace ovra::test
