// LogChannelWriter::Write round trips against the test reader running in a process of its
// own: each Write opens the two events and the section by name, waits for the buffer, fills
// the record, signals and closes; the reader copies the record and frees the buffer.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "ChannelTestReader.h"
#include "LogChannelWriter.h"

namespace {

void BM_LogChannelWriteRoundTrip(benchmark::State& state) {
  const std::wstring text = L"[QNV]" + std::wstring(static_cast<size_t>(state.range(0)) - 5, L'x');
  LogChannelWriter& writer = LogChannelWriter::Instance();
  for (auto _ : state) writer.Write(3, text.c_str());
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(std::to_string(state.range(0)) + "-byte texts, reader in another process");
}
BENCHMARK(BM_LogChannelWriteRoundTrip)->Arg(16)->Arg(200)->Arg(4000)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  char root_template[] = "/tmp/logchannel-bench.XXXXXX";
  if (mkdtemp(root_template) == nullptr) return 1;
  const std::string root = root_template;
  mkdir((root + "/drive_c").c_str(), 0755);
  setenv("PAL_ROOT", root.c_str(), 1);

  int ready[2];
  if (pipe(ready) != 0) return 1;
  const pid_t reader_pid = fork();
  if (reader_pid == 0) {
    ChannelTestReader reader;
    const char byte = reader.ok() ? 'r' : 'f';
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    for (;;) reader.Take(1000);
  }
  char byte = 0;
  if (read(ready[0], &byte, 1) != 1 || byte != 'r') return 1;

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  kill(reader_pid, SIGKILL);
  waitpid(reader_pid, nullptr, 0);
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return 0;
}
