// The Task Scheduler 2.0 interfaces: the subset needed to define, register, read back and
// delete tasks. Create the service with CoCreateInstance(CLSID_TaskScheduler, ...,
// IID_ITaskService) and Connect it before use (before that its calls fail with
// HRESULT_FROM_WIN32(ERROR_ONLY_IF_CONNECTED)).
//
// The scheduler keeps each registered task as Task Scheduler 2.0 XML (UTF-16LE with byte
// order mark) in C:\Windows\System32\Tasks\<path>, as Windows does. Differs from Windows:
// the triggers offered are the start-up and the daily trigger, the actions the exec action
// (other kinds answer E_NOTIMPL); the registering user is the host account; security
// descriptors are accepted and not kept; tasks start only through the machine tooling
// (taskrun), not by themselves.
#pragma once

#include "ole2.h"

#ifndef SCHED_E_TRIGGER_NOT_FOUND
#define SCHED_E_TRIGGER_NOT_FOUND ((HRESULT)0x80041309L)
#define SCHED_E_INVALID_TASK ((HRESULT)0x8004130EL)
#define SCHED_E_UNEXPECTEDNODE ((HRESULT)0x80041316L)
#define SCHED_E_NAMESPACE ((HRESULT)0x80041317L)
#define SCHED_E_INVALIDVALUE ((HRESULT)0x80041318L)
#define SCHED_E_MISSINGNODE ((HRESULT)0x80041319L)
#define SCHED_E_MALFORMEDXML ((HRESULT)0x8004131AL)
#define SCHED_E_TASK_DISABLED ((HRESULT)0x80041326L)
#define SCHED_E_START_ON_DEMAND ((HRESULT)0x80041328L)
#endif
#ifndef ERROR_ONLY_IF_CONNECTED
#define ERROR_ONLY_IF_CONNECTED 1251L
#endif

typedef enum _TASK_TRIGGER_TYPE2 {
  TASK_TRIGGER_EVENT = 0,
  TASK_TRIGGER_TIME = 1,
  TASK_TRIGGER_DAILY = 2,
  TASK_TRIGGER_WEEKLY = 3,
  TASK_TRIGGER_MONTHLY = 4,
  TASK_TRIGGER_MONTHLYDOW = 5,
  TASK_TRIGGER_IDLE = 6,
  TASK_TRIGGER_REGISTRATION = 7,
  TASK_TRIGGER_BOOT = 8,
  TASK_TRIGGER_LOGON = 9,
  TASK_TRIGGER_SESSION_STATE_CHANGE = 11,
  TASK_TRIGGER_CUSTOM_TRIGGER_01 = 12,
} TASK_TRIGGER_TYPE2;

typedef enum _TASK_ACTION_TYPE {
  TASK_ACTION_EXEC = 0,
  TASK_ACTION_COM_HANDLER = 5,
  TASK_ACTION_SEND_EMAIL = 6,
  TASK_ACTION_SHOW_MESSAGE = 7,
} TASK_ACTION_TYPE;

typedef enum _TASK_LOGON_TYPE {
  TASK_LOGON_NONE = 0,
  TASK_LOGON_PASSWORD = 1,
  TASK_LOGON_S4U = 2,
  TASK_LOGON_INTERACTIVE_TOKEN = 3,
  TASK_LOGON_GROUP = 4,
  TASK_LOGON_SERVICE_ACCOUNT = 5,
  TASK_LOGON_INTERACTIVE_TOKEN_OR_PASSWORD = 6,
} TASK_LOGON_TYPE;

typedef enum _TASK_RUNLEVEL {
  TASK_RUNLEVEL_LUA = 0,
  TASK_RUNLEVEL_HIGHEST = 1,
} TASK_RUNLEVEL_TYPE;

typedef enum _TASK_CREATION {
  TASK_VALIDATE_ONLY = 0x1,
  TASK_CREATE = 0x2,
  TASK_UPDATE = 0x4,
  TASK_CREATE_OR_UPDATE = 0x6,
  TASK_DISABLE = 0x8,
  TASK_DONT_ADD_PRINCIPAL_ACE = 0x10,
  TASK_IGNORE_REGISTRATION_TRIGGERS = 0x20,
} TASK_CREATION;

extern const CLSID CLSID_TaskScheduler;
extern const IID IID_ITaskService;
extern const IID IID_ITaskFolder;
extern const IID IID_ITaskDefinition;
extern const IID IID_IRegistrationInfo;
extern const IID IID_IPrincipal;
extern const IID IID_ITaskSettings;
extern const IID IID_ITriggerCollection;
extern const IID IID_ITrigger;
extern const IID IID_IBootTrigger;
extern const IID IID_IDailyTrigger;
extern const IID IID_IActionCollection;
extern const IID IID_IAction;
extern const IID IID_IExecAction;
extern const IID IID_IRegisteredTask;

