#include <comdef.h>
#include <taskschd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <cctype>
#include <string>
#include <thread>

#include "machine.h"
#include "pal_testing.h"
#include "taskschd_store.h"

namespace {

using pal_testing::ReadFile;
using pal_testing::RunProgram;
using pal_testing::WriteFile;

// Evaluates an XPath over a stored task with the independent xmllint; "t:Name" stands for
// an element of the task namespace.
std::string XPath(const std::string& file, const std::string& expression) {
  std::string expanded;
  for (size_t i = 0; i < expression.size();) {
    if (expression.compare(i, 2, "t:") == 0) {
      size_t end = i + 2;
      while (end < expression.size() && std::isalnum(static_cast<unsigned char>(expression[end]))) ++end;
      expanded += "*[local-name()='" + expression.substr(i + 2, end - i - 2) +
                  "' and namespace-uri()='http://schemas.microsoft.com/windows/2004/02/mit/task']";
      i = end;
    } else {
      expanded += expression[i++];
    }
  }
  std::string output;
  int status = RunProgram({"/usr/bin/xmllint", "--xpath", "string(" + expanded + ")", file}, &output);
  if (status != 0) return "<xmllint " + std::to_string(status) + ": " + output + ">";
  if (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

struct TaskShape {
  std::wstring author = L"NORVANTE Corporation";
  TASK_TRIGGER_TYPE2 trigger = TASK_TRIGGER_BOOT;
  std::wstring start = L"2010-01-01T04:00:00";
  short days = 1;
  std::wstring path = L"C:\\Program Files (x86)\\NORVANTE\\TQ770\\x86\\Logsink.exe";
  std::wstring arguments;
  std::wstring folder = L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\";
  bool with_action = true;
};

class TaskSchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ASSERT_EQ(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                               reinterpret_cast<void**>(&service_)),
              S_OK);
    ASSERT_EQ(service_->Connect(_variant_t(), _variant_t(), _variant_t(), _variant_t()), S_OK);
    ASSERT_EQ(service_->GetFolder(_bstr_t(L"\\"), &root_), S_OK);
  }
  void TearDown() override {
    if (root_ != nullptr) root_->Release();
    if (service_ != nullptr) service_->Release();
    CoUninitialize();
  }

  ITaskDefinition* Define(const TaskShape& shape) {
    ITaskDefinition* def = nullptr;
    EXPECT_EQ(service_->NewTask(0, &def), S_OK);
    IRegistrationInfo* info = nullptr;
    def->get_RegistrationInfo(&info);
    info->put_Author(_bstr_t(shape.author.c_str()));
    info->Release();
    ITaskSettings* settings = nullptr;
    def->get_Settings(&settings);
    settings->put_StartWhenAvailable(VARIANT_TRUE);
    settings->put_ExecutionTimeLimit(_bstr_t(L"PT0S"));
    settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
    settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
    settings->Release();
    ITriggerCollection* triggers = nullptr;
    def->get_Triggers(&triggers);
    ITrigger* trigger = nullptr;
    EXPECT_EQ(triggers->Create(shape.trigger, &trigger), S_OK);
    trigger->put_Id(_bstr_t(L"QNVLogView"));
    if (shape.trigger == TASK_TRIGGER_DAILY) {
      IDailyTrigger* daily = nullptr;
      EXPECT_EQ(trigger->QueryInterface(IID_IDailyTrigger, reinterpret_cast<void**>(&daily)), S_OK);
      if (!shape.start.empty()) daily->put_StartBoundary(_bstr_t(shape.start.c_str()));
      daily->put_DaysInterval(shape.days);
      daily->Release();
    }
    trigger->Release();
    triggers->Release();
    if (shape.with_action) {
      IActionCollection* actions = nullptr;
      def->get_Actions(&actions);
      IAction* action = nullptr;
      EXPECT_EQ(actions->Create(TASK_ACTION_EXEC, &action), S_OK);
      IExecAction* exec = nullptr;
      EXPECT_EQ(action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec)), S_OK);
      exec->put_Path(_bstr_t(shape.path.c_str()));
      if (!shape.arguments.empty()) exec->put_Arguments(_bstr_t(shape.arguments.c_str()));
      exec->put_WorkingDirectory(_bstr_t(shape.folder.c_str()));
      exec->Release();
      action->Release();
      actions->Release();
    }
    IPrincipal* principal = nullptr;
    def->get_Principal(&principal);
    principal->put_LogonType(TASK_LOGON_S4U);
    principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST);
    principal->Release();
    return def;
  }

  HRESULT Register(const wchar_t* name, const TaskShape& shape, LONG flags = TASK_CREATE_OR_UPDATE,
                   const wchar_t* user = nullptr, TASK_LOGON_TYPE logon = TASK_LOGON_S4U) {
    ITaskDefinition* def = Define(shape);
    HRESULT hr = root_->RegisterTaskDefinition(_bstr_t(name), def, flags,
                                               user != nullptr ? _variant_t(user) : _variant_t(), _variant_t(),
                                               logon, _variant_t(L""), nullptr);
    def->Release();
    return hr;
  }

  std::string TaskFile(const std::string& name) const {
    return machine_.drive_c() + "/Windows/System32/Tasks/" + name;
  }

  pal_testing::ScopedMachineRoot machine_;
  ITaskService* service_ = nullptr;
  ITaskFolder* root_ = nullptr;
};

