// Kernel objects on POSIX.
//
// A named object is one file below $PAL_ROOT/kernel_objects/<scope>/: its first page holds
// the shared state (kind, generation, the event's futex word, a robust process-shared
// mutex), a section's bytes follow. Files are never removed; whether an object exists is
// decided by open-file-description locks: every process that holds the object (handles,
// views, an owned mutex) holds a read lock on the life byte through its own descriptor, and
// the kernel drops it when the process dies. No lock on the life byte means no object, so a
// file left by killed processes is as good as absent. Deciding that, and re-initialising a
// file for a new object, happens under the robust guard mutex in the state page, which
// serialises the creators and openers of one name; a lock on the guard byte stands in for
// it while a new file gets its state page and guard.
//
// Each process keeps one descriptor and the mapped state per name, counts its references to
// the object, and takes the life lock only on the first one: opening an object that the
// process already holds costs no system call, and reopening a known name costs two fcntl
// calls instead of open/mmap (closing, one). The mapped state is reused while its file is
// the one the name stands for and its generation is unchanged.
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>

#include "machine.h"
#include "objects.h"
#include "pal/errors.h"

namespace pal {
namespace {

constexpr uint32_t kMagic = 0x314a424f;
constexpr size_t kStateBytes = 4096;
constexpr off_t kLifeByte = 0;
constexpr off_t kGuardByte = 1;
constexpr size_t kMaxCachedNames = 64;
// An auto-reset waiter woken by SetEvent may be killed before it consumes the signal; the
// others then sleep on a signalled event. Waiters look again at this period to cover that.
constexpr long kRecheckNanos = 200'000'000;

constexpr uint32_t kFlagManualReset = 1;
constexpr uint32_t kFlagReadOnly = 2;

// The state page. `guard` serialises the decisions about one name (exists? re-initialise?)
// without a system call when uncontended; it is set up once per file and survives every
// re-initialisation. Everything from `magic` on belongs to the current object.
struct SharedState {
  uint32_t guard_ready;
  pthread_mutex_t guard;  // robust: a process killed while deciding does not block the name
  uint32_t magic;
  uint32_t kind;
  uint64_t generation;
  uint64_t section_size;
  uint32_t flags;
  uint32_t signaled;  // event futex word
  uint32_t waiters;   // may overcount after a waiter was killed: that costs only a wake call
  uint32_t recursion;     // mutex depth, written by the owning thread only
  uint64_t owner_token;   // process that owns the mutex, see ProcessToken
  pthread_mutex_t mutex;  // robust: the kernel marks it abandoned when its owner thread dies
};
static_assert(sizeof(SharedState) <= kStateBytes);

// Identifies this process in the mutex state; unlike a pid it is never reused.
std::atomic<uint64_t> g_process_token{0};
// Bumped in the child of a fork, whose thread inherits the parent thread's cached id.
std::atomic<uint32_t> g_fork_epoch{0};

[[maybe_unused]] const bool g_atfork_registered = [] {
  pthread_atfork(nullptr, nullptr, [] {
    g_process_token.store(0, std::memory_order_relaxed);
    g_fork_epoch.fetch_add(1, std::memory_order_relaxed);
  });
  return true;
}();

// The kernel thread id, without a system call after the first.
pid_t CurrentThreadId() {
  struct Cached {
    uint32_t epoch = UINT32_MAX;
    pid_t tid = 0;
  };
  thread_local Cached cached;
  const uint32_t epoch = g_fork_epoch.load(std::memory_order_relaxed);
  if (cached.epoch != epoch) {
    cached.tid = gettid();
    cached.epoch = epoch;
  }
  return cached.tid;
}

uint64_t ProcessToken() {
  uint64_t token = g_process_token.load(std::memory_order_relaxed);
  if (token != 0) return token;
  std::random_device random;
  token = (static_cast<uint64_t>(random()) << 32) ^ random() ^ static_cast<uint64_t>(getpid());
  if (token == 0) token = 1;
  uint64_t expected = 0;
  if (!g_process_token.compare_exchange_strong(expected, token)) token = expected;
  return token;
}

// One object as this process sees it.
struct Entry {
  explicit Entry(std::string host_path) : path(std::move(host_path)) {}
  const std::string path;  // empty for an unnamed object
  std::mutex mu;           // guards everything below
  // Handles + views + an owned mutex. Going from or to 0 happens under `mu` together with
  // the life lock; a holder of a handle may add one more without it.
  std::atomic<int> refs{0};
  bool evicted = false;
  int fd = -1;
  SharedState* state = nullptr;
  uint8_t* data = nullptr;
  size_t data_bytes = 0;
  uint64_t data_generation = 0;
};

void DropMappings(Entry& e) {
  if (e.data != nullptr) munmap(e.data, e.data_bytes);
  if (e.state != nullptr) munmap(e.state, kStateBytes);
  e.data = nullptr;
  e.state = nullptr;
  e.data_bytes = 0;
}

void DropFile(Entry& e) {
  DropMappings(e);
  if (e.fd >= 0) close(e.fd);
  e.fd = -1;
}

struct Cache {
  std::mutex mu;
  std::unordered_map<std::string, std::shared_ptr<Entry>> entries;
};

Cache& GetCache() {
  static Cache* cache = new Cache;  // leaked: handles may be closed from static destructors
  return *cache;
}

// Forgets names no handle of this process uses, so that descriptors do not pile up.
void EvictIdle(Cache& cache, const Entry* keep) {
  for (auto it = cache.entries.begin(); it != cache.entries.end() && cache.entries.size() > kMaxCachedNames;) {
    Entry& e = *it->second;
    if (&e == keep) {
      ++it;
      continue;
    }
    std::unique_lock lock(e.mu, std::try_to_lock);
    if (lock.owns_lock() && e.refs == 0) {
      e.evicted = true;
      DropFile(e);
      lock.unlock();
      it = cache.entries.erase(it);
    } else {
      ++it;
    }
  }
}

std::shared_ptr<Entry> CachedEntry(const std::string& path) {
  Cache& cache = GetCache();
  std::lock_guard lock(cache.mu);
  std::shared_ptr<Entry>& slot = cache.entries[path];
  if (slot == nullptr) {
    slot = std::make_shared<Entry>(path);
    std::shared_ptr<Entry> fresh = slot;
    if (cache.entries.size() > kMaxCachedNames) EvictIdle(cache, fresh.get());
    return fresh;
  }
  return slot;
}

int RangeLock(int fd, short type, off_t at, bool wait) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = at;
  lock.l_len = 1;
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

std::error_code MakeFolder(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) == 0) {
    // The umask must not narrow a folder that every account creates objects in.
    chmod(path.c_str(), mode);
    return {};
  }
  if (errno == EEXIST) return {};
  return ErrnoError();
}