struct ITaskFolder;
struct ITaskDefinition;
struct IRegisteredTask;

#define TQ_COM_INTERFACE(name, base) \
  struct name : public base {        \
   protected:                        \
    ~name() = default;               \
                                     \
   public:

// Text properties return a new BSTR the caller frees; a property never set reads as NULL
// or, for the texts Windows fills in itself, its default.

TQ_COM_INTERFACE(IRegistrationInfo, IDispatch)
  STDMETHOD(get_Description)(BSTR* pDescription) PURE;
  STDMETHOD(put_Description)(BSTR description) PURE;
  STDMETHOD(get_Author)(BSTR* pAuthor) PURE;
  STDMETHOD(put_Author)(BSTR author) PURE;
  STDMETHOD(get_URI)(BSTR* pUri) PURE;
};

TQ_COM_INTERFACE(IPrincipal, IDispatch)
  STDMETHOD(get_Id)(BSTR* pId) PURE;
  STDMETHOD(get_UserId)(BSTR* pUser) PURE;
  STDMETHOD(put_UserId)(BSTR user) PURE;
  STDMETHOD(get_LogonType)(TASK_LOGON_TYPE* pLogon) PURE;
  STDMETHOD(put_LogonType)(TASK_LOGON_TYPE logon) PURE;
  STDMETHOD(get_RunLevel)(TASK_RUNLEVEL_TYPE* pRunLevel) PURE;
  STDMETHOD(put_RunLevel)(TASK_RUNLEVEL_TYPE runLevel) PURE;
};

TQ_COM_INTERFACE(ITaskSettings, IDispatch)
  STDMETHOD(get_AllowDemandStart)(VARIANT_BOOL* pAllowDemandStart) PURE;
  STDMETHOD(put_AllowDemandStart)(VARIANT_BOOL allowDemandStart) PURE;
  STDMETHOD(get_StopIfGoingOnBatteries)(VARIANT_BOOL* pStopIfOnBatteries) PURE;
  STDMETHOD(put_StopIfGoingOnBatteries)(VARIANT_BOOL stopIfOnBatteries) PURE;
  STDMETHOD(get_DisallowStartIfOnBatteries)(VARIANT_BOOL* pDisallowStart) PURE;
  STDMETHOD(put_DisallowStartIfOnBatteries)(VARIANT_BOOL disallowStart) PURE;
  STDMETHOD(get_StartWhenAvailable)(VARIANT_BOOL* pStartWhenAvailable) PURE;
  STDMETHOD(put_StartWhenAvailable)(VARIANT_BOOL startWhenAvailable) PURE;
  STDMETHOD(get_ExecutionTimeLimit)(BSTR* pExecutionTimeLimit) PURE;
  STDMETHOD(put_ExecutionTimeLimit)(BSTR executionTimeLimit) PURE;
  STDMETHOD(get_Enabled)(VARIANT_BOOL* pEnabled) PURE;
  STDMETHOD(put_Enabled)(VARIANT_BOOL enabled) PURE;
};

TQ_COM_INTERFACE(ITrigger, IDispatch)
  STDMETHOD(get_Type)(TASK_TRIGGER_TYPE2* pType) PURE;
  STDMETHOD(get_Id)(BSTR* pId) PURE;
  STDMETHOD(put_Id)(BSTR id) PURE;
  STDMETHOD(get_StartBoundary)(BSTR* pStart) PURE;
  STDMETHOD(put_StartBoundary)(BSTR start) PURE;
  STDMETHOD(get_Enabled)(VARIANT_BOOL* pEnabled) PURE;
  STDMETHOD(put_Enabled)(VARIANT_BOOL enabled) PURE;
};

TQ_COM_INTERFACE(IBootTrigger, ITrigger)
};

TQ_COM_INTERFACE(IDailyTrigger, ITrigger)
  STDMETHOD(get_DaysInterval)(short* pDays) PURE;
  STDMETHOD(put_DaysInterval)(short days) PURE;
};

TQ_COM_INTERFACE(ITriggerCollection, IDispatch)
  STDMETHOD(get_Count)(long* pCount) PURE;
  // Items are numbered from 1.
  STDMETHOD(get_Item)(long index, ITrigger** ppTrigger) PURE;
  STDMETHOD(Create)(TASK_TRIGGER_TYPE2 type, ITrigger** ppTrigger) PURE;
};

