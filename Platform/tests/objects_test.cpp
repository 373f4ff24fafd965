#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "objects.h"
#include "pal/errors.h"
#include "pal_testing.h"
#include "windows.h"

namespace {

using pal_testing::Child;
using pal_testing::ChildAwait;
using pal_testing::ChildSay;
using pal_testing::ScopedMachineRoot;

// Object names in these tests are ASCII.
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

// A name no other test uses, so that tests may share a machine root without seeing each other.
std::wstring UniqueName(const char* prefix) {
  static std::atomic<int> counter{0};
  return Wide(std::string(prefix) + std::to_string(getpid()) + "_" + std::to_string(counter++));
}

// Security attributes with a present NULL DACL, as the programs build them.
struct OpenToEveryone {
  OpenToEveryone() {
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    attributes = {sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
  }
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes;
};

enum class Kind { kMutex, kEvent, kSection };

HANDLE CreateOf(Kind kind, const std::wstring& name) {
  switch (kind) {
    case Kind::kMutex: return CreateMutexW(nullptr, FALSE, name.c_str());
    case Kind::kEvent: return CreateEventW(nullptr, FALSE, FALSE, name.c_str());
    case Kind::kSection: return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
  }
  return nullptr;
}

HANDLE OpenOf(Kind kind, const std::wstring& name) {
  switch (kind) {
    case Kind::kMutex: return OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str());
    case Kind::kEvent: return OpenEventW(EVENT_ALL_ACCESS, FALSE, name.c_str());
    case Kind::kSection: return OpenFileMappingW(FILE_MAP_WRITE, FALSE, name.c_str());
  }
  return nullptr;
}

Kind KindFromArg(const std::string& arg) {
  return arg == "mutex" ? Kind::kMutex : arg == "event" ? Kind::kEvent : Kind::kSection;
}

// Creates (or opens) an object, fills a section's first bytes, owns a mutex, then holds it
// until killed or told to close.
PAL_CHILD(hold_object) {
  Kind kind = KindFromArg(args[0]);
  std::wstring name = Wide(args[1]);
  HANDLE h = CreateOf(kind, name);
  if (h == nullptr) return 1;
  if (kind == Kind::kSection) {
    void* view = MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, 0);
    if (view == nullptr) return 2;
    std::memcpy(view, "stale", 6);
    UnmapViewOfFile(view);
  }
  if (kind == Kind::kMutex && WaitForSingleObject(h, INFINITE) != WAIT_OBJECT_0) return 3;
  ChildSay("holding");
  ChildAwait();
  CloseHandle(h);
  ChildSay("closed");
  ChildAwait();
  return 0;
}

class ObjectsTest : public ::testing::Test {
 protected:
  ScopedMachineRoot root_;
};

TEST_F(ObjectsTest, ObjectOfAKilledOnlyHolderIsGone) {
  for (const char* kind_name : {"mutex", "event", "section"}) {
    SCOPED_TRACE(kind_name);
    const Kind kind = KindFromArg(kind_name);
    const std::wstring name = L"Global\\" + UniqueName("killed");
    Child child("hold_object", {kind_name, Narrow(name)});
    ASSERT_EQ(child.ReadLine(), "holding");
    HANDLE seen = OpenOf(kind, name);
    ASSERT_NE(seen, nullptr) << GetLastError();
    CloseHandle(seen);

    child.Kill(SIGKILL);
    child.Wait();
    SetLastError(0);
    EXPECT_EQ(OpenOf(kind, name), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HANDLE fresh = CreateOf(kind, name);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    if (kind == Kind::kMutex) {
      EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_OBJECT_0) << "a fresh mutex is not abandoned";
      EXPECT_TRUE(ReleaseMutex(fresh));
    }
    if (kind == Kind::kSection) {
      auto* view = static_cast<const char*>(MapViewOfFile(fresh, FILE_MAP_READ, 0, 0, 0));
      ASSERT_NE(view, nullptr);
      EXPECT_EQ(std::string(view, 6), std::string(6, '\0')) << "a fresh section starts zeroed";
      UnmapViewOfFile(view);
    }
    CloseHandle(fresh);
  }
}

