// A process with two settings parts bound to no player: each makes sure of the skin
// package. It prints the package's path and "ready", then waits for SIGUSR1, on which it
// returns from main; any end signal ends it as the signal would. With the argument "fork"
// it first forks a child that exits at once (as a child that fails to start a program
// does), waits for it and prints "child exited".

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "media/player/MPSettings.h"
#include "media/player/SkinPackage.h"

using namespace norv::media;

int main(int argc, char** argv) {
    sigset_t wait;
    sigemptyset(&wait);
    sigaddset(&wait, SIGUSR1);
    sigprocmask(SIG_BLOCK, &wait, nullptr);

    auto first = makeObject<MPSettings>();
    auto second = makeObject<MPSettings>();
    if (first->put_services(nullptr) != S_OK || second->put_services(nullptr) != S_OK) {
        std::printf("no package\n");
        return 2;
    }
    if (argc > 1 && std::string_view(argv[1]) == "fork") {
        pid_t child = fork();
        if (child == 0)
            std::exit(0);
        int status = 0;
        waitpid(child, &status, 0);
        std::printf("child exited\n");
    }
    std::printf("%s\nready\n", SkinPackage::path().c_str());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&wait, &sig);
    return 0;
}
