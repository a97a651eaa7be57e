// A process with two settings parts bound to no player: each makes sure of the skin
// package. It prints the package's path and "ready", then waits for SIGUSR1, on which it
// returns from main; any end signal ends it as the signal would.

#include <csignal>
#include <cstdio>

#include "media/player/MPSettings.h"
#include "media/player/SkinPackage.h"

using namespace norv::media;

int main() {
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
    std::printf("%s\nready\n", SkinPackage::path().c_str());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&wait, &sig);
    return 0;
}