TQ_COM_INTERFACE(IAction, IDispatch)
  STDMETHOD(get_Id)(BSTR* pId) PURE;
  STDMETHOD(put_Id)(BSTR id) PURE;
  STDMETHOD(get_Type)(TASK_ACTION_TYPE* pType) PURE;
};

TQ_COM_INTERFACE(IExecAction, IAction)
  STDMETHOD(get_Path)(BSTR* pPath) PURE;
  STDMETHOD(put_Path)(BSTR path) PURE;
  STDMETHOD(get_Arguments)(BSTR* pArgument) PURE;
  STDMETHOD(put_Arguments)(BSTR argument) PURE;
  STDMETHOD(get_WorkingDirectory)(BSTR* pWorkingDirectory) PURE;
  STDMETHOD(put_WorkingDirectory)(BSTR workingDirectory) PURE;
};

TQ_COM_INTERFACE(IActionCollection, IDispatch)
  STDMETHOD(get_Count)(long* pCount) PURE;
  // Items are numbered from 1.
  STDMETHOD(get_Item)(long index, IAction** ppAction) PURE;
  STDMETHOD(Create)(TASK_ACTION_TYPE type, IAction** ppAction) PURE;
};

TQ_COM_INTERFACE(ITaskDefinition, IDispatch)
  STDMETHOD(get_RegistrationInfo)(IRegistrationInfo** ppRegistrationInfo) PURE;
  STDMETHOD(get_Triggers)(ITriggerCollection** ppTriggers) PURE;
  STDMETHOD(get_Settings)(ITaskSettings** ppSettings) PURE;
  STDMETHOD(get_Principal)(IPrincipal** ppPrincipal) PURE;
  STDMETHOD(get_Actions)(IActionCollection** ppActions) PURE;
};

TQ_COM_INTERFACE(IRegisteredTask, IDispatch)
  STDMETHOD(get_Name)(BSTR* pName) PURE;
  STDMETHOD(get_Path)(BSTR* pPath) PURE;
  STDMETHOD(get_Definition)(ITaskDefinition** ppDefinition) PURE;
  // The stored XML text.
  STDMETHOD(get_Xml)(BSTR* pXml) PURE;
};

TQ_COM_INTERFACE(ITaskFolder, IDispatch)
  STDMETHOD(get_Name)(BSTR* pName) PURE;
  STDMETHOD(get_Path)(BSTR* pPath) PURE;
  // A sub-folder ("Sub" or "\Sub\Deeper"); HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when
  // there is none.
  STDMETHOD(GetFolder)(BSTR path, ITaskFolder** ppFolder) PURE;
  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for a missing task, SCHED_E_MALFORMEDXML and
  // friends for a stored file that cannot be read.
  STDMETHOD(GetTask)(BSTR path, IRegisteredTask** ppTask) PURE;
  // `flags` must be 0. HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for a missing task,
  // HRESULT_FROM_WIN32(ERROR_INVALID_NAME) for a name that cannot be a task name.
  STDMETHOD(DeleteTask)(BSTR name, LONG flags) PURE;
  // Validates and stores the definition under `path` (sub-folders are created).
  // TASK_CREATE fails with HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) for an existing task,
  // TASK_UPDATE with HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) for a missing one. `userId`
  // and `logonType` take precedence over the definition's principal; with no user the
  // registering account is recorded. A definition without an action gives
  // SCHED_E_MISSINGNODE, a malformed value SCHED_E_INVALIDVALUE.
  STDMETHOD(RegisterTaskDefinition)(BSTR path, ITaskDefinition* pDefinition, LONG flags,
                                    VARIANT userId, VARIANT password, TASK_LOGON_TYPE logonType,
                                    VARIANT sddl, IRegisteredTask** ppTask) PURE;
};

TQ_COM_INTERFACE(ITaskService, IDispatch)
  STDMETHOD(GetFolder)(BSTR path, ITaskFolder** ppFolder) PURE;
  // `flags` must be 0.
  STDMETHOD(NewTask)(DWORD flags, ITaskDefinition** ppDefinition) PURE;
  // Only the local machine: empty variants or an empty server name. Another server name
  // gives HRESULT_FROM_WIN32(ERROR_BAD_NETPATH).
  STDMETHOD(Connect)(VARIANT serverName, VARIANT user, VARIANT domain, VARIANT password) PURE;
  STDMETHOD(get_Connected)(VARIANT_BOOL* pConnected) PURE;
};

#undef TQ_COM_INTERFACE