TEST_F(TaskSchedulerTest, StoresDailyTaskAsTaskSchedulerXml) {
  TaskShape shape;
  shape.trigger = TASK_TRIGGER_DAILY;
  shape.arguments = L"/l Logsink";
  ASSERT_EQ(Register(L"QNV Daily", shape, TASK_CREATE_OR_UPDATE, L"SYSTEM", TASK_LOGON_S4U), S_OK);

  const std::string file = TaskFile("QNV Daily");
  std::string bytes = ReadFile(file);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2)) << "UTF-16LE with byte order mark";
  struct Case {
    const char* xpath;
    const char* want;
  };
  const Case kCases[] = {
      {"namespace-uri(/*)", "http://schemas.microsoft.com/windows/2004/02/mit/task"},
      {"/t:Task/@version", "1.2"},
      {"/t:Task/t:RegistrationInfo/t:Author", "NORVANTE Corporation"},
      {"/t:Task/t:RegistrationInfo/t:URI", "\\QNV Daily"},
      {"/t:Task/t:Principals/t:Principal/t:UserId", "SYSTEM"},
      {"/t:Task/t:Principals/t:Principal/t:LogonType", "S4U"},
      {"/t:Task/t:Principals/t:Principal/t:RunLevel", "HighestAvailable"},
      {"/t:Task/t:Settings/t:StartWhenAvailable", "true"},
      {"/t:Task/t:Settings/t:ExecutionTimeLimit", "PT0S"},
      {"/t:Task/t:Settings/t:DisallowStartIfOnBatteries", "false"},
      {"/t:Task/t:Settings/t:StopIfGoingOnBatteries", "false"},
      {"count(/t:Task/t:Triggers/*)", "1"},
      {"/t:Task/t:Triggers/t:CalendarTrigger/@id", "QNVLogView"},
      {"/t:Task/t:Triggers/t:CalendarTrigger/t:StartBoundary", "2010-01-01T04:00:00"},
      {"/t:Task/t:Triggers/t:CalendarTrigger/t:ScheduleByDay/t:DaysInterval", "1"},
      {"count(/t:Task/t:Actions/t:Exec)", "1"},
      {"/t:Task/t:Actions/t:Exec/t:Command", "C:\\Program Files (x86)\\NORVANTE\\TQ770\\x86\\Logsink.exe"},
      {"/t:Task/t:Actions/t:Exec/t:Arguments", "/l Logsink"},
      {"/t:Task/t:Actions/t:Exec/t:WorkingDirectory", "C:\\ProgramData\\NORVANTE\\TQ770\\log\\"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.xpath);
    EXPECT_EQ(XPath(file, c.xpath), c.want);
  }
}

TEST_F(TaskSchedulerTest, RegistrationParametersOverrideThePrincipal) {
  ASSERT_EQ(Register(L"Boot", TaskShape{}, TASK_CREATE_OR_UPDATE, nullptr, TASK_LOGON_INTERACTIVE_TOKEN), S_OK);
  const std::string file = TaskFile("Boot");
  EXPECT_EQ(XPath(file, "count(/t:Task/t:Triggers/t:BootTrigger)"), "1");
  EXPECT_EQ(XPath(file, "/t:Task/t:Triggers/t:BootTrigger/@id"), "QNVLogView");
  EXPECT_EQ(XPath(file, "/t:Task/t:Principals/t:Principal/t:LogonType"), "InteractiveToken");
  EXPECT_EQ(XPath(file, "/t:Task/t:Principals/t:Principal/t:UserId"), pal::ToUtf8(pal::tasks::CurrentUserName()));
  EXPECT_EQ(XPath(file, "count(/t:Task/t:Actions/t:Exec/t:Arguments)"), "0");
}

