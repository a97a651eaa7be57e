// Prints the startup address and the caption the program carries, one line each.
#include <cstdio>

#include "res/Resources.h"

int main() {
    for (unsigned id : {norv::res::IDS_STARTUP_URI, norv::res::IDS_CAPTION}) {
        auto text = norv::res::loadString(id);
        std::printf("%u=%s\n", id, text ? text->c_str() : "(none)");
    }
    return 0;
}