TEST_F(ObjectsTest, ObjectLivesWhileAnyProcessHoldsItAndVanishesWithTheLast) {
  const std::wstring name = L"Global\\" + UniqueName("lifetime");
  HANDLE mine = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(mine, nullptr);
  Child child("hold_object", {"event", Narrow(name)});
  ASSERT_EQ(child.ReadLine(), "holding");
  ASSERT_TRUE(SetEvent(mine));
  ASSERT_TRUE(CloseHandle(mine));

  // The child's handle alone keeps the object, with its state.
  HANDLE again = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(CloseHandle(again));

  child.Signal();
  ASSERT_EQ(child.ReadLine(), "closed");
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  child.Signal();
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(ObjectsTest, ViewKeepsSectionAfterItsHandleIsClosed) {
  const std::wstring name = UniqueName("view");
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str());
  ASSERT_NE(section, nullptr);
  auto* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  std::strcpy(view, "kept");
  CloseHandle(section);

  HANDLE reopened = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
  ASSERT_NE(reopened, nullptr) << GetLastError();
  CloseHandle(reopened);
  ASSERT_TRUE(UnmapViewOfFile(view));
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
}

// Takes the mutex and dies holding it, or exits holding it, as told.
PAL_CHILD(own_mutex) {
  HANDLE h = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, Wide(args[0]).c_str());
  if (h == nullptr || WaitForSingleObject(h, INFINITE) != WAIT_OBJECT_0) return 1;
  ChildSay("owned");
  ChildAwait();
  return 0;  // ends without ReleaseMutex
}

TEST_F(ObjectsTest, MutexOfAKilledOrExitedOwnerProcessIsAbandoned) {
  for (bool kill : {true, false}) {
    SCOPED_TRACE(kill ? "killed" : "exited");
    const std::wstring name = L"Global\\" + UniqueName("abandon");
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    Child child("own_mutex", {Narrow(name)});
    ASSERT_EQ(child.ReadLine(), "owned");
    EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    if (kill) {
      child.Kill(SIGKILL);
    } else {
      child.Signal();
    }
    child.Wait();
    EXPECT_EQ(WaitForSingleObject(mutex, 10000), static_cast<DWORD>(WAIT_ABANDONED));
    // Owned now, once: one release frees it, a second is refused.
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0) << "abandonment is reported once";
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
  }
}

TEST_F(ObjectsTest, MutexOfAnEndedOwnerThreadIsAbandoned) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, UniqueName("thread").c_str());
  ASSERT_NE(mutex, nullptr);
  DWORD first = 0;
  std::thread([&] { first = WaitForSingleObject(mutex, INFINITE); }).join();
  EXPECT_EQ(first, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, 5000), static_cast<DWORD>(WAIT_ABANDONED));
  EXPECT_TRUE(ReleaseMutex(mutex));
  CloseHandle(mutex);
}