TEST_F(TaskSchedulerTest, ReadsBackWhatItStoredWithAwkwardTexts) {
  TaskShape shape;
  shape.trigger = TASK_TRIGGER_DAILY;
  shape.days = 7;
  shape.author = L"A & B <\"caf\u00e9\"> \U0001F600";
  shape.arguments = L"  /l \"x y\" 'z' &amp;\r\n\t ";
  ASSERT_EQ(Register(L"Folder\\Awkward", shape), S_OK);
  EXPECT_EQ(XPath(TaskFile("Folder/Awkward"), "/t:Task/t:RegistrationInfo/t:Author"), pal::ToUtf8(shape.author));

  IRegisteredTask* task = nullptr;
  ASSERT_EQ(root_->GetTask(_bstr_t(L"\\Folder\\Awkward"), &task), S_OK);
  _bstr_t path;
  task->get_Path(path.GetAddress());
  EXPECT_STREQ(static_cast<const wchar_t*>(path), L"\\Folder\\Awkward");
  _bstr_t xml;
  task->get_Xml(xml.GetAddress());
  EXPECT_NE(std::wstring(static_cast<const wchar_t*>(xml)).find(L"<Author>A &amp; B &lt;"), std::wstring::npos);

  ITaskDefinition* def = nullptr;
  ASSERT_EQ(task->get_Definition(&def), S_OK);
  IRegistrationInfo* info = nullptr;
  def->get_RegistrationInfo(&info);
  _bstr_t author;
  info->get_Author(author.GetAddress());
  EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(author)), shape.author);
  info->Release();
  ITriggerCollection* triggers = nullptr;
  def->get_Triggers(&triggers);
  ITrigger* trigger = nullptr;
  ASSERT_EQ(triggers->get_Item(1, &trigger), S_OK);
  TASK_TRIGGER_TYPE2 type;
  trigger->get_Type(&type);
  EXPECT_EQ(type, TASK_TRIGGER_DAILY);
  IDailyTrigger* daily = nullptr;
  ASSERT_EQ(trigger->QueryInterface(IID_IDailyTrigger, reinterpret_cast<void**>(&daily)), S_OK);
  short days = 0;
  daily->get_DaysInterval(&days);
  EXPECT_EQ(days, 7);
  IBootTrigger* boot = nullptr;
  EXPECT_EQ(trigger->QueryInterface(IID_IBootTrigger, reinterpret_cast<void**>(&boot)), E_NOINTERFACE);
  daily->Release();
  trigger->Release();
  triggers->Release();
  IActionCollection* actions = nullptr;
  def->get_Actions(&actions);
  IAction* action = nullptr;
  ASSERT_EQ(actions->get_Item(1, &action), S_OK);
  IExecAction* exec = nullptr;
  action->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(&exec));
  _bstr_t arguments;
  exec->get_Arguments(arguments.GetAddress());
  EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(arguments)), shape.arguments);
  exec->Release();
  action->Release();
  actions->Release();
  def->Release();
  task->Release();
}

TEST_F(TaskSchedulerTest, CreationFlagsAndReplacement) {
  struct Case {
    const char* name;
    bool exists_before;
    LONG flags;
    HRESULT want;
    bool exists_after;
  };
  const Case kCases[] = {
      {"create_new", false, TASK_CREATE, S_OK, true},
      {"create_existing", true, TASK_CREATE, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), true},
      {"update_missing", false, TASK_UPDATE, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), false},
      {"update_existing", true, TASK_UPDATE, S_OK, true},
      {"create_or_update_existing", true, TASK_CREATE_OR_UPDATE, S_OK, true},
      {"validate_only", false, TASK_VALIDATE_ONLY, S_OK, false},
      {"no_action_flag", false, 0, E_INVALIDARG, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(TaskFile("T"));
    TaskShape daily;
    daily.trigger = TASK_TRIGGER_DAILY;
    if (c.exists_before) {
      ASSERT_EQ(Register(L"T", TaskShape{}), S_OK);
    }
    EXPECT_EQ(Register(L"T", daily, c.flags), c.want);
    EXPECT_EQ(std::filesystem::exists(TaskFile("T")), c.exists_after);
    if (c.exists_after) {
      bool replaced = c.want == S_OK;
      EXPECT_EQ(XPath(TaskFile("T"), "count(/t:Task/t:Triggers/t:CalendarTrigger)"), replaced ? "1" : "0");
    }
  }
  for (const auto& entry : std::filesystem::directory_iterator(TaskFile(""))) {
    EXPECT_EQ(entry.path().filename(), "T") << "no temporary file left behind";
  }
}