std::error_code MakeFolders(const std::string& file_path) {
  const std::string scope_dir = file_path.substr(0, file_path.rfind('/'));
  const std::string objects_dir = scope_dir.substr(0, scope_dir.rfind('/'));
  const std::string root = objects_dir.substr(0, objects_dir.rfind('/'));
  for (size_t at = 1; at <= root.size(); ++at) {
    if (at == root.size() || root[at] == '/') {
      std::string prefix = root.substr(0, at);
      if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return ErrnoError();
    }
  }
  if (std::error_code ec = MakeFolder(objects_dir, 01777)) return ec;
  const bool machine_wide = scope_dir.substr(scope_dir.rfind('/') + 1) == "global";
  return MakeFolder(scope_dir, machine_wide ? 01777 : 0700);
}

Result<std::string> HostPathOf(std::wstring_view name) {
  Result<ObjectName> parsed = ParseObjectName(name);
  if (!parsed.ok()) return parsed.error();
  std::string path = MachineRoot() + "/kernel_objects/";
  if (parsed->scope == ObjectScope::kMachine) {
    path += "global/";
  } else {
    path += "session-" + std::to_string(getuid()) + "/";
  }
  return path + ObjectFileName(parsed->base);
}

// ---- Shared state --------------------------------------------------------------------------

std::error_code InitMutex(pthread_mutex_t* mutex, int type) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, type);
  int rc = pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  return rc == 0 ? std::error_code() : ErrnoError(rc);
}

