// The Task Scheduler 2.0 objects: a service, folders, task definitions and their parts,
// registered tasks. Definitions live in memory until a folder registers them into the
// store (taskschd_store.h).

#include "taskschd.h"

#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "com_object.h"
#include "machine.h"
#include "taskschd_store.h"

const CLSID CLSID_TaskScheduler = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
const IID IID_ITaskService = {0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};
const IID IID_ITaskFolder = {0x8cfac062, 0xa080, 0x4c15, {0x9a, 0x88, 0xaa, 0x7c, 0x2a, 0xf8, 0x0d, 0xfc}};
const IID IID_ITaskDefinition = {0xf5bc8fc5, 0x536d, 0x4f77, {0xb8, 0x52, 0xfb, 0xc1, 0x35, 0x6f, 0xde, 0xb6}};
const IID IID_IRegistrationInfo = {0x416d8b73, 0xcb41, 0x4ea1, {0x80, 0x5c, 0x9b, 0xe9, 0xa5, 0xac, 0x4a, 0x74}};
const IID IID_IPrincipal = {0xd98d51e5, 0xc9b4, 0x496a, {0xa9, 0xc1, 0x18, 0x98, 0x02, 0x61, 0xcf, 0x0f}};
const IID IID_ITaskSettings = {0x8fd4711d, 0x2d02, 0x4c8c, {0x87, 0xe3, 0xef, 0xf6, 0x99, 0xde, 0x12, 0x7e}};
const IID IID_ITriggerCollection = {0x85df5081, 0x1b24, 0x4f32, {0x87, 0x8a, 0xd9, 0xd1, 0x4d, 0xf4, 0xcb, 0x77}};
const IID IID_ITrigger = {0x09941815, 0xea89, 0x4b5b, {0x89, 0xe0, 0x2a, 0x77, 0x38, 0x01, 0xfa, 0xc3}};
const IID IID_IBootTrigger = {0x2a9c35da, 0xd357, 0x41f4, {0xbb, 0xc1, 0x20, 0x7a, 0xc1, 0xb1, 0xf3, 0xcb}};
const IID IID_IDailyTrigger = {0x126c5cd8, 0xb288, 0x41d5, {0x8d, 0xbf, 0xe4, 0x91, 0x44, 0x6a, 0xdc, 0x5c}};
const IID IID_IActionCollection = {0x02820e19, 0x7b98, 0x4ed2, {0xb2, 0xe8, 0xfd, 0xcc, 0xce, 0xff, 0x61, 0x9b}};
const IID IID_IAction = {0xbae54997, 0x48b1, 0x4cbe, {0x99, 0x65, 0xd6, 0xbe, 0x26, 0x3e, 0xbe, 0xa4}};
const IID IID_IExecAction = {0x4c3d624d, 0xfd6b, 0x49a3, {0xb9, 0xb7, 0x09, 0xcb, 0x3c, 0xd3, 0xf0, 0x47}};
const IID IID_IRegisteredTask = {0x9c86f320, 0xdee3, 0x4dd1, {0xb9, 0x72, 0xa3, 0x03, 0xf2, 0x6b, 0x06, 0x1e}};