TEST_F(ObjectsTest, MutexIsRecursiveAndOnlyItsOwnerReleasesIt) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, UniqueName("recursive").c_str());
  ASSERT_NE(mutex, nullptr);
  ASSERT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);  // second level on top of the initial owner

  auto from_other_thread = [&](auto call) {
    DWORD result = 0;
    std::thread([&] { result = call(); }).join();
    return result;
  };
  const DWORD foreign_release = from_other_thread([&] {
    return ReleaseMutex(mutex) ? DWORD{0} : GetLastError();
  });
  EXPECT_EQ(foreign_release, static_cast<DWORD>(ERROR_NOT_OWNER));

  ASSERT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(from_other_thread([&] { return WaitForSingleObject(mutex, 0); }), static_cast<DWORD>(WAIT_TIMEOUT))
      << "one release of two levels must keep the mutex owned";
  ASSERT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
  EXPECT_EQ(from_other_thread([&] {
              DWORD got = WaitForSingleObject(mutex, 0);
              if (got == WAIT_OBJECT_0) ReleaseMutex(mutex);
              return got;
            }),
            WAIT_OBJECT_0);

  // An existing mutex is not taken by bInitialOwner.
  const std::wstring name = UniqueName("initial_owner");
  HANDLE named = CreateMutexW(nullptr, FALSE, name.c_str());
  const DWORD other_create = from_other_thread([&] {
    HANDLE again = CreateMutexW(nullptr, TRUE, name.c_str());
    DWORD err = GetLastError();
    CloseHandle(again);
    return err;
  });
  EXPECT_EQ(other_create, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(named, 0), WAIT_OBJECT_0);
  ReleaseMutex(named);
  CloseHandle(named);
  CloseHandle(mutex);
}

// Counts, in a shared section, the increments it made under the mutex.
PAL_CHILD(count_under_mutex) {
  HANDLE mutex = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, Wide(args[0]).c_str());
  HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, Wide(args[1]).c_str());
  if (mutex == nullptr || section == nullptr) return 1;
  auto* counter = static_cast<volatile long*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      WaitForSingleObject(mutex, INFINITE);
      long v = *counter;  // a plain read-modify-write: only the mutex keeps it whole
      *counter = v + 1;
      ReleaseMutex(mutex);
    }
  };
  std::thread other(work);
  work();
  other.join();
  return 0;
}

TEST_F(ObjectsTest, MutexExcludesThreadsOfSeveralProcesses) {
  const std::wstring mutex_name = UniqueName("exclusion_mutex");
  const std::wstring section_name = UniqueName("exclusion_counter");
  HANDLE mutex = CreateMutexW(nullptr, FALSE, mutex_name.c_str());
  HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, section_name.c_str());
  ASSERT_NE(mutex, nullptr);
  ASSERT_NE(section, nullptr);
  {
    Child a("count_under_mutex", {Narrow(mutex_name), Narrow(section_name)});
    Child b("count_under_mutex", {Narrow(mutex_name), Narrow(section_name)});
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
  }
  auto* counter = static_cast<long*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
  EXPECT_EQ(*counter, 4 * 20000);
  UnmapViewOfFile(counter);
  CloseHandle(section);
  CloseHandle(mutex);
}

// Waits for the event and records each release in a shared counter, announced by `done`.
PAL_CHILD(wait_event) {
  HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, Wide(args[0]).c_str());
  HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, Wide(args[1]).c_str());
  HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, Wide(args[2]).c_str());
  if (event == nullptr || done == nullptr || section == nullptr) return 1;
  auto* released = static_cast<std::atomic<int>*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
  ChildSay("ready");
  if (WaitForSingleObject(event, 30000) != WAIT_OBJECT_0) return 2;
  released->fetch_add(1);
  SetEvent(done);
  return 0;
}

TEST_F(ObjectsTest, SetEventReleasesOneWaiterOfAnAutoResetEventAndAllOfAManualOne) {
  for (bool manual : {false, true}) {
    SCOPED_TRACE(manual ? "manual" : "auto");
    const std::wstring event_name = L"Global\\" + UniqueName("release");
    const std::wstring done_name = UniqueName("done");
    const std::wstring count_name = UniqueName("count");
    HANDLE event = CreateEventW(nullptr, manual, FALSE, event_name.c_str());
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, done_name.c_str());
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, count_name.c_str());
    auto* released = static_cast<std::atomic<int>*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
    const std::vector<std::string> args = {Narrow(event_name), Narrow(done_name),
                                           Narrow(count_name)};
    Child a("wait_event", args);
    Child b("wait_event", args);
    ASSERT_EQ(a.ReadLine(), "ready");
    ASSERT_EQ(b.ReadLine(), "ready");

    ASSERT_TRUE(SetEvent(event));
    ASSERT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
    if (manual) {
      while (released->load() < 2 && WaitForSingleObject(done, 10000) == WAIT_OBJECT_0) {
      }
      EXPECT_EQ(released->load(), 2);
    } else {
      // The second waiter must stay blocked: give it time to (wrongly) get through.
      EXPECT_EQ(WaitForSingleObject(done, 300), static_cast<DWORD>(WAIT_TIMEOUT));
      EXPECT_EQ(released->load(), 1);
      ASSERT_TRUE(SetEvent(event));
      ASSERT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
      EXPECT_EQ(released->load(), 2);
      EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "each signal is consumed";
    }
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
    UnmapViewOfFile(released);
    CloseHandle(section);
    CloseHandle(done);
    CloseHandle(event);
  }
}

