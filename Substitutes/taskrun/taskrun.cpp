// taskrun: the part of the Task Scheduler that starts tasks. It starts the tasks of the
// machine root (PAL_ROOT) that have a start-up trigger, as a system start would, or one task
// on demand, each action with its arguments in its working folder, hidden, as the scheduler
// starts them.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "machine.h"
#include "taskschd_store.h"

namespace {

using pal::tasks::ExecAction;
using pal::tasks::TaskDefinition;

constexpr int kExitUsage = 1;
constexpr int kExitFailed = 2;

const char kUsage[] =
    "usage: taskrun boot                 start every enabled task with an enabled start-up trigger\n"
    "       taskrun run <task> [--wait]  start one task now, as on demand (--wait: wait for it\n"
    "                                    and exit with its exit status)\n"
    "       taskrun list                 the registered tasks, their triggers and commands\n"
    "The machine is the one PAL_ROOT names. Started tasks run on after taskrun ends.\n";

std::string Utf8(const std::wstring& text) { return pal::ToUtf8(text); }

bool Load(const std::wstring& name, TaskDefinition* out) {
  pal::Result<std::vector<std::wstring>> parts = pal::tasks::SplitTaskPath(name);
  if (!parts) {
    std::fprintf(stderr, "taskrun: %s: not a task name\n", Utf8(name).c_str());
    return false;
  }
  pal::Result<std::string> bytes = pal::tasks::LoadTask(*parts);
  if (!bytes) {
    std::fprintf(stderr, "taskrun: %s: no such task\n", Utf8(name).c_str());
    return false;
  }
  pal::tasks::Parsed parsed = pal::tasks::FromXml(*bytes);
  if (parsed.fault != pal::tasks::DefinitionFault::kNone) {
    std::fprintf(stderr, "taskrun: %s: the stored task cannot be read\n", Utf8(name).c_str());
    return false;
  }
  *out = std::move(parsed.definition);
  return true;
}

// Starts one exec action the way the scheduler does: the command quoted, then its
// arguments, in its working folder, without a console window.
HANDLE Start(const std::wstring& task, const ExecAction& action) {
  std::wstring command_line = L"\"" + action.path + L"\"";
  if (!action.arguments.empty()) command_line += L" " + action.arguments;
  std::vector<wchar_t> buffer(command_line.begin(), command_line.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  const wchar_t* folder = action.working_directory.empty() ? nullptr : action.working_directory.c_str();
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      folder, &startup, &info)) {
    std::fprintf(stderr, "taskrun: \\%s: cannot start %s: error %lu\n", Utf8(task).c_str(),
                 Utf8(action.path).c_str(), static_cast<unsigned long>(GetLastError()));
    return nullptr;
  }
  CloseHandle(info.hThread);
  std::printf("started \\%s pid %lu\n", Utf8(task).c_str(), static_cast<unsigned long>(info.dwProcessId));
  std::fflush(stdout);
  return info.hProcess;
}

DWORD WaitExit(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

// Runs the actions one after the other, as the scheduler does; the last one is waited for
// only when `wait_last` is set. Returns false when an action could not be started.
bool RunActions(const std::wstring& task, const TaskDefinition& def, bool wait_last, DWORD* last_code) {
  for (size_t i = 0; i < def.actions.size(); ++i) {
    HANDLE process = Start(task, def.actions[i]);
    if (process == nullptr) return false;
    if (i + 1 < def.actions.size() || wait_last) {
      DWORD code = WaitExit(process);
      if (last_code != nullptr) *last_code = code;
    } else {
      CloseHandle(process);
    }
  }
  return true;
}

int Boot() {
  int result = 0;
  for (const std::wstring& name : pal::tasks::ListTasks()) {
    TaskDefinition def;
    if (!Load(name, &def)) {
      result = kExitFailed;
      continue;
    }
    bool at_boot = false;
    for (const auto& trigger : def.triggers) {
      at_boot = at_boot || (trigger.kind == pal::tasks::TriggerKind::kBoot && trigger.enabled);
    }
    if (!at_boot || !def.settings.enabled) continue;
    if (!RunActions(name, def, false, nullptr)) result = kExitFailed;
  }
  return result;
}

int Run(const std::wstring& name, bool wait) {
  TaskDefinition def;
  if (!Load(name, &def)) return kExitFailed;
  std::wstring shown = name[0] == L'\\' ? name.substr(1) : name;
  if (!def.settings.enabled || !def.settings.allow_demand_start) {
    std::fprintf(stderr, "taskrun: \\%s: the task is %s\n", Utf8(shown).c_str(),
                 def.settings.enabled ? "not allowed to start on demand" : "disabled");
    return kExitFailed;
  }
  DWORD code = 0;
  if (!RunActions(shown, def, wait, &code)) return kExitFailed;
  if (!wait) return 0;
  std::printf("exit code %lu\n", static_cast<unsigned long>(code));
  return static_cast<int>(code & 0xFF);
}

int List() {
  int result = 0;
  for (const std::wstring& name : pal::tasks::ListTasks()) {
    TaskDefinition def;
    if (!Load(name, &def)) {
      result = kExitFailed;
      continue;
    }
    std::printf("\\%s%s\n", Utf8(name).c_str(), def.settings.enabled ? "" : " (disabled)");
    for (const auto& t : def.triggers) {
      if (t.kind == pal::tasks::TriggerKind::kBoot) {
        std::printf("  at start-up%s\n", t.enabled ? "" : " (disabled)");
      } else {
        std::printf("  every %d day(s) from %s%s\n", t.days_interval, Utf8(t.start_boundary).c_str(),
                    t.enabled ? "" : " (disabled)");
      }
    }
    for (const auto& a : def.actions) {
      std::printf("  run \"%s\" %s in %s\n", Utf8(a.path).c_str(), Utf8(a.arguments).c_str(),
                  Utf8(a.working_directory).c_str());
    }
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "boot") == 0) return Boot();
  if (argc == 2 && std::strcmp(argv[1], "list") == 0) return List();
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "run") == 0 && argv[2][0] != '\0') {
    bool wait = argc == 4 && std::strcmp(argv[3], "--wait") == 0;
    if (argc == 4 && !wait) {
      std::fputs(kUsage, stderr);
      return kExitUsage;
    }
    return Run(pal::FromUtf8(argv[2]), wait);
  }
  std::fputs(kUsage, argc == 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr);
  return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : kExitUsage;
}
