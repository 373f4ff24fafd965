// The task scheduler's store: task definitions, their Task Scheduler 2.0 XML form, and the
// files under C:\Windows\System32\Tasks\ that hold them. Shared by the COM face and the
// machine tooling that starts registered tasks.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

namespace pal::tasks {

enum class TriggerKind { kBoot, kDaily };

struct Trigger {
  TriggerKind kind = TriggerKind::kBoot;
  std::wstring id;
  std::wstring start_boundary;
  bool enabled = true;
  int days_interval = 1;  // daily triggers only
};

struct ExecAction {
  std::wstring id;
  std::wstring path;
  std::wstring arguments;
  std::wstring working_directory;
};

// Logon types and run levels carry the Task Scheduler's numbers (TASK_LOGON_*, TASK_RUNLEVEL_*).
struct Principal {
  std::wstring id = L"Author";
  std::wstring user_id;
  int logon_type = 0;
  int run_level = 0;
};

// Defaults are the Task Scheduler's own.
struct Settings {
  bool allow_demand_start = true;
  bool start_when_available = false;
  bool disallow_start_if_on_batteries = true;
  bool stop_if_going_on_batteries = true;
  bool enabled = true;
  std::wstring execution_time_limit = L"PT72H";
};

struct TaskDefinition {
  std::wstring author;
  std::wstring description;
  std::wstring uri;
  Principal principal;
  Settings settings;
  // Deques, so that the objects handed out for single items stay valid as items are added.
  std::deque<Trigger> triggers;
  std::deque<ExecAction> actions;
};

// Win32 errors of the store; the COM face reports them as HRESULT_FROM_WIN32.
// Task-definition faults carry the scheduler's own results instead, through these codes.
enum class DefinitionFault { kNone, kMissingNode, kInvalidValue, kMalformedXml, kNamespace };

// The first fault that keeps `definition` from being registered: no action, an action
// without a path, a daily trigger without a well-formed start boundary or with an interval
// outside 1 to 365, a text that XML cannot carry.
DefinitionFault Validate(const TaskDefinition& definition);

// The XML document of a definition, UTF-16LE with byte order mark, as Windows stores it.
std::string ToXml(const TaskDefinition& definition);

// Reads a stored document (any encoding the XML declaration or byte order mark names).
// Elements the store does not model are skipped; so are other kinds of triggers and actions.
struct Parsed {
  TaskDefinition definition;
  DefinitionFault fault = DefinitionFault::kNone;
};
Parsed FromXml(std::string_view document);

// Splits a task path ("Name", "\Name", "Folder\Name") into its components.
// ERROR_INVALID_NAME for an empty path or component, "." or "..", or a character that a
// task name cannot hold (/ : * ? " < > | and control characters).
Result<std::vector<std::wstring>> SplitTaskPath(std::wstring_view path);

// The Windows path of a task's file or of a task folder ("" is the root folder).
std::wstring TaskFilePath(const std::vector<std::wstring>& components);

enum class StoreMode { kCreate, kUpdate, kCreateOrUpdate };

// Writes the task's file atomically (creating its folders). ERROR_ALREADY_EXISTS for
// kCreate when the task exists, ERROR_FILE_NOT_FOUND for kUpdate when it does not.
std::error_code StoreTask(const std::vector<std::wstring>& components, const std::string& xml,
                          StoreMode mode);

// The stored bytes; ERROR_FILE_NOT_FOUND when there is no such task.
Result<std::string> LoadTask(const std::vector<std::wstring>& components);

// ERROR_FILE_NOT_FOUND when there is no such task (a folder of that name is not a task).
std::error_code RemoveTask(const std::vector<std::wstring>& components);

// Whether the task folder exists.
bool FolderExists(const std::vector<std::wstring>& components);

// Every task of the store, as paths relative to the root folder ("Name", "Folder\Name"),
// sorted.
std::vector<std::wstring> ListTasks();

// The account that registers tasks here: the host user's name.
std::wstring CurrentUserName();

}  // namespace pal::tasks