namespace pal {
namespace {

using tasks::ExecAction;
using tasks::TaskDefinition;
using tasks::Trigger;
using tasks::TriggerKind;

constexpr long kErrorBadNetPath = 53;

// The state of one definition, shared by the objects that expose its parts.
struct DefinitionState {
  std::mutex mu;
  TaskDefinition def;
};
using StatePtr = std::shared_ptr<DefinitionState>;

std::wstring FromBstr(BSTR s) { return s != nullptr ? std::wstring(s, SysStringLen(s)) : std::wstring(); }

HRESULT ToBstr(const std::wstring& text, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (text.empty()) return S_OK;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT FromError(std::error_code ec) { return HRESULT_FROM_WIN32(static_cast<DWORD>(ec.value())); }

HRESULT FromFault(tasks::DefinitionFault fault) {
  switch (fault) {
    case tasks::DefinitionFault::kNone: return S_OK;
    case tasks::DefinitionFault::kMissingNode: return SCHED_E_MISSINGNODE;
    case tasks::DefinitionFault::kInvalidValue: return SCHED_E_INVALIDVALUE;
    case tasks::DefinitionFault::kNamespace: return SCHED_E_NAMESPACE;
    case tasks::DefinitionFault::kMalformedXml: return SCHED_E_MALFORMEDXML;
  }
  return E_FAIL;
}

// A variant that stands for an optional text: missing, empty, or a string.
bool OptionalText(const VARIANT& v, std::wstring* text) {
  text->clear();
  if (v.vt == VT_EMPTY || v.vt == VT_NULL || v.vt == VT_ERROR) return true;
  if (v.vt != VT_BSTR) return false;
  *text = FromBstr(v.bstrVal);
  return true;
}

template <class T>
HRESULT Hand(T* object, T** out) {
  if (object == nullptr) return E_OUTOFMEMORY;
  *out = object;
  return S_OK;
}

// Reads and writes one member of the definition under its lock.
template <class Interface, const IID*... Iids>
class PartObject : public ComObject<Interface, Iids...> {
 public:
  explicit PartObject(StatePtr state) : state_(std::move(state)) {}

 protected:
  template <class F>
  HRESULT Get(BSTR* out, F field) {
    std::lock_guard<std::mutex> lock(state_->mu);
    return ToBstr(field(state_->def), out);
  }
  template <class F>
  HRESULT GetBool(VARIANT_BOOL* out, F field) {
    if (out == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(state_->mu);
    *out = field(state_->def) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  template <class F>
  HRESULT Set(F change) {
    std::lock_guard<std::mutex> lock(state_->mu);
    change(state_->def);
    return S_OK;
  }
  StatePtr state_;
};

class RegistrationInfoObject final
    : public PartObject<IRegistrationInfo, &IID_IRegistrationInfo> {
 public:
  using PartObject::PartObject;
  STDMETHODIMP get_Description(BSTR* p) override { return Get(p, [](auto& d) { return d.description; }); }
  STDMETHODIMP put_Description(BSTR s) override { return Set([&](auto& d) { d.description = FromBstr(s); }); }
  STDMETHODIMP get_Author(BSTR* p) override { return Get(p, [](auto& d) { return d.author; }); }
  STDMETHODIMP put_Author(BSTR s) override { return Set([&](auto& d) { d.author = FromBstr(s); }); }
  STDMETHODIMP get_URI(BSTR* p) override { return Get(p, [](auto& d) { return d.uri; }); }
};

class PrincipalObject final : public PartObject<IPrincipal, &IID_IPrincipal> {
 public:
  using PartObject::PartObject;
  STDMETHODIMP get_Id(BSTR* p) override { return Get(p, [](auto& d) { return d.principal.id; }); }
  STDMETHODIMP get_UserId(BSTR* p) override { return Get(p, [](auto& d) { return d.principal.user_id; }); }
  STDMETHODIMP put_UserId(BSTR s) override { return Set([&](auto& d) { d.principal.user_id = FromBstr(s); }); }
  STDMETHODIMP get_LogonType(TASK_LOGON_TYPE* p) override {
    if (p == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(state_->mu);
    *p = static_cast<TASK_LOGON_TYPE>(state_->def.principal.logon_type);
    return S_OK;
  }
  STDMETHODIMP put_LogonType(TASK_LOGON_TYPE logon) override {
    if (logon < TASK_LOGON_NONE || logon > TASK_LOGON_INTERACTIVE_TOKEN_OR_PASSWORD) return E_INVALIDARG;
    return Set([&](auto& d) { d.principal.logon_type = logon; });
  }
  STDMETHODIMP get_RunLevel(TASK_RUNLEVEL_TYPE* p) override {
    if (p == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(state_->mu);
    *p = static_cast<TASK_RUNLEVEL_TYPE>(state_->def.principal.run_level);
    return S_OK;
  }
  STDMETHODIMP put_RunLevel(TASK_RUNLEVEL_TYPE level) override {
    if (level != TASK_RUNLEVEL_LUA && level != TASK_RUNLEVEL_HIGHEST) return E_INVALIDARG;
    return Set([&](auto& d) { d.principal.run_level = level; });
  }
};

class SettingsObject final : public PartObject<ITaskSettings, &IID_ITaskSettings> {
 public:
  using PartObject::PartObject;
#define TQ_BOOL_PROPERTY(Name, member)                                                    \
  STDMETHODIMP get_##Name(VARIANT_BOOL* p) override {                                     \
    return GetBool(p, [](auto& d) { return d.settings.member; });                         \
  }                                                                                       \
  STDMETHODIMP put_##Name(VARIANT_BOOL v) override {                                      \
    return Set([&](auto& d) { d.settings.member = v != VARIANT_FALSE; });                 \
  }
  TQ_BOOL_PROPERTY(AllowDemandStart, allow_demand_start)
  TQ_BOOL_PROPERTY(StopIfGoingOnBatteries, stop_if_going_on_batteries)
  TQ_BOOL_PROPERTY(DisallowStartIfOnBatteries, disallow_start_if_on_batteries)
  TQ_BOOL_PROPERTY(StartWhenAvailable, start_when_available)
  TQ_BOOL_PROPERTY(Enabled, enabled)
#undef TQ_BOOL_PROPERTY
  STDMETHODIMP get_ExecutionTimeLimit(BSTR* p) override {
    return Get(p, [](auto& d) { return d.settings.execution_time_limit; });
  }
  // An empty limit restores the default of 72 hours.
  STDMETHODIMP put_ExecutionTimeLimit(BSTR s) override {
    return Set([&](auto& d) {
      d.settings.execution_time_limit = SysStringLen(s) > 0 ? FromBstr(s) : L"PT72H";
    });
  }
};

// One trigger of a definition; `Interface` is IBootTrigger or IDailyTrigger.
template <class Interface, const IID* Iid>
class TriggerObject : public PartObject<Interface, &IID_ITrigger, Iid> {
 public:
  TriggerObject(StatePtr state, Trigger* trigger)
      : PartObject<Interface, &IID_ITrigger, Iid>(std::move(state)), trigger_(trigger) {}
  STDMETHODIMP get_Type(TASK_TRIGGER_TYPE2* p) override {
    if (p == nullptr) return E_POINTER;
    *p = trigger_->kind == TriggerKind::kDaily ? TASK_TRIGGER_DAILY : TASK_TRIGGER_BOOT;
    return S_OK;
  }
  STDMETHODIMP get_Id(BSTR* p) override { return this->Get(p, [&](auto&) { return trigger_->id; }); }
  STDMETHODIMP put_Id(BSTR s) override { return this->Set([&](auto&) { trigger_->id = FromBstr(s); }); }
  STDMETHODIMP get_StartBoundary(BSTR* p) override {
    return this->Get(p, [&](auto&) { return trigger_->start_boundary; });
  }
  STDMETHODIMP put_StartBoundary(BSTR s) override {
    return this->Set([&](auto&) { trigger_->start_boundary = FromBstr(s); });
  }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* p) override {
    return this->GetBool(p, [&](auto&) { return trigger_->enabled; });
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL v) override {
    return this->Set([&](auto&) { trigger_->enabled = v != VARIANT_FALSE; });
  }

 protected:
  Trigger* trigger_;
};

class BootTriggerObject final : public TriggerObject<IBootTrigger, &IID_IBootTrigger> {
 public:
  using TriggerObject::TriggerObject;
};

class DailyTriggerObject final : public TriggerObject<IDailyTrigger, &IID_IDailyTrigger> {
 public:
  using TriggerObject::TriggerObject;
  STDMETHODIMP get_DaysInterval(short* p) override {
    if (p == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(state_->mu);
    *p = static_cast<short>(trigger_->days_interval);
    return S_OK;
  }
  // Checked when the task is registered (1 to 365), as the scheduler does.
  STDMETHODIMP put_DaysInterval(short days) override {
    return Set([&](auto&) { trigger_->days_interval = days; });
  }
};

ITrigger* NewTriggerObject(const StatePtr& state, Trigger* trigger) {
  if (trigger->kind == TriggerKind::kDaily) return new (std::nothrow) DailyTriggerObject(state, trigger);
  return new (std::nothrow) BootTriggerObject(state, trigger);
}

class TriggerCollectionObject final
    : public PartObject<ITriggerCollection, &IID_ITriggerCollection> {
 public:
  using PartObject::PartObject;
  STDMETHODIMP get_Count(long* p) override {
    if (p == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(state_->mu);
    *p = static_cast<long>(state_->def.triggers.size());
    return S_OK;
  }
  STDMETHODIMP get_Item(long index, ITrigger** pp) override {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    std::lock_guard<std::mutex> lock(state_->mu);
    if (index < 1 || static_cast<size_t>(index) > state_->def.triggers.size()) return E_INVALIDARG;
    return Hand(NewTriggerObject(state_, &state_->def.triggers[static_cast<size_t>(index - 1)]), pp);
  }
  STDMETHODIMP Create(TASK_TRIGGER_TYPE2 type, ITrigger** pp) override {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    if (type != TASK_TRIGGER_BOOT && type != TASK_TRIGGER_DAILY) {
      bool known = type >= TASK_TRIGGER_EVENT && type <= TASK_TRIGGER_CUSTOM_TRIGGER_01 && type != 10;
      return known ? E_NOTIMPL : E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(state_->mu);
    Trigger trigger;
    trigger.kind = type == TASK_TRIGGER_DAILY ? TriggerKind::kDaily : TriggerKind::kBoot;
    state_->def.triggers.push_back(trigger);
    ITrigger* object = NewTriggerObject(state_, &state_->def.triggers.back());
    if (object == nullptr) state_->def.triggers.pop_back();
    return Hand(object, pp);
  }
};

class ExecActionObject final : public PartObject<IExecAction, &IID_IAction, &IID_IExecAction> {
 public:
  ExecActionObject(StatePtr state, ExecAction* action) : PartObject(std::move(state)), action_(action) {}
  STDMETHODIMP get_Id(BSTR* p) override { return Get(p, [&](auto&) { return action_->id; }); }
  STDMETHODIMP put_Id(BSTR s) override { return Set([&](auto&) { action_->id = FromBstr(s); }); }
  STDMETHODIMP get_Type(TASK_ACTION_TYPE* p) override {
    if (p == nullptr) return E_POINTER;
    *p = TASK_ACTION_EXEC;
    return S_OK;
  }
  STDMETHODIMP get_Path(BSTR* p) override { return Get(p, [&](auto&) { return action_->path; }); }
  STDMETHODIMP put_Path(BSTR s) override { return Set([&](auto&) { action_->path = FromBstr(s); }); }
  STDMETHODIMP get_Arguments(BSTR* p) override { return Get(p, [&](auto&) { return action_->arguments; }); }
  STDMETHODIMP put_Arguments(BSTR s) override {
    return Set([&](auto&) { action_->arguments = FromBstr(s); });
  }
  STDMETHODIMP get_WorkingDirectory(BSTR* p) override {
    return Get(p, [&](auto&) { return action_->working_directory; });
  }
  STDMETHODIMP put_WorkingDirectory(BSTR s) override {
    return Set([&](auto&) { action_->working_directory = FromBstr(s); });
  }

 private:
  ExecAction* action_;
};

class ActionCollectionObject final
    : public PartObject<IActionCollection, &IID_IActionCollection> {
 public:
  using PartObject::PartObject;
  STDMETHODIMP get_Count(long* p) override {
    if (p == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(state_->mu);
    *p = static_cast<long>(state_->def.actions.size());
    return S_OK;
  }
  STDMETHODIMP get_Item(long index, IAction** pp) override {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    std::lock_guard<std::mutex> lock(state_->mu);
    if (index < 1 || static_cast<size_t>(index) > state_->def.actions.size()) return E_INVALIDARG;
    IAction* object = new (std::nothrow)
        ExecActionObject(state_, &state_->def.actions[static_cast<size_t>(index - 1)]);
    return Hand(object, pp);
  }
  STDMETHODIMP Create(TASK_ACTION_TYPE type, IAction** pp) override {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    if (type != TASK_ACTION_EXEC) {
      bool known = type == TASK_ACTION_COM_HANDLER || type == TASK_ACTION_SEND_EMAIL ||
                   type == TASK_ACTION_SHOW_MESSAGE;
      return known ? E_NOTIMPL : E_INVALIDARG;
    }
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->def.actions.emplace_back();
    IAction* object = new (std::nothrow) ExecActionObject(state_, &state_->def.actions.back());
    if (object == nullptr) state_->def.actions.pop_back();
    return Hand(object, pp);
  }
};

class TaskDefinitionObject final : public PartObject<ITaskDefinition, &IID_ITaskDefinition> {
 public:
  using PartObject::PartObject;
  STDMETHODIMP get_RegistrationInfo(IRegistrationInfo** pp) override { return Part<RegistrationInfoObject>(pp); }
  STDMETHODIMP get_Triggers(ITriggerCollection** pp) override { return Part<TriggerCollectionObject>(pp); }
  STDMETHODIMP get_Settings(ITaskSettings** pp) override { return Part<SettingsObject>(pp); }
  STDMETHODIMP get_Principal(IPrincipal** pp) override { return Part<PrincipalObject>(pp); }
  STDMETHODIMP get_Actions(IActionCollection** pp) override { return Part<ActionCollectionObject>(pp); }

  TaskDefinition Snapshot() {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->def;
  }

 private:
  template <class Object, class Interface>
  HRESULT Part(Interface** pp) {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    return Hand<Interface>(new (std::nothrow) Object(state_), pp);
  }
};

TaskDefinitionObject* NewDefinition(TaskDefinition def) {
  auto state = std::make_shared<DefinitionState>();
  state->def = std::move(def);
  return new (std::nothrow) TaskDefinitionObject(std::move(state));
}

std::wstring JoinPath(const std::vector<std::wstring>& components) {
  std::wstring path;
  for (const std::wstring& part : components) path += L"\\" + part;
  return path.empty() ? L"\\" : path;
}

// The stored document as text: UTF-16LE with its byte order mark, or UTF-8.
std::wstring DecodeDocument(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      uint32_t unit = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
        uint32_t low = static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
  }
  return FromUtf8(bytes);
}

class RegisteredTaskObject final : public ComObject<IRegisteredTask, &IID_IRegisteredTask> {
 public:
  RegisteredTaskObject(std::vector<std::wstring> components, TaskDefinition def, std::string xml)
      : components_(std::move(components)), def_(std::move(def)), xml_(std::move(xml)) {}
  STDMETHODIMP get_Name(BSTR* p) override { return ToBstr(components_.back(), p); }
  STDMETHODIMP get_Path(BSTR* p) override { return ToBstr(JoinPath(components_), p); }
  STDMETHODIMP get_Definition(ITaskDefinition** pp) override {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    return Hand<ITaskDefinition>(NewDefinition(def_), pp);
  }
  STDMETHODIMP get_Xml(BSTR* p) override { return ToBstr(DecodeDocument(xml_), p); }

 private:
  std::vector<std::wstring> components_;
  TaskDefinition def_;
  std::string xml_;
};

class TaskFolderObject final : public ComObject<ITaskFolder, &IID_ITaskFolder> {
 public:
  explicit TaskFolderObject(std::vector<std::wstring> components) : components_(std::move(components)) {}

  STDMETHODIMP get_Name(BSTR* p) override {
    return ToBstr(components_.empty() ? L"\\" : components_.back(), p);
  }
  STDMETHODIMP get_Path(BSTR* p) override { return ToBstr(JoinPath(components_), p); }

  STDMETHODIMP GetFolder(BSTR path, ITaskFolder** pp) override { return Open(components_, path, pp); }

  // The folder `path` names, from `base` or, when it begins with a backslash, from the root.
  static HRESULT Open(const std::vector<std::wstring>& base, BSTR path, ITaskFolder** pp) {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    std::vector<std::wstring> target;
    HRESULT hr = Resolve(base, path, true, &target);
    if (FAILED(hr)) return hr;
    if (!target.empty() && !tasks::FolderExists(target)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    return Hand<ITaskFolder>(new (std::nothrow) TaskFolderObject(std::move(target)), pp);
  }

  STDMETHODIMP GetTask(BSTR path, IRegisteredTask** pp) override {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    std::vector<std::wstring> target;
    HRESULT hr = Resolve(components_, path, false, &target);
    if (FAILED(hr)) return hr;
    Result<std::string> bytes = tasks::LoadTask(target);
    if (!bytes) return FromError(bytes.error());
    tasks::Parsed parsed = tasks::FromXml(*bytes);
    if (parsed.fault != tasks::DefinitionFault::kNone) return FromFault(parsed.fault);
    return Hand<IRegisteredTask>(
        new (std::nothrow) RegisteredTaskObject(std::move(target), std::move(parsed.definition), std::move(*bytes)),
        pp);
  }

  STDMETHODIMP DeleteTask(BSTR name, LONG flags) override {
    if (flags != 0) return E_INVALIDARG;
    std::vector<std::wstring> target;
    HRESULT hr = Resolve(components_, name, false, &target);
    if (FAILED(hr)) return hr;
    std::error_code ec = tasks::RemoveTask(target);
    return ec ? FromError(ec) : S_OK;
  }

  STDMETHODIMP RegisterTaskDefinition(BSTR path, ITaskDefinition* pDefinition, LONG flags,
                                      VARIANT userId, VARIANT password, TASK_LOGON_TYPE logonType,
                                      VARIANT sddl, IRegisteredTask** ppTask) override {
    if (ppTask != nullptr) *ppTask = nullptr;
    if (pDefinition == nullptr) return E_POINTER;
    auto* definition = dynamic_cast<TaskDefinitionObject*>(pDefinition);
    constexpr LONG kKnownFlags = 0x3F;
    constexpr LONG kActions = TASK_VALIDATE_ONLY | TASK_CREATE | TASK_UPDATE;
    std::wstring user, secret, descriptor;
    if (definition == nullptr || (flags & ~kKnownFlags) != 0 || (flags & kActions) == 0 ||
        logonType < TASK_LOGON_NONE || logonType > TASK_LOGON_INTERACTIVE_TOKEN_OR_PASSWORD ||
        !OptionalText(userId, &user) || !OptionalText(password, &secret) ||
        !OptionalText(sddl, &descriptor)) {
      return E_INVALIDARG;
    }
    if (logonType == TASK_LOGON_PASSWORD && secret.empty()) return E_INVALIDARG;
    std::vector<std::wstring> target;
    HRESULT hr = Resolve(components_, path, false, &target);
    if (FAILED(hr)) return hr;

    TaskDefinition def = definition->Snapshot();
    if (!user.empty()) {
      def.principal.user_id = user;
    } else if (def.principal.user_id.empty()) {
      def.principal.user_id = tasks::CurrentUserName();
    }
    if (logonType != TASK_LOGON_NONE) def.principal.logon_type = logonType;
    if ((flags & TASK_DISABLE) != 0) def.settings.enabled = false;
    def.uri = JoinPath(target);
    hr = FromFault(tasks::Validate(def));
    if (FAILED(hr) || (flags & (TASK_CREATE | TASK_UPDATE)) == 0) return hr;

    std::string xml = tasks::ToXml(def);
    tasks::StoreMode mode = (flags & TASK_CREATE_OR_UPDATE) == TASK_CREATE_OR_UPDATE ? tasks::StoreMode::kCreateOrUpdate
                            : (flags & TASK_CREATE) != 0                           ? tasks::StoreMode::kCreate
                                                                                   : tasks::StoreMode::kUpdate;
    if (std::error_code ec = tasks::StoreTask(target, xml, mode)) return FromError(ec);
    if (ppTask == nullptr) return S_OK;
    return Hand<IRegisteredTask>(
        new (std::nothrow) RegisteredTaskObject(std::move(target), std::move(def), std::move(xml)), ppTask);
  }

 private:
  // A path below this folder, or from the root when it begins with a backslash.
  static HRESULT Resolve(const std::vector<std::wstring>& base, BSTR path, bool allow_root,
                         std::vector<std::wstring>* out) {
    std::wstring text = FromBstr(path);
    *out = (!text.empty() && text[0] == L'\\') ? std::vector<std::wstring>() : base;
    if (text.empty() || text == L"\\") return allow_root ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    Result<std::vector<std::wstring>> parts = tasks::SplitTaskPath(text);
    if (!parts) return FromError(parts.error());
    out->insert(out->end(), parts->begin(), parts->end());
    return S_OK;
  }

  std::vector<std::wstring> components_;
};

class TaskServiceObject final : public ComObject<ITaskService, &IID_ITaskService> {
 public:
  STDMETHODIMP GetFolder(BSTR path, ITaskFolder** pp) override {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    if (!connected_) return HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED);
    return TaskFolderObject::Open({}, path, pp);
  }
  STDMETHODIMP NewTask(DWORD flags, ITaskDefinition** pp) override {
    if (pp == nullptr) return E_POINTER;
    *pp = nullptr;
    if (!connected_) return HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED);
    if (flags != 0) return E_INVALIDARG;
    return Hand<ITaskDefinition>(NewDefinition(TaskDefinition()), pp);
  }
  STDMETHODIMP Connect(VARIANT serverName, VARIANT user, VARIANT domain, VARIANT password) override {
    std::wstring server, text;
    if (!OptionalText(serverName, &server) || !OptionalText(user, &text) ||
        !OptionalText(domain, &text) || !OptionalText(password, &text)) {
      return E_INVALIDARG;
    }
    if (!server.empty() && server != L"localhost" && server != L".") {
      return HRESULT_FROM_WIN32(kErrorBadNetPath);
    }
    connected_ = true;
    return S_OK;
  }
  STDMETHODIMP get_Connected(VARIANT_BOOL* p) override {
    if (p == nullptr) return E_POINTER;
    *p = connected_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

 private:
  std::atomic<bool> connected_{false};
};

}  // namespace

HRESULT CreateTaskService(REFIID riid, void** ppv) {
  auto* service = new (std::nothrow) TaskServiceObject();
  if (service == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = service->QueryInterface(riid, ppv);
  service->Release();
  return hr;
}

}  // namespace pal