// Fills the state of a new object. The caller keeps everyone else away (the guard, or an
// object nobody else can reach yet). A mutex asked for by its first owner is taken here, so
// that no other process can get it between creation and ownership.
std::error_code InitState(Entry& e, const CreateRequest& request, uint64_t generation) {
  SharedState* s = e.state;
  std::memset(static_cast<void*>(&s->magic), 0, sizeof(SharedState) - offsetof(SharedState, magic));
  s->kind = static_cast<uint32_t>(request.kind);
  s->generation = generation;
  s->section_size = request.section_size;
  s->flags = (request.manual_reset ? kFlagManualReset : 0) | (request.read_only ? kFlagReadOnly : 0);
  if (request.kind == ObjectKind::kEvent) s->signaled = request.initial_state ? 1 : 0;
  if (request.kind == ObjectKind::kMutex) {
    if (std::error_code ec = InitMutex(&s->mutex, PTHREAD_MUTEX_RECURSIVE)) return ec;
    if (request.initial_state) {
      pthread_mutex_lock(&s->mutex);
      s->recursion = 1;
      s->owner_token = ProcessToken();
      ++e.refs;
    }
  }
  std::atomic_ref<uint32_t>(s->magic).store(kMagic, std::memory_order_release);
  return {};
}

// Opens the name's file and maps its state page; a new file first gets its page and guard,
// under a lock on the file itself since the guard does not exist yet.
std::error_code PrepareFile(Entry& e, bool create) {
  if (e.fd < 0) {
    const int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
    int fd = open(e.path.c_str(), flags, 0600);
    if (fd < 0 && errno == ENOENT && create) {
      if (std::error_code ec = MakeFolders(e.path)) return ec;
      fd = open(e.path.c_str(), flags, 0600);
    }
    if (fd < 0) return ErrnoError();
    e.fd = fd;
  }
  if (e.state == nullptr) {
    struct stat st {};
    if (fstat(e.fd, &st) != 0) return ErrnoError();
    if (static_cast<size_t>(st.st_size) < kStateBytes) {
      if (!create) return Win32Error(ERROR_FILE_NOT_FOUND);  // its creator has not got far yet
      if (int err = RangeLock(e.fd, F_WRLCK, kGuardByte, true)) return ErrnoError(err);
      std::error_code ec;
      if (fstat(e.fd, &st) != 0) {
        ec = ErrnoError();
      } else if (static_cast<size_t>(st.st_size) < kStateBytes && ftruncate(e.fd, kStateBytes) != 0) {
        ec = ErrnoError();
      }
      RangeLock(e.fd, F_UNLCK, kGuardByte, false);
      if (ec) return ec;
    }
    void* at = mmap(nullptr, kStateBytes, PROT_READ | PROT_WRITE, MAP_SHARED, e.fd, 0);
    if (at == MAP_FAILED) return ErrnoError();
    e.state = static_cast<SharedState*>(at);
  }
  std::atomic_ref<uint32_t> ready(e.state->guard_ready);
  if (ready.load(std::memory_order_acquire) == kMagic) return {};
  if (!create) return Win32Error(ERROR_FILE_NOT_FOUND);
  if (int err = RangeLock(e.fd, F_WRLCK, kGuardByte, true)) return ErrnoError(err);
  std::error_code ec;
  if (ready.load(std::memory_order_acquire) != kMagic) {
    ec = InitMutex(&e.state->guard, PTHREAD_MUTEX_NORMAL);
    if (!ec) ready.store(kMagic, std::memory_order_release);
  }
  RangeLock(e.fd, F_UNLCK, kGuardByte, false);
  return ec;
}

// Turns the file of a dead object into a new object.
std::error_code Reinitialise(Entry& e, const CreateRequest& request) {
  uint64_t generation = 1;
  if (e.state->magic == kMagic) generation = e.state->generation + 1;
  // Cutting back to the state page zeroes whatever a former section held.
  if (ftruncate(e.fd, kStateBytes) != 0) return ErrnoError();
  if (request.kind == ObjectKind::kSection &&
      ftruncate(e.fd, static_cast<off_t>(kStateBytes + request.section_size)) != 0) {
    return ErrnoError();
  }
  fchmod(e.fd, request.exposure == Exposure::kEveryone ? 0666 : 0600);
  return InitState(e, request, generation);
}

// Whether another descriptor holds the life lock: a holder of the object in some process.
Result<bool> HeldElsewhere(int fd) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = kLifeByte;
  probe.l_len = 1;
  while (fcntl(fd, F_OFD_GETLK, &probe) != 0) {
    if (errno != EINTR) return ErrnoError();
  }
  return probe.l_type != F_UNLCK;
}

