// Compiled into every benchmark program (an interface source of
// kova_bench_reporters): notes the machine's load when the program starts and,
// when it ends, prints it on standard error (standard output may be redirected by
// the program) after the program's ratio table, with a warning when other work
// was competing for the processors, so that a reader can tell noise from cost.
// Thread-safety: runs only during static initialisation and at exit.
#include <cstdio>
#include <thread>

namespace kova::test::bench {
namespace {

// The 1-minute load average, or a negative value when the kernel does not tell.
double OneMinuteLoad() {
    double load = -1;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1;
        std::fclose(f);
    }
    return load;
}

class MachineLoadNote {
public:
    MachineLoadNote() : _atStart(OneMinuteLoad()) {}
    ~MachineLoadNote() {
        const double atEnd = OneMinuteLoad();
        const unsigned processors = std::thread::hardware_concurrency();
        if (_atStart < 0 || atEnd < 0 || processors == 0) return;
        std::fflush(stdout);  // the ratio table first, whatever the buffering
        std::fprintf(stderr, "\nmachine load (1-minute average / processors): %.2f/%u at start, %.2f/%u at end\n",
                     _atStart, processors, atEnd, processors);
        // The benchmark itself adds about 1; beyond half the processors more, its
        // threads share cores, caches and memory bandwidth with other work.
        const double busiest = _atStart > atEnd ? _atStart : atEnd;
        if (busiest > 1 + processors / 2.0) {
            std::fprintf(stderr,
                         "WARNING: the machine was busy; the ratios above carry noise of that other work. "
                         "Compare several runs, or run again on a quiet machine.\n");
        }
    }

private:
    const double _atStart;
};

const MachineLoadNote machineLoadNote;

}  // namespace
}  // namespace kova::test::bench
