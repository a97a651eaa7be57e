// A recording of a played tone by the recorder, for the tests that kill it and for the
// soak run: recorder_record FILE [--live] [--seconds N] [--report].
//
// Without --seconds it records until it is killed (at most ten minutes). With --seconds
// it plays that much of the tone (in real time with --live, else as fast as the recorder
// takes it), stops, and prints what was played and recorded; --report adds the resident
// memory after each minute of played audio.

#include <gst/gst.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "media/pipeline/MPRecorder.h"
#include "tests/media/pipeline/FakeAudioStream.h"

namespace {

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4;
}

} // namespace

int main(int argc, char** argv) {
    using namespace norv;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [--live] [--seconds N] [--report]\n", argv[0]);
        return 2;
    }
    bool live = false, report = false;
    double seconds = -1;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--live") == 0)
            live = true;
        else if (std::strcmp(argv[i], "--report") == 0)
            report = true;
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::stod(argv[++i]);
    }
    gst_init(nullptr, nullptr);

    com::HRESULT built = com::E_FAIL;
    auto recorder = media::MPRecorder::create(built);
    auto stream = com::makeObject<test::FakeAudioStream>();
    if (com::failed(built) ||
        com::failed(
            recorder->put_services(static_cast<typelib::IMPPlayerServices*>(stream.get()))) ||
        com::failed(recorder->startup()) ||
        com::failed(recorder->put_file(com::Bstr::fromUtf8(argv[1]))) ||
        recorder->record() != com::S_OK) {
        std::fprintf(stderr, "the recording did not start\n");
        return 1;
    }
    if (seconds < 0) {
        stream->startPlaying(440, live);
        std::this_thread::sleep_for(std::chrono::minutes(10));
        return 0;
    }
    int minute = 0;
    stream->play(440, seconds, live, [&](double played) {
        if (report && played + 1e-6 >= 60.0 * (minute + 1)) {
            ++minute;
            std::printf("minute %d: resident %ld KiB\n", minute, residentKiB());
            std::fflush(stdout);
        }
    });
    const com::HRESULT stopped = recorder->stop();
    const double recorded = double(stream->acceptedBytes(recorder.get())) /
                            (test::FakeAudioStream::rate * test::FakeAudioStream::frameBytes);
    std::printf("played %.3f s, handed to the recorder %.3f s, stop 0x%08X\n", seconds, recorded,
                static_cast<unsigned>(stopped));
    recorder->shutdown();
    return com::succeeded(stopped) ? 0 : 1;
}