// Decides, under the guard, whether the object exists, and takes the life lock. Holders
// only ever join under the guard, so what the probe saw stays true until the lock is taken;
// one that leaves meanwhile leaves after this process joined, as far as anyone can tell.
std::error_code DecideUnderGuard(Entry& e, ObjectKind kind, const CreateRequest* create, bool* created) {
  Result<bool> alive = HeldElsewhere(e.fd);
  if (!alive.ok()) return alive.error();
  if (!*alive) {
    // Nobody holds the object: it does not exist, whatever the file still holds.
    if (create == nullptr) return Win32Error(ERROR_FILE_NOT_FOUND);
    std::error_code ec = Reinitialise(e, *create);
    if (!ec && RangeLock(e.fd, F_RDLCK, kLifeByte, false) != 0) ec = ErrnoError();
    if (ec) return ec;
    *created = true;
    return {};
  }
  if (e.state->magic != kMagic || e.state->kind != static_cast<uint32_t>(kind)) {
    return Win32Error(ERROR_INVALID_HANDLE);
  }
  if (int rc = RangeLock(e.fd, F_RDLCK, kLifeByte, false)) return ErrnoError(rc);
  *created = false;
  return {};
}

std::error_code AttachOnce(Entry& e, ObjectKind kind, const CreateRequest* create, bool* created) {
  if (std::error_code ec = PrepareFile(e, create != nullptr)) return ec;
  pthread_mutex_t* guard = &e.state->guard;
  int rc = pthread_mutex_lock(guard);
  // A process killed while deciding left nothing half done that matters: a half-built
  // object has no life lock, so it is dead and is built again.
  if (rc == EOWNERDEAD) rc = pthread_mutex_consistent(guard);
  if (rc != 0) return ErrnoError(rc);
  std::error_code ec = DecideUnderGuard(e, kind, create, created);
  pthread_mutex_unlock(guard);
  return ec;
}

bool FileWasRemoved(const Entry& e) {
  struct stat st {};
  return e.fd >= 0 && (fstat(e.fd, &st) != 0 || st.st_nlink == 0);
}

// Makes this process a holder of the named object (its first reference). Caller holds e.mu.
std::error_code Attach(Entry& e, ObjectKind kind, const CreateRequest* create, bool* created) {
  // A cached file stops standing for its name only when someone removes the machine root's
  // folders. Checking that costs a system call, so it is done before creating (where a
  // stale file would hide the new object) and when a name seems absent, not on every open.
  if (create != nullptr && FileWasRemoved(e)) DropFile(e);
  std::error_code ec = AttachOnce(e, kind, create, created);
  if (ec == Win32Error(ERROR_FILE_NOT_FOUND) && FileWasRemoved(e)) {
    DropFile(e);
    ec = AttachOnce(e, kind, create, created);
  }
  return ec;
}

// For a caller that already holds a reference (a handle), so the count cannot be 0 here.
void AddRef(Entry& e) { e.refs.fetch_add(1); }

void Unref(Entry& e) {
  std::lock_guard lock(e.mu);
  if (--e.refs > 0) return;
  if (e.path.empty()) {
    DropMappings(e);
  } else {
    // From here on a creator may find the object dead and reuse the file; this process
    // touches the state again only after Attach.
    RangeLock(e.fd, F_UNLCK, kLifeByte, false);
  }
}

// ---- Waiting -------------------------------------------------------------------------------

