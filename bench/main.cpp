// ombrix_bench: the library's figures on simulated interfaces that take one
// report per USB frame. Not a test: it prints figures, ratios to the limits
// and whether each target is met, and always exits 0 when it ran.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace ombrix_bench {
void RunOutputBenchmarks();
void RunSystemBenchmarks();
void RunIdleCpuBenchmark();
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

// With the argument "idle" only the idle-CPU figure is taken (for profiling).
int main(int argc, char** argv) {
  utsname system{};
  uname(&system);
  printf("ombrix_bench on %s, %ld cores, %s %s\n", CpuModel().c_str(), sysconf(_SC_NPROCESSORS_ONLN), system.sysname,
         system.release);
  if (argc > 1 && std::string(argv[1]) == "idle") {
    ombrix_bench::RunIdleCpuBenchmark();
    return 0;
  }
  ombrix_bench::RunOutputBenchmarks();
  ombrix_bench::RunSystemBenchmarks();
  return 0;
}