// Blocks on the named event or mutex without limit.
PAL_CHILD(block_on) {
  HANDLE h = args[0] == "mutex" ? OpenMutexW(SYNCHRONIZE, FALSE, Wide(args[1]).c_str())
                                : OpenEventW(SYNCHRONIZE, FALSE, Wide(args[1]).c_str());
  if (h == nullptr) return 1;
  ChildSay("blocking");
  WaitForSingleObject(h, INFINITE);
  return 0;
}

// True once the process sleeps (after its last message it only sleeps in its wait).
bool Sleeping(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    std::string stat = pal_testing::ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close_paren = stat.rfind(')');
    if (close_paren != std::string::npos && stat.size() > close_paren + 2 && stat[close_paren + 2] == 'S') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_F(ObjectsTest, WaiterKilledInItsWaitDoesNotBlockTheNext) {
  for (const char* kind : {"auto", "manual", "mutex"}) {
    SCOPED_TRACE(kind);
    const std::wstring name = UniqueName("killed_waiter");
    const bool is_mutex = std::string(kind) == "mutex";
    HANDLE h = is_mutex ? CreateMutexW(nullptr, TRUE, name.c_str())
                        : CreateEventW(nullptr, std::string(kind) == "manual", FALSE, name.c_str());
    ASSERT_NE(h, nullptr);
    Child waiter("block_on", {is_mutex ? "mutex" : "event", Narrow(name)});
    ASSERT_EQ(waiter.ReadLine(), "blocking");
    ASSERT_TRUE(Sleeping(waiter.pid()));
    waiter.Kill(SIGKILL);
    waiter.Wait();

    DWORD got = WAIT_FAILED;
    std::thread next([&] {
      got = WaitForSingleObject(h, 10000);
      if (is_mutex && got == WAIT_OBJECT_0) ReleaseMutex(h);
    });
    if (is_mutex) {
      ASSERT_TRUE(ReleaseMutex(h));
    } else {
      ASSERT_TRUE(SetEvent(h));
    }
    next.join();
    EXPECT_EQ(got, WAIT_OBJECT_0);
    CloseHandle(h);
  }
}

TEST_F(ObjectsTest, EventStateAndTimedWait) {
  HANDLE manual = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(manual, nullptr);
  ASSERT_NE(automatic, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0) << "a manual event stays signalled";
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(ResetEvent(manual));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(manual, 150), static_cast<DWORD>(WAIT_TIMEOUT));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(140));
  EXPECT_LT(waited, std::chrono::seconds(5));

  // A waiter blocked without limit wakes when another thread signals.
  std::thread setter([&] { SetEvent(automatic); });
  EXPECT_EQ(WaitForSingleObject(automatic, INFINITE), WAIT_OBJECT_0);
  setter.join();

  const HANDLE both[] = {manual, automatic};
  SetEvent(automatic);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 1000), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 20), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(manual);
  CloseHandle(automatic);
}