TEST_F(TaskSchedulerTest, InvalidDefinitionsAreRefusedAndNothingIsStored) {
  struct Case {
    const char* name;
    TaskShape shape;
    HRESULT want;
  };
  auto daily = [](auto change) {
    TaskShape s;
    s.trigger = TASK_TRIGGER_DAILY;
    change(s);
    return s;
  };
  const Case kCases[] = {
      {"no_action", [] { TaskShape s; s.with_action = false; return s; }(), SCHED_E_MISSINGNODE},
      {"empty_command", [] { TaskShape s; s.path.clear(); return s; }(), SCHED_E_MISSINGNODE},
      {"daily_without_start", daily([](TaskShape& s) { s.start.clear(); }), SCHED_E_MISSINGNODE},
      {"start_not_a_time", daily([](TaskShape& s) { s.start = L"2010-13-01T04:00:00"; }), SCHED_E_INVALIDVALUE},
      {"start_truncated", daily([](TaskShape& s) { s.start = L"2010-01-01T04:00"; }), SCHED_E_INVALIDVALUE},
      {"interval_zero", daily([](TaskShape& s) { s.days = 0; }), SCHED_E_INVALIDVALUE},
      {"interval_too_long", daily([](TaskShape& s) { s.days = 366; }), SCHED_E_INVALIDVALUE},
      {"control_character", [] { TaskShape s; s.arguments = L"a\x01z"; return s; }(), SCHED_E_INVALIDVALUE},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Register(L"Bad", c.shape), c.want);
    EXPECT_FALSE(std::filesystem::exists(TaskFile("Bad")));
  }
  ITaskDefinition* def = Define(TaskShape{});
  ITaskSettings* settings = nullptr;
  def->get_Settings(&settings);
  settings->put_ExecutionTimeLimit(_bstr_t(L"P1X"));
  settings->Release();
  EXPECT_EQ(root_->RegisterTaskDefinition(_bstr_t(L"Bad"), def, TASK_CREATE_OR_UPDATE, _variant_t(),
                                          _variant_t(), TASK_LOGON_S4U, _variant_t(), nullptr),
            SCHED_E_INVALIDVALUE);
  def->Release();
}