timespec Now() {
  timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

timespec Plus(timespec t, long long nanos) {
  nanos += t.tv_nsec;
  t.tv_sec += static_cast<time_t>(nanos / 1'000'000'000);
  t.tv_nsec = static_cast<long>(nanos % 1'000'000'000);
  return t;
}

bool Before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

struct Deadline {
  explicit Deadline(DWORD timeout_ms) : infinite(timeout_ms == INFINITE) {
    if (!infinite) at = Plus(Now(), static_cast<long long>(timeout_ms) * 1'000'000);
  }
  bool infinite;
  timespec at{};
};

void FutexWait(uint32_t* word, uint32_t expected, const timespec& until) {
  syscall(SYS_futex, word, FUTEX_WAIT_BITSET, expected, &until, nullptr, FUTEX_BITSET_MATCH_ANY);
}

void FutexWake(uint32_t* word, int count) { syscall(SYS_futex, word, FUTEX_WAKE, count, nullptr, nullptr, 0); }

int TimedLock(pthread_mutex_t* mutex, DWORD timeout_ms) {
  const Deadline deadline(timeout_ms);
#if defined(__SANITIZE_THREAD__)
  // This compiler's ThreadSanitizer does not see pthread_mutex_clocklock, nor an abandoned
  // mutex taken by pthread_mutex_timedlock; its build polls with trylock, which it follows.
  for (;;) {
    int rc = pthread_mutex_trylock(mutex);
    if (rc != EBUSY) return rc;
    if (!Before(Now(), deadline.at)) return ETIMEDOUT;
    usleep(1000);
  }
#else
  return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline.at);
#endif
}

class KernelObjectHandle final : public HandleObject {
 public:
  KernelObjectHandle(HandleKind kind, std::shared_ptr<Entry> entry, DWORD access)
      : HandleObject(kind), entry_(std::move(entry)), access_(access) {}
  ~KernelObjectHandle() override { Unref(*entry_); }

  Entry& entry() const { return *entry_; }
  std::shared_ptr<Entry> shared_entry() const { return entry_; }
  SharedState* state() const { return entry_->state; }  // stable while the handle lives
  DWORD access() const { return access_; }

  WaitResult Wait(DWORD timeout_ms) override {
    if (kind() == HandleKind::kSection) return HandleObject::Wait(timeout_ms);  // not waitable
    if ((access_ & SYNCHRONIZE) == 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return WaitResult::kFailed;
    }
    return kind() == HandleKind::kMutex ? WaitMutex(timeout_ms) : WaitEvent(timeout_ms);
  }

 private:
  WaitResult WaitEvent(DWORD timeout_ms) {
    SharedState* s = state();
    std::atomic_ref<uint32_t> signaled(s->signaled);
    std::atomic_ref<uint32_t> waiters(s->waiters);
    const bool manual = (s->flags & kFlagManualReset) != 0;
    const Deadline deadline(timeout_ms);
    for (;;) {
      if (manual) {
        if (signaled.load() != 0) return WaitResult::kSignaled;
      } else {
        uint32_t expected = 1;
        if (signaled.compare_exchange_strong(expected, 0)) return WaitResult::kSignaled;
      }
      const timespec now = Now();
      if (!deadline.infinite && !Before(now, deadline.at)) return WaitResult::kTimeout;
      timespec until = Plus(now, kRecheckNanos);
      if (!deadline.infinite && Before(deadline.at, until)) until = deadline.at;
      // The waiter count goes up before the last look at the word, and SetEvent stores the
      // word before it reads the count: one of the two always sees the other.
      waiters.fetch_add(1);
      if (signaled.load() == 0) FutexWait(&s->signaled, 0, until);
      waiters.fetch_sub(1);
    }
  }

  WaitResult WaitMutex(DWORD timeout_ms) {
    SharedState* s = state();
    int rc;
    if (timeout_ms == INFINITE) {
      rc = pthread_mutex_lock(&s->mutex);
    } else if (timeout_ms == 0) {
      rc = pthread_mutex_trylock(&s->mutex);
      if (rc == EBUSY) rc = ETIMEDOUT;
    } else {
      rc = TimedLock(&s->mutex, timeout_ms);
    }
    if (rc == ETIMEDOUT) return WaitResult::kTimeout;
    if (rc != 0 && rc != EOWNERDEAD) {
      SetLastError(rc == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_GEN_FAILURE);
      return WaitResult::kFailed;
    }
    const uint64_t token = ProcessToken();
    if (rc == EOWNERDEAD) {
      pthread_mutex_consistent(&s->mutex);
      // A thread of this process that died owning the mutex left its reference behind:
      // the new owner takes that one over instead of adding another.
      const bool inherited = s->owner_token == token;
      s->recursion = 1;
      s->owner_token = token;
      if (!inherited) AddRef(entry());
      return WaitResult::kAbandoned;
    }
    if (++s->recursion == 1) {
      s->owner_token = token;
      // Owning keeps the object alive: its mutex sits in this thread's robust list.
      AddRef(entry());
    }
    return WaitResult::kSignaled;
  }

  std::shared_ptr<Entry> entry_;
  DWORD access_;
};

HandleKind HandleKindOf(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::kMutex: return HandleKind::kMutex;
    case ObjectKind::kEvent: return HandleKind::kEvent;
    case ObjectKind::kSection: break;
  }
  return HandleKind::kSection;
}

DWORD FullAccess(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::kMutex: return MUTEX_ALL_ACCESS;
    case ObjectKind::kEvent: return EVENT_ALL_ACCESS;
    case ObjectKind::kSection: break;
  }
  return FILE_MAP_ALL_ACCESS;
}