PAL_CHILD(read_section) {
  HANDLE section = OpenFileMappingW(FILE_MAP_WRITE, FALSE, Wide(args[0]).c_str());
  if (section == nullptr) return 1;
  auto* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
  if (view == nullptr) return 2;
  ChildSay(std::string(view));
  std::strcpy(view + 2048, "written by the child");
  UnmapViewOfFile(view);
  CloseHandle(section);
  return 0;
}

TEST_F(ObjectsTest, SectionContentsAreSharedAcrossProcesses) {
  const std::wstring name = L"Global\\" + UniqueName("section");
  OpenToEveryone everyone;
  HANDLE section =
      CreateFileMappingW(INVALID_HANDLE_VALUE, &everyone.attributes, PAGE_READWRITE, 0, 8192, name.c_str());
  ASSERT_NE(section, nullptr);
  auto* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 4096));
  ASSERT_NE(view, nullptr);
  std::strcpy(view, "from the parent");
  Child child("read_section", {Narrow(name)});
  EXPECT_EQ(child.ReadLine(), "from the parent");
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_STREQ(view + 2048, "written by the child");
  UnmapViewOfFile(view);

  // Views must stay within the section and within the handle's rights.
  HANDLE reader = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
  ASSERT_NE(reader, nullptr);
  struct Case {
    const char* name;
    HANDLE handle;
    DWORD access;
    DWORD offset;
    SIZE_T bytes;
    DWORD error;  // 0: the view is granted
  };
  const Case kCases[] = {
      {"whole_section", section, FILE_MAP_READ, 0, 0, 0},
      {"exact_size", section, FILE_MAP_WRITE, 0, 8192, 0},
      {"beyond_the_end", section, FILE_MAP_READ, 0, 8193, ERROR_ACCESS_DENIED},
      {"offset_outside", section, FILE_MAP_READ, 65536, 0, ERROR_ACCESS_DENIED},
      {"unaligned_offset", section, FILE_MAP_READ, 4096, 0, 1132},
      {"read_handle_reads", reader, FILE_MAP_READ, 0, 0, 0},
      {"read_handle_cannot_write", reader, FILE_MAP_WRITE, 0, 0, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    void* mapped = MapViewOfFile(c.handle, c.access, 0, c.offset, c.bytes);
    if (c.error == 0) {
      ASSERT_NE(mapped, nullptr) << GetLastError();
      EXPECT_STREQ(static_cast<char*>(mapped), "from the parent");
      EXPECT_TRUE(UnmapViewOfFile(mapped));
    } else {
      EXPECT_EQ(mapped, nullptr);
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
  EXPECT_EQ(WaitForSingleObject(section, 0), WAIT_FAILED) << "a section is not waitable";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(reader);
  CloseHandle(section);
}

TEST_F(ObjectsTest, CreateReturnsTheExistingObject) {
  const std::wstring name = UniqueName("exists");
  HANDLE first = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  SetLastError(ERROR_ALREADY_EXISTS);
  HANDLE unnamed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "a new object clears the last error";
  HANDLE second = CreateEventW(nullptr, TRUE, TRUE, name.c_str());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the existing state is kept";
  ASSERT_TRUE(SetEvent(second));
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "still auto-reset";

  EXPECT_TRUE(CloseHandle(first));
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(second);
  CloseHandle(unnamed);
}

TEST_F(ObjectsTest, KindClashesFailWithInvalidHandle) {
  const Kind kKinds[] = {Kind::kMutex, Kind::kEvent, Kind::kSection};
  for (Kind holder : kKinds) {
    const std::wstring name = UniqueName("clash");
    HANDLE held = CreateOf(holder, name);
    ASSERT_NE(held, nullptr);
    for (Kind other : kKinds) {
      if (other == holder) continue;
      SCOPED_TRACE(testing::Message() << "held as " << static_cast<int>(holder) << ", asked as "
                                      << static_cast<int>(other));
      SetLastError(0);
      EXPECT_EQ(CreateOf(other, name), nullptr);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
      SetLastError(0);
      EXPECT_EQ(OpenOf(other, name), nullptr);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    // The clash leaves the holder's object as it was.
    HANDLE same = OpenOf(holder, name);
    EXPECT_NE(same, nullptr);
    CloseHandle(same);
    CloseHandle(held);
  }
}

PAL_CHILD(probe_names) {
  // args: names to open as events; says one result per name.
  std::string results;
  for (const std::string& name : args) {
    HANDLE h = OpenEventW(SYNCHRONIZE, FALSE, Wide(name).c_str());
    results += h != nullptr ? "found " : std::to_string(GetLastError()) + " ";
    if (h != nullptr) CloseHandle(h);
  }
  ChildSay(results);
  return 0;
}

TEST_F(ObjectsTest, NamespacesAndMachineRootsAreSeparate) {
  const std::wstring base = UniqueName("ns");
  HANDLE global = CreateEventW(nullptr, FALSE, FALSE, (L"Global\\" + base).c_str());
  HANDLE local = CreateEventW(nullptr, FALSE, FALSE, (L"Local\\" + base + L"_l").c_str());
  ASSERT_NE(global, nullptr);
  ASSERT_NE(local, nullptr);
  struct Case {
    const char* name;
    std::wstring probe;
    DWORD error;  // 0: found
  };
  const Case kCases[] = {
      {"global_by_its_name", L"Global\\" + base, 0},
      {"global_is_not_local", L"Local\\" + base, ERROR_FILE_NOT_FOUND},
      {"global_is_not_unprefixed", base, ERROR_FILE_NOT_FOUND},
      {"local_by_its_name", L"Local\\" + base + L"_l", 0},
      {"unprefixed_is_local", base + L"_l", 0},
      {"local_is_not_global", L"Global\\" + base + L"_l", ERROR_FILE_NOT_FOUND},
      {"names_are_case_sensitive", L"Global\\" + base + L"X", ERROR_FILE_NOT_FOUND},
      {"prefix_is_case_sensitive", L"global\\" + base, ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    SetLastError(0);
    HANDLE h = OpenEventW(SYNCHRONIZE, FALSE, c.probe.c_str());
    EXPECT_EQ(h != nullptr ? 0 : GetLastError(), c.error);
    if (h != nullptr) CloseHandle(h);
  }

  // Another process sees them in this root, and nothing of them in another root.
  const std::vector<std::string> probes = {"Global\\" + Narrow(base),
                                           Narrow(base) + "_l"};
  {
    Child same_root("probe_names", probes);
    EXPECT_EQ(same_root.ReadLine(), "found found ");
  }
  {
    ScopedMachineRoot other_root;
    Child other("probe_names", probes);
    EXPECT_EQ(other.ReadLine(), "2 2 ");
    HANDLE there = CreateEventW(nullptr, FALSE, FALSE, (L"Global\\" + base).c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "same name, other machine";
    CloseHandle(there);
  }
  CloseHandle(global);
  CloseHandle(local);
}

// Runs as another account (uid and gid 65534) and tries the objects named in args.
PAL_CHILD(other_account) {
  if (setgid(65534) != 0 || setuid(65534) != 0) return 10;
  std::string results;
  for (const std::string& name : args) {
    HANDLE h = OpenEventW(EVENT_ALL_ACCESS, FALSE, Wide(name).c_str());
    if (h != nullptr && SetEvent(h)) {
      results += "used ";
    } else {
      results += std::to_string(GetLastError()) + " ";
    }
  }
  ChildSay(results);
  return 0;
}

TEST_F(ObjectsTest, NullDaclOpensAnObjectToEveryAccount) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a child as another account";
  chmod(root_.path().c_str(), 0755);
  const mode_t old_mask = umask(077);
  OpenToEveryone everyone;
  const std::wstring open_name = L"Global\\" + UniqueName("open");
  const std::wstring closed_name = L"Global\\" + UniqueName("closed");
  const std::wstring later_name = L"Global\\" + UniqueName("later");
  const std::wstring local_name = L"Local\\" + UniqueName("session");
  HANDLE open_event = CreateEventW(&everyone.attributes, FALSE, FALSE, open_name.c_str());
  HANDLE closed_event = CreateEventW(nullptr, FALSE, FALSE, closed_name.c_str());
  HANDLE later_event = CreateEventW(nullptr, FALSE, FALSE, later_name.c_str());
  HANDLE local_event = CreateEventW(&everyone.attributes, FALSE, FALSE, local_name.c_str());
  umask(old_mask);
  ASSERT_TRUE(open_event && closed_event && later_event && local_event);
  // Opened up afterwards, as writers do with the channel mutex.
  EXPECT_TRUE(SetKernelObjectSecurity(later_event, DACL_SECURITY_INFORMATION, &everyone.descriptor));

  Child child("other_account", {Narrow(open_name), Narrow(closed_name),
                                Narrow(later_name), Narrow(local_name)});
  EXPECT_EQ(child.ReadLine(), "used 5 used 2 ");
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(WaitForSingleObject(open_event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(later_event, 0), WAIT_OBJECT_0);
  for (HANDLE h : {open_event, closed_event, later_event, local_event}) CloseHandle(h);
}

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST_F(ObjectsTest, ManyNamesDoNotPileUpDescriptors) {
  const int before = OpenDescriptors();
  std::vector<std::wstring> names;
  for (int i = 0; i < 300; ++i) {
    names.push_back(UniqueName("many"));
    HANDLE h = CreateEventW(nullptr, FALSE, FALSE, names.back().c_str());
    ASSERT_NE(h, nullptr) << i;
    CloseHandle(h);
  }
  EXPECT_LT(OpenDescriptors() - before, 100);
  // Names the process has forgotten behave as before: closed objects are gone.
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, names.front().c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  HANDLE again = CreateEventW(nullptr, FALSE, FALSE, names.front().c_str());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(again);
}

TEST(ObjectNameTest, ParsesScopesAndEncodesFileNames) {
  struct Case {
    const char* name;
    std::wstring_view in;
    pal::ObjectScope scope;
    std::string_view file;
  };
  const Case kCases[] = {
      {"global", L"Global\\E0F4-AB_c", pal::ObjectScope::kMachine, "E0F4-AB_c"},
      {"local", L"Local\\x", pal::ObjectScope::kSession, "x"},
      {"unprefixed", L"x", pal::ObjectScope::kSession, "x"},
      {"escapes_path_characters", L"a/b.%", pal::ObjectScope::kSession, "a%2Fb%2E%25"},
      {"escapes_dot_names", L"..", pal::ObjectScope::kSession, "%2E%2E"},
      {"non_ascii_as_utf8", L"\u00e9", pal::ObjectScope::kSession, "%C3%A9"},
      {"other_prefix_is_a_name", L"Session:x", pal::ObjectScope::kSession, "Session%3Ax"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    pal::Result<pal::ObjectName> parsed = pal::ParseObjectName(c.in);
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed->scope, c.scope);
    EXPECT_EQ(pal::ObjectFileName(parsed->base), c.file);
  }
  EXPECT_EQ(pal::ParseObjectName(L"Global\\a\\b").error().value(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(pal::ParseObjectName(std::wstring(MAX_PATH + 1, L'a')).error().value(), ERROR_FILENAME_EXCED_RANGE);

  // Long names stay within a host file name and distinct.
  const std::string long_a = pal::ObjectFileName(std::wstring(MAX_PATH, L'\u00e9') + L"a");
  const std::string long_b = pal::ObjectFileName(std::wstring(MAX_PATH, L'\u00e9') + L"b");
  EXPECT_LE(long_a.size(), 255u);
  EXPECT_NE(long_a, long_b);
}

}  // namespace
