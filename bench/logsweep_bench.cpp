// Trimming a log folder of many "*.log" files down to the file limit, against a minimal
// deletion of the same files ordered by creation time (readdir, statx for the birth time,
// sort, unlink): what the unlinks and the stamps alone cost. Each measurement runs in a
// fresh process, so that its peak resident size is its own.
//
//   logsweep_bench [--bytes N] [count...]
//     count: default 10000 100000; three rounds each, medians shown
//     --bytes: content of each file (default 0). With content, every unlink also frees a
//     data block, which on a disk mounted with online discard costs milliseconds and hides
//     everything else.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "retention.h"

extern char** environ;

namespace {

constexpr int kFileLimit = 500;
constexpr int kSizeLimitMB = 5000;
constexpr int kRounds = 3;

std::string LogFolder(const std::string& root) { return root + "/drive_c/ProgramData/NORVANTE/TQ770/log"; }

size_t g_bytes = 0;

void Populate(const std::string& root, int count) {
  const std::string content(g_bytes, 'x');
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(LogFolder(root));
  char name[64];
  for (int i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "/Logsink_%06d.log", i);
    int fd = ::open((LogFolder(root) + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) std::abort();
    ::close(fd);
  }
  ::sync();
}

size_t CountLeft(const std::string& root) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(LogFolder(root))) n += entry.is_regular_file();
  return n;
}

// ---- Child side: one measured run --------------------------------------------------------

int RunTrim(const std::string& root) {
  ::setenv("PAL_ROOT", root.c_str(), 1);
  int status = DeleteOldLogFiles(L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\", L"*.log", kFileLimit, kSizeLimitMB);
  return (status == LOGSWEEP_OK || status == LOGSWEEP_NO_LOG_FILES) ? 0 : 1;
}

int RunPlain(const std::string& root) {
  struct Entry {
    long long seconds;
    size_t order;
    std::string name;
  };
  const std::string folder = LogFolder(root);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 1;
  int dir_fd = ::dirfd(dir);
  std::vector<Entry> entries;
  while (struct dirent* d = ::readdir(dir)) {
    size_t len = std::strlen(d->d_name);
    if (len < 4 || std::strcmp(d->d_name + len - 4, ".log") != 0) continue;
    struct statx st;
    if (::statx(dir_fd, d->d_name, AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_SIZE, &st) != 0) continue;
    entries.push_back({static_cast<long long>(st.stx_btime.tv_sec), entries.size(), d->d_name});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.seconds != b.seconds ? a.seconds < b.seconds : a.order < b.order;
  });
  size_t remove = entries.size() > kFileLimit ? entries.size() - kFileLimit : 0;
  for (size_t i = 0; i < remove; ++i) {
    if (::unlinkat(dir_fd, entries[i].name.c_str(), 0) != 0) return 1;
  }
  ::closedir(dir);
  return 0;
}

// ---- Parent side -------------------------------------------------------------------------

struct Measure {
  double seconds;
  long max_rss_kb;
};

Measure Spawn(const char* mode, const std::string& root) {
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::vector<char*> argv = {self.data(), const_cast<char*>("--run"), const_cast<char*>(mode),
                             const_cast<char*>(root.c_str()), nullptr};
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (::posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) std::abort();
  int status = 0;
  struct rusage usage;
  ::wait4(pid, &status, 0, &usage);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s run failed (status %d)\n", mode, status);
    std::exit(1);
  }
  return {seconds, usage.ru_maxrss};
}

template <class T>
T Median(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--run") == 0) {
    return std::strcmp(argv[2], "trim") == 0 ? RunTrim(argv[3]) : RunPlain(argv[3]);
  }
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--bytes") == 0 && i + 1 < argc) {
      g_bytes = static_cast<size_t>(std::atol(argv[++i]));
    } else {
      counts.push_back(std::atoi(argv[i]));
    }
  }
  if (counts.empty()) counts = {10000, 100000};

  const char* tmp = std::getenv("TMPDIR");
  std::string root = std::string(tmp != nullptr ? tmp : "/tmp") + "/logsweep_bench." + std::to_string(::getpid());
  std::printf("%-8s %12s %12s %7s %14s %14s\n", "files", "Logsweep s", "plain s", "ratio", "Logsweep KiB",
              "plain KiB");
  for (int count : counts) {
    std::vector<double> trim_s, plain_s;
    std::vector<long> trim_kb, plain_kb;
    for (int round = 0; round < kRounds; ++round) {
      // Alternate the order so that neither side always meets the warmer caches.
      for (int side = 0; side < 2; ++side) {
        bool trim = (side + round) % 2 == 0;
        Populate(root, count);
        Measure m = Spawn(trim ? "trim" : "plain", root);
        if (CountLeft(root) != static_cast<size_t>(std::min(count, kFileLimit))) {
          std::fprintf(stderr, "%s left %zu files\n", trim ? "trim" : "plain", CountLeft(root));
          return 1;
        }
        (trim ? trim_s : plain_s).push_back(m.seconds);
        (trim ? trim_kb : plain_kb).push_back(m.max_rss_kb);
      }
    }
    double t = Median(trim_s), p = Median(plain_s);
    std::printf("%-8d %12.3f %12.3f %7.2f %14ld %14ld\n", count, t, p, t / p, Median(trim_kb), Median(plain_kb));
    std::fflush(stdout);
  }
  std::filesystem::remove_all(root);
  return 0;
}