TEST_F(TaskSchedulerTest, DeleteTaskNamesAndMissingTasks) {
  ASSERT_EQ(Register(L"Present", TaskShape{}), S_OK);
  ASSERT_EQ(Register(L"Sub\\Inner", TaskShape{}), S_OK);
  struct Case {
    const char* name;
    const wchar_t* task;
    HRESULT want;
  };
  const Case kCases[] = {
      {"missing", L"Absent", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {"folder_is_not_a_task", L"Sub", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {"missing_in_missing_folder", L"Nowhere\\Absent", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {"switch_text_as_name", L"/r", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
      {"slash_inside", L"Sub/Inner", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
      {"climbs_out", L"..\\..\\..\\evil", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
      {"empty", L"", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
      {"present", L"Present", S_OK},
      {"present_again", L"Present", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {"rooted_in_folder", L"\\Sub\\Inner", S_OK},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(root_->DeleteTask(_bstr_t(c.task), 0), c.want);
  }
  EXPECT_EQ(root_->DeleteTask(_bstr_t(L"Present"), 1), E_INVALIDARG);
  EXPECT_FALSE(std::filesystem::exists(TaskFile("Present")));
  EXPECT_TRUE(std::filesystem::is_directory(TaskFile("Sub")));
}

TEST_F(TaskSchedulerTest, FoldersAndConnection) {
  ASSERT_EQ(Register(L"Sub\\Inner", TaskShape{}), S_OK);
  ITaskFolder* sub = nullptr;
  ASSERT_EQ(root_->GetFolder(_bstr_t(L"Sub"), &sub), S_OK);
  _bstr_t path;
  sub->get_Path(path.GetAddress());
  EXPECT_STREQ(static_cast<const wchar_t*>(path), L"\\Sub");
  IRegisteredTask* task = nullptr;
  ASSERT_EQ(sub->GetTask(_bstr_t(L"Inner"), &task), S_OK);
  task->Release();
  EXPECT_EQ(sub->DeleteTask(_bstr_t(L"Inner"), 0), S_OK);
  sub->Release();
  ITaskFolder* missing = nullptr;
  EXPECT_EQ(root_->GetFolder(_bstr_t(L"\\Nope"), &missing), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(missing, nullptr);

  ITaskService* fresh = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                             reinterpret_cast<void**>(&fresh)),
            S_OK);
  ITaskFolder* folder = nullptr;
  EXPECT_EQ(fresh->GetFolder(_bstr_t(L"\\"), &folder), HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED));
  ITaskDefinition* def = nullptr;
  EXPECT_EQ(fresh->NewTask(0, &def), HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED));
  EXPECT_EQ(fresh->Connect(_variant_t(L"far-away"), _variant_t(), _variant_t(), _variant_t()),
            HRESULT_FROM_WIN32(53));
  EXPECT_EQ(fresh->Connect(_variant_t(L""), _variant_t(), _variant_t(), _variant_t()), S_OK);
  VARIANT_BOOL connected = VARIANT_FALSE;
  fresh->get_Connected(&connected);
  EXPECT_EQ(connected, VARIANT_TRUE);
  fresh->Release();
}

TEST_F(TaskSchedulerTest, StoredFilesThatCannotBeRead) {
  std::filesystem::create_directories(TaskFile(""));
  const std::string kNs = "http://schemas.microsoft.com/windows/2004/02/mit/task";
  const std::string kAction = "<Actions><Exec><Command>C:\\x.exe</Command></Exec></Actions>";
  struct Case {
    const char* name;
    std::string content;
    HRESULT want;
  };
  const Case kCases[] = {
      {"empty", "", SCHED_E_MALFORMEDXML},
      {"truncated", "<?xml version=\"1.0\"?><Task xmlns=\"" + kNs + "\"><Actions>", SCHED_E_MALFORMEDXML},
      {"foreign_namespace", "<Task xmlns=\"urn:other\">" + kAction + "</Task>", SCHED_E_NAMESPACE},
      {"no_namespace", "<Task>" + kAction + "</Task>", SCHED_E_NAMESPACE},
      {"bad_boolean", "<Task xmlns=\"" + kNs + "\"><Settings><Enabled>yes</Enabled></Settings>" + kAction + "</Task>",
       SCHED_E_INVALIDVALUE},
      {"bad_interval", "<Task xmlns=\"" + kNs + "\"><Triggers><CalendarTrigger><StartBoundary>2010-01-01T04:00:00"
                       "</StartBoundary><ScheduleByDay><DaysInterval>x</DaysInterval></ScheduleByDay>"
                       "</CalendarTrigger></Triggers>" + kAction + "</Task>",
       SCHED_E_INVALIDVALUE},
      {"no_action", "<Task xmlns=\"" + kNs + "\"/>", SCHED_E_MISSINGNODE},
      {"hand_written_utf8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Task version=\"1.2\" xmlns=\"" + kNs +
                                "\">\n  <Triggers><BootTrigger id=\"x\"><Enabled>false</Enabled></BootTrigger>"
                                "<TimeTrigger/></Triggers>\n  " + kAction + "\n</Task>\n",
       S_OK},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteFile(TaskFile("Stored"), c.content);
    IRegisteredTask* task = nullptr;
    EXPECT_EQ(root_->GetTask(_bstr_t(L"Stored"), &task), c.want);
    if (task != nullptr) task->Release();
  }
  pal::tasks::Parsed parsed = pal::tasks::FromXml(ReadFile(TaskFile("Stored")));
  ASSERT_EQ(parsed.definition.triggers.size(), 1u);
  EXPECT_FALSE(parsed.definition.triggers[0].enabled);
  EXPECT_EQ(parsed.definition.triggers[0].id, L"x");
}

TEST_F(TaskSchedulerTest, ConcurrentReplacementNeverShowsATornTask) {
  ASSERT_EQ(Register(L"Busy", TaskShape{}), S_OK);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    while (!stop) {
      IRegisteredTask* task = nullptr;
      if (root_->GetTask(_bstr_t(L"Busy"), &task) != S_OK) ++bad;
      if (task != nullptr) task->Release();
    }
    CoUninitialize();
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < 2; ++w) {
    writers.emplace_back([&, w] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      TaskShape shape;
      shape.trigger = w == 0 ? TASK_TRIGGER_BOOT : TASK_TRIGGER_DAILY;
      shape.arguments = std::wstring(2000, L'a' + w);
      for (int i = 0; i < 40; ++i) {
        if (Register(L"Busy", shape) != S_OK) ++bad;
      }
      CoUninitialize();
    });
  }
  for (auto& t : writers) t.join();
  stop = true;
  reader.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
