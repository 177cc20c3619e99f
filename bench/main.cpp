// ombrix_bench: the library's figures on simulated interfaces that take one
// report per USB frame (framed devices, OMBRIX_SIM_WRITE_FRAMED). Not a test: it prints figures, ratios to the limits
// and whether each target is met, and always exits 0 when it ran.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace ombrix_bench {
void RunOutputBenchmarks(const std::string& only);
void RunSystemBenchmarks(const std::string& only);
void RunIdleCpuBenchmark(int count);
}  // namespace ombrix_bench

namespace {

std::string CpuModel() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown CPU";
}

}  // namespace

// With an argument only one group of figures is taken: polled, queue,
// latency, handover or cpu; "idle N" takes the idle-CPU figure for N links
// (32 by default) alone, for profiling.
int main(int argc, char** argv) {
  utsname system{};
  uname(&system);
  printf("ombrix_bench on %s, %ld cores, %s %s\n", CpuModel().c_str(), sysconf(_SC_NPROCESSORS_ONLN), system.sysname,
         system.release);
  if (argc > 1 && std::string(argv[1]) == "idle") {
    ombrix_bench::RunIdleCpuBenchmark(argc > 2 ? std::stoi(argv[2]) : 32);
    return 0;
  }
  std::string only = argc > 1 ? argv[1] : "";
  ombrix_bench::RunOutputBenchmarks(only);
  ombrix_bench::RunSystemBenchmarks(only);
  return 0;
}