Result<Created> CreateUnnamed(const CreateRequest& request) {
  auto entry = std::make_shared<Entry>(std::string());
  void* state = mmap(nullptr, kStateBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (state == MAP_FAILED) return ErrnoError();
  entry->state = static_cast<SharedState*>(state);
  if (request.kind == ObjectKind::kSection) {
    void* data = mmap(nullptr, request.section_size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) {
      std::error_code ec = ErrnoError();
      DropMappings(*entry);
      return ec;
    }
    entry->data = static_cast<uint8_t*>(data);
    entry->data_bytes = request.section_size;
    entry->data_generation = 1;
  }
  {
    std::lock_guard lock(entry->mu);
    if (std::error_code ec = InitState(*entry, request, 1)) {
      DropMappings(*entry);
      return ec;
    }
    ++entry->refs;
  }
  HANDLE h = IssueHandle(std::make_unique<KernelObjectHandle>(HandleKindOf(request.kind), entry,
                                                               FullAccess(request.kind)));
  return Created{h, false};
}

// Takes a reference to the named object for a new handle, creating it if asked to.
Result<std::shared_ptr<Entry>> Reference(ObjectKind kind, std::wstring_view name, const CreateRequest* create,
                                         bool* created) {
  Result<std::string> path = HostPathOf(name);
  if (!path.ok()) return path.error();
  for (;;) {
    std::shared_ptr<Entry> entry = CachedEntry(*path);
    std::lock_guard lock(entry->mu);
    if (entry->evicted) continue;
    *created = false;
    if (entry->refs == 0) {
      if (std::error_code ec = Attach(*entry, kind, create, created)) return ec;
    } else if (entry->state->kind != static_cast<uint32_t>(kind)) {
      return Win32Error(ERROR_INVALID_HANDLE);
    }
    ++entry->refs;
    return entry;
  }
}

std::shared_ptr<KernelObjectHandle> LookupObject(HANDLE h) {
  std::shared_ptr<HandleObject> object = LookupHandle(h);
  if (object == nullptr) return nullptr;
  switch (object->kind()) {
    case HandleKind::kMutex:
    case HandleKind::kEvent:
    case HandleKind::kSection: return std::static_pointer_cast<KernelObjectHandle>(object);
    default: break;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

struct View {
  std::shared_ptr<Entry> entry;
  int count = 0;
};

struct Views {
  std::mutex mu;
  std::unordered_map<const void*, View> by_address;
};

Views& GetViews() {
  static Views* views = new Views;
  return *views;
}

}  // namespace

Result<Created> CreateKernelObject(const CreateRequest& request) {
  if (request.name.empty()) return CreateUnnamed(request);
  bool created = false;
  Result<std::shared_ptr<Entry>> entry = Reference(request.kind, request.name, &request, &created);
  if (!entry.ok()) return entry.error();
  HANDLE h = IssueHandle(std::make_unique<KernelObjectHandle>(HandleKindOf(request.kind), std::move(*entry),
                                                               FullAccess(request.kind)));
  return Created{h, !created};
}

Result<HANDLE> OpenKernelObject(ObjectKind kind, DWORD access, std::wstring_view name) {
  if (name.empty()) return Win32Error(ERROR_INVALID_PARAMETER);
  bool created = false;
  Result<std::shared_ptr<Entry>> entry = Reference(kind, name, nullptr, &created);
  if (!entry.ok()) return entry.error();
  // Section rights imply what the mapping calls check; the generic ones widen to the kind's own.
  if (kind == ObjectKind::kSection && (access & FILE_MAP_WRITE) != 0) access |= FILE_MAP_READ;
  return IssueHandle(std::make_unique<KernelObjectHandle>(HandleKindOf(kind), std::move(*entry), access));
}

std::error_code SetEventState(HANDLE event, bool signaled) {
  std::shared_ptr<KernelObjectHandle> h = LookupHandleAs<KernelObjectHandle>(event, HandleKind::kEvent);
  if (h == nullptr) return Win32Error(ERROR_INVALID_HANDLE);
  if ((h->access() & EVENT_MODIFY_STATE) == 0) return Win32Error(ERROR_ACCESS_DENIED);
  SharedState* s = h->state();
  std::atomic_ref<uint32_t> word(s->signaled);
  if (!signaled) {
    word.store(0);
    return {};
  }
  word.store(1);
  if (std::atomic_ref<uint32_t>(s->waiters).load() != 0) {
    FutexWake(&s->signaled, (s->flags & kFlagManualReset) != 0 ? INT_MAX : 1);
  }
  return {};
}

std::error_code ReleaseMutexOwnership(HANDLE mutex) {
  std::shared_ptr<KernelObjectHandle> h = LookupHandleAs<KernelObjectHandle>(mutex, HandleKind::kMutex);
  if (h == nullptr) return Win32Error(ERROR_INVALID_HANDLE);
  SharedState* s = h->state();
  // The robust futex word carries the owner's thread id (the kernel clears it when the
  // owner dies), so this tells the owner apart even from a thread that reuses a dead id.
  const int word = std::atomic_ref<int>(s->mutex.__data.__lock).load();
  if ((static_cast<unsigned>(word) & FUTEX_TID_MASK) != static_cast<unsigned>(CurrentThreadId())) {
    return Win32Error(ERROR_NOT_OWNER);
  }
  const bool last = --s->recursion == 0;
  if (last) s->owner_token = 0;
  if (int rc = pthread_mutex_unlock(&s->mutex)) {
    if (last) s->owner_token = ProcessToken();
    ++s->recursion;
    return ErrnoError(rc);
  }
  if (last) Unref(h->entry());
  return {};
}

Result<void*> MapSectionView(HANDLE section, DWORD access, uint64_t offset, uint64_t length) {
  std::shared_ptr<KernelObjectHandle> h = LookupHandleAs<KernelObjectHandle>(section, HandleKind::kSection);
  if (h == nullptr) return Win32Error(ERROR_INVALID_HANDLE);
  Entry& e = h->entry();
  const bool wants_write = (access & FILE_MAP_WRITE) != 0;
  const bool wants_read = (access & (FILE_MAP_READ | FILE_MAP_WRITE | FILE_MAP_COPY)) != 0;
  if (!wants_read || (wants_write && (h->access() & FILE_MAP_WRITE) == 0) ||
      (!wants_write && (h->access() & (FILE_MAP_READ | FILE_MAP_WRITE)) == 0)) {
    return Win32Error(ERROR_ACCESS_DENIED);
  }
  uint8_t* base = nullptr;
  {
    std::lock_guard lock(e.mu);
    const SharedState* s = e.state;
    if (wants_write && (s->flags & kFlagReadOnly) != 0) return Win32Error(ERROR_ACCESS_DENIED);
    if (offset >= s->section_size || length > s->section_size - offset) return Win32Error(ERROR_ACCESS_DENIED);
    if (e.data == nullptr || e.data_generation != s->generation) {
      // Only a mapping left from an earlier object of this name is replaced here: views of
      // the current one keep it alive, so its generation cannot change under them.
      if (e.data != nullptr) munmap(e.data, e.data_bytes);
      e.data = nullptr;
      void* at = mmap(nullptr, s->section_size, PROT_READ | PROT_WRITE, MAP_SHARED, e.fd,
                      static_cast<off_t>(kStateBytes));
      if (at == MAP_FAILED) return ErrnoError();
      e.data = static_cast<uint8_t*>(at);
      e.data_bytes = s->section_size;
      e.data_generation = s->generation;
    }
    base = e.data + offset;
    ++e.refs;
  }
  Views& views = GetViews();
  std::lock_guard lock(views.mu);
  View& view = views.by_address[base];
  view.entry = h->shared_entry();
  ++view.count;
  return static_cast<void*>(base);
}

std::error_code UnmapSectionView(const void* address) {
  std::shared_ptr<Entry> entry;
  {
    Views& views = GetViews();
    std::lock_guard lock(views.mu);
    auto it = views.by_address.find(address);
    if (it == views.by_address.end()) return Win32Error(ERROR_INVALID_ADDRESS);
    entry = it->second.entry;
    if (--it->second.count == 0) views.by_address.erase(it);
  }
  Unref(*entry);
  return {};
}

std::error_code ApplyExposure(HANDLE object, Exposure exposure) {
  std::shared_ptr<KernelObjectHandle> h = LookupObject(object);
  if (h == nullptr) return Win32Error(ERROR_INVALID_HANDLE);
  Entry& e = h->entry();
  std::lock_guard lock(e.mu);
  if (e.path.empty()) return {};
  if (fchmod(e.fd, exposure == Exposure::kEveryone ? 0666 : 0600) != 0) return ErrnoError();
  return {};
}

}  // namespace pal
