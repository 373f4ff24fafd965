// Task definitions as Task Scheduler 2.0 XML, through libxml2.

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <cwctype>
#include <memory>

#include "machine.h"
#include "pal/errors.h"
#include "taskschd_store.h"

namespace pal::tasks {
namespace {

constexpr const char* kNamespace = "http://schemas.microsoft.com/windows/2004/02/mit/task";
constexpr const char* kVersion = "1.2";

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

// Characters XML 1.0 can carry.
bool IsXmlText(std::wstring_view text) {
  for (wchar_t c : text) {
    auto u = static_cast<uint32_t>(c);
    bool ok = u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u <= 0xD7FF) ||
              (u >= 0xE000 && u <= 0xFFFD) || (u >= 0x10000 && u <= 0x10FFFF);
    if (!ok) return false;
  }
  return true;
}

bool Digits(std::wstring_view s, size_t at, size_t count, int* value) {
  if (at + count > s.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (s[i] < L'0' || s[i] > L'9') return false;
    v = v * 10 + (s[i] - L'0');
  }
  *value = v;
  return true;
}

// xs:dateTime as the scheduler takes it: YYYY-MM-DDTHH:MM:SS, optional fraction, optional
// "Z" or +HH:MM / -HH:MM.
bool IsDateTime(std::wstring_view s) {
  int year, month, day, hour, minute, second;
  if (!Digits(s, 0, 4, &year) || s.size() < 19 || s[4] != L'-' || !Digits(s, 5, 2, &month) ||
      s[7] != L'-' || !Digits(s, 8, 2, &day) || s[10] != L'T' || !Digits(s, 11, 2, &hour) ||
      s[13] != L':' || !Digits(s, 14, 2, &minute) || s[16] != L':' ||
      !Digits(s, 17, 2, &second)) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  size_t at = 19;
  if (at < s.size() && s[at] == L'.') {
    size_t digits = 0;
    while (++at < s.size() && s[at] >= L'0' && s[at] <= L'9') ++digits;
    if (digits == 0) return false;
  }
  if (at == s.size()) return true;
  if (s[at] == L'Z') return at + 1 == s.size();
  int zone_hour, zone_minute;
  return (s[at] == L'+' || s[at] == L'-') && s.size() == at + 6 &&
         Digits(s, at + 1, 2, &zone_hour) && s[at + 3] == L':' &&
         Digits(s, at + 4, 2, &zone_minute) && zone_hour <= 14 && zone_minute <= 59;
}

// xs:duration as the scheduler takes it: PnYnMnDTnHnMnS with at least one part.
bool IsDuration(std::wstring_view s) {
  if (s.size() < 2 || s[0] != L'P') return false;
  const wchar_t* date_units = L"YMD";
  const wchar_t* time_units = L"HMS";
  const wchar_t* units = date_units;
  bool any = false;
  bool in_time = false;
  size_t i = 1;
  while (i < s.size()) {
    if (s[i] == L'T') {
      if (in_time || i + 1 == s.size()) return false;
      in_time = true;
      units = time_units;
      ++i;
      continue;
    }
    size_t start = i;
    while (i < s.size() && s[i] >= L'0' && s[i] <= L'9') ++i;
    if (i == start || i == s.size()) return false;
    const wchar_t* unit = std::wcschr(units, s[i]);
    if (unit == nullptr) return false;
    units = unit + 1;  // each unit once, in order
    any = true;
    ++i;
  }
  return any;
}

const wchar_t* LogonTypeName(int logon_type) {
  switch (logon_type) {
    case 1: return L"Password";
    case 2: return L"S4U";
    case 3: return L"InteractiveToken";
    case 6: return L"InteractiveTokenOrPassword";
    default: return nullptr;
  }
}

bool LogonTypeFromName(std::wstring_view name, int* logon_type) {
  for (int type : {1, 2, 3, 6}) {
    if (name == LogonTypeName(type)) {
      *logon_type = type;
      return true;
    }
  }
  return false;
}

// ---- writing ----

class Writer {
 public:
  explicit Writer(xmlDoc* doc) {
    root_ = xmlNewDocNode(doc, nullptr, X("Task"), nullptr);
    xmlDocSetRootElement(doc, root_);
    ns_ = xmlNewNs(root_, X(kNamespace), nullptr);
    xmlSetNs(root_, ns_);
    xmlNewProp(root_, X("version"), X(kVersion));
  }
  xmlNode* root() const { return root_; }
  xmlNode* Element(xmlNode* parent, const char* name) {
    return xmlNewChild(parent, ns_, X(name), nullptr);
  }
  // xmlNewTextChild escapes the text.
  void Text(xmlNode* parent, const char* name, std::wstring_view text) {
    xmlNewTextChild(parent, ns_, X(name), X(ToUtf8(text).c_str()));
  }
  void TextIfSet(xmlNode* parent, const char* name, std::wstring_view text) {
    if (!text.empty()) Text(parent, name, text);
  }
  void Bool(xmlNode* parent, const char* name, bool value) {
    Text(parent, name, value ? L"true" : L"false");
  }
  static void Attribute(xmlNode* node, const char* name, std::wstring_view value) {
    if (!value.empty()) xmlNewProp(node, X(name), X(ToUtf8(value).c_str()));
  }

 private:
  xmlNode* root_;
  xmlNs* ns_;
};

// ---- reading ----

bool IsElement(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0 &&
         node->ns != nullptr && std::strcmp(reinterpret_cast<const char*>(node->ns->href), kNamespace) == 0;
}

const xmlNode* FirstChild(const xmlNode* parent, const char* name) {
  for (const xmlNode* n = parent->children; n != nullptr; n = n->next) {
    if (IsElement(n, name)) return n;
  }
  return nullptr;
}

std::wstring Content(const xmlNode* node) {
  xmlChar* text = xmlNodeGetContent(node);
  if (text == nullptr) return {};
  std::wstring result = FromUtf8(reinterpret_cast<const char*>(text));
  xmlFree(text);
  return result;
}

// Values of the schema's boolean, number and enumeration types may carry surrounding white
// space; texts keep theirs.
std::wstring Collapsed(std::wstring text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::iswspace(text[begin])) ++begin;
  while (end > begin && std::iswspace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::wstring AttributeText(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetProp(node, X(name));
  if (value == nullptr) return {};
  std::wstring result = FromUtf8(reinterpret_cast<const char*>(value));
  xmlFree(value);
  return result;
}

class Reader {
 public:
  DefinitionFault fault = DefinitionFault::kNone;

  std::wstring Text(const xmlNode* parent, const char* name, std::wstring fallback = {}) {
    const xmlNode* node = FirstChild(parent, name);
    return node != nullptr ? Content(node) : fallback;
  }
  bool Bool(const xmlNode* parent, const char* name, bool fallback) {
    const xmlNode* node = FirstChild(parent, name);
    if (node == nullptr) return fallback;
    std::wstring text = Collapsed(Content(node));
    if (text == L"true" || text == L"1") return true;
    if (text == L"false" || text == L"0") return false;
    Fail(DefinitionFault::kInvalidValue);
    return fallback;
  }
  void Fail(DefinitionFault f) {
    if (fault == DefinitionFault::kNone) fault = f;
  }
};

void ReadTrigger(Reader& r, const xmlNode* node, TriggerKind kind, TaskDefinition& def) {
  Trigger trigger;
  trigger.kind = kind;
  trigger.id = AttributeText(node, "id");
  trigger.start_boundary = Collapsed(r.Text(node, "StartBoundary"));
  trigger.enabled = r.Bool(node, "Enabled", true);
  if (kind == TriggerKind::kDaily) {
    const xmlNode* by_day = FirstChild(node, "ScheduleByDay");
    std::wstring interval = Collapsed(by_day != nullptr ? r.Text(by_day, "DaysInterval", L"1") : L"1");
    int days = 0;
    if (interval.empty() || interval.size() > 3 || !Digits(interval, 0, interval.size(), &days)) {
      r.Fail(DefinitionFault::kInvalidValue);
    }
    trigger.days_interval = days;
  }
  def.triggers.push_back(std::move(trigger));
}

}  // namespace

DefinitionFault Validate(const TaskDefinition& d) {
  for (std::wstring_view text : {std::wstring_view(d.author), std::wstring_view(d.description),
                                 std::wstring_view(d.uri), std::wstring_view(d.principal.user_id),
                                 std::wstring_view(d.settings.execution_time_limit)}) {
    if (!IsXmlText(text)) return DefinitionFault::kInvalidValue;
  }
  if (d.actions.empty()) return DefinitionFault::kMissingNode;
  for (const ExecAction& a : d.actions) {
    if (a.path.empty()) return DefinitionFault::kMissingNode;
    if (!IsXmlText(a.id) || !IsXmlText(a.path) || !IsXmlText(a.arguments) ||
        !IsXmlText(a.working_directory)) {
      return DefinitionFault::kInvalidValue;
    }
  }
  for (const Trigger& t : d.triggers) {
    if (!IsXmlText(t.id)) return DefinitionFault::kInvalidValue;
    if (t.kind == TriggerKind::kDaily && t.start_boundary.empty()) {
      return DefinitionFault::kMissingNode;
    }
    if (!t.start_boundary.empty() && !IsDateTime(t.start_boundary)) {
      return DefinitionFault::kInvalidValue;
    }
    if (t.kind == TriggerKind::kDaily && (t.days_interval < 1 || t.days_interval > 365)) {
      return DefinitionFault::kInvalidValue;
    }
  }
  if (!IsDuration(d.settings.execution_time_limit)) return DefinitionFault::kInvalidValue;
  return DefinitionFault::kNone;
}

std::string ToXml(const TaskDefinition& d) {
  DocPtr doc(xmlNewDoc(X("1.0")));
  Writer w(doc.get());

  xmlNode* info = w.Element(w.root(), "RegistrationInfo");
  w.TextIfSet(info, "Author", d.author);
  w.TextIfSet(info, "Description", d.description);
  w.TextIfSet(info, "URI", d.uri);

  xmlNode* triggers = w.Element(w.root(), "Triggers");
  for (const Trigger& t : d.triggers) {
    bool daily = t.kind == TriggerKind::kDaily;
    xmlNode* node = w.Element(triggers, daily ? "CalendarTrigger" : "BootTrigger");
    Writer::Attribute(node, "id", t.id);
    w.TextIfSet(node, "StartBoundary", t.start_boundary);
    w.Bool(node, "Enabled", t.enabled);
    if (daily) {
      xmlNode* by_day = w.Element(node, "ScheduleByDay");
      w.Text(by_day, "DaysInterval", std::to_wstring(t.days_interval));
    }
  }

  xmlNode* principals = w.Element(w.root(), "Principals");
  xmlNode* principal = w.Element(principals, "Principal");
  Writer::Attribute(principal, "id", d.principal.id);
  w.TextIfSet(principal, "UserId", d.principal.user_id);
  if (const wchar_t* logon = LogonTypeName(d.principal.logon_type)) {
    w.Text(principal, "LogonType", logon);
  }
  w.Text(principal, "RunLevel", d.principal.run_level == 1 ? L"HighestAvailable" : L"LeastPrivilege");

  xmlNode* settings = w.Element(w.root(), "Settings");
  w.Bool(settings, "DisallowStartIfOnBatteries", d.settings.disallow_start_if_on_batteries);
  w.Bool(settings, "StopIfGoingOnBatteries", d.settings.stop_if_going_on_batteries);
  w.Bool(settings, "StartWhenAvailable", d.settings.start_when_available);
  w.Bool(settings, "AllowStartOnDemand", d.settings.allow_demand_start);
  w.Bool(settings, "Enabled", d.settings.enabled);
  w.Text(settings, "ExecutionTimeLimit", d.settings.execution_time_limit);

  xmlNode* actions = w.Element(w.root(), "Actions");
  xmlNewProp(actions, X("Context"), X(ToUtf8(d.principal.id).c_str()));
  for (const ExecAction& a : d.actions) {
    xmlNode* exec = w.Element(actions, "Exec");
    Writer::Attribute(exec, "id", a.id);
    w.Text(exec, "Command", a.path);
    w.TextIfSet(exec, "Arguments", a.arguments);
    w.TextIfSet(exec, "WorkingDirectory", a.working_directory);
  }

  xmlChar* memory = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(doc.get(), &memory, &size, "UTF-16", 1);
  std::string bytes(reinterpret_cast<const char*>(memory), static_cast<size_t>(size));
  xmlFree(memory);
  return bytes;
}

Parsed FromXml(std::string_view document) {
  Parsed out;
  Reader r;
  if (document.size() > 0x7FFFFFFF) {
    out.fault = DefinitionFault::kMalformedXml;
    return out;
  }
  DocPtr doc(xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr, nullptr,
                           XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  const xmlNode* root = doc != nullptr ? xmlDocGetRootElement(doc.get()) : nullptr;
  if (root == nullptr) {
    out.fault = DefinitionFault::kMalformedXml;
    return out;
  }
  if (!IsElement(root, "Task")) {
    out.fault = DefinitionFault::kNamespace;
    return out;
  }
  TaskDefinition& d = out.definition;
  d.settings.execution_time_limit = L"PT72H";

  if (const xmlNode* info = FirstChild(root, "RegistrationInfo")) {
    d.author = r.Text(info, "Author");
    d.description = r.Text(info, "Description");
    d.uri = r.Text(info, "URI");
  }
  if (const xmlNode* triggers = FirstChild(root, "Triggers")) {
    for (const xmlNode* n = triggers->children; n != nullptr; n = n->next) {
      if (IsElement(n, "BootTrigger")) {
        ReadTrigger(r, n, TriggerKind::kBoot, d);
      } else if (IsElement(n, "CalendarTrigger") && FirstChild(n, "ScheduleByDay") != nullptr) {
        ReadTrigger(r, n, TriggerKind::kDaily, d);
      }
    }
  }
  if (const xmlNode* principals = FirstChild(root, "Principals")) {
    if (const xmlNode* p = FirstChild(principals, "Principal")) {
      std::wstring id = AttributeText(p, "id");
      if (!id.empty()) d.principal.id = id;
      d.principal.user_id = r.Text(p, "UserId");
      std::wstring logon = Collapsed(r.Text(p, "LogonType"));
      if (!logon.empty() && !LogonTypeFromName(logon, &d.principal.logon_type)) {
        r.Fail(DefinitionFault::kInvalidValue);
      }
      std::wstring level = Collapsed(r.Text(p, "RunLevel", L"LeastPrivilege"));
      if (level == L"HighestAvailable") {
        d.principal.run_level = 1;
      } else if (level != L"LeastPrivilege") {
        r.Fail(DefinitionFault::kInvalidValue);
      }
    }
  }
  if (const xmlNode* s = FirstChild(root, "Settings")) {
    Settings& settings = d.settings;
    settings.disallow_start_if_on_batteries =
        r.Bool(s, "DisallowStartIfOnBatteries", settings.disallow_start_if_on_batteries);
    settings.stop_if_going_on_batteries =
        r.Bool(s, "StopIfGoingOnBatteries", settings.stop_if_going_on_batteries);
    settings.start_when_available = r.Bool(s, "StartWhenAvailable", settings.start_when_available);
    settings.allow_demand_start = r.Bool(s, "AllowStartOnDemand", settings.allow_demand_start);
    settings.enabled = r.Bool(s, "Enabled", settings.enabled);
    settings.execution_time_limit =
        Collapsed(r.Text(s, "ExecutionTimeLimit", settings.execution_time_limit));
  }
  if (const xmlNode* actions = FirstChild(root, "Actions")) {
    for (const xmlNode* n = actions->children; n != nullptr; n = n->next) {
      if (!IsElement(n, "Exec")) continue;
      ExecAction a;
      a.id = AttributeText(n, "id");
      a.path = r.Text(n, "Command");
      a.arguments = r.Text(n, "Arguments");
      a.working_directory = r.Text(n, "WorkingDirectory");
      d.actions.push_back(std::move(a));
    }
  }
  out.fault = r.fault;
  if (out.fault == DefinitionFault::kNone) out.fault = Validate(d);
  return out;
}

Result<std::vector<std::wstring>> SplitTaskPath(std::wstring_view path) {
  if (!path.empty() && path[0] == L'\\') path.remove_prefix(1);
  std::vector<std::wstring> parts;
  if (path.empty()) return Win32Error(ERROR_INVALID_NAME);
  size_t start = 0;
  while (true) {
    size_t end = path.find(L'\\', start);
    std::wstring_view part = path.substr(start, end == std::wstring_view::npos ? path.npos : end - start);
    if (part.empty() || part == L"." || part == L"..") return Win32Error(ERROR_INVALID_NAME);
    for (wchar_t c : part) {
      if (c < 0x20 || std::wcschr(L"/:*?\"<>|", c) != nullptr) return Win32Error(ERROR_INVALID_NAME);
    }
    parts.emplace_back(part);
    if (end == std::wstring_view::npos) break;
    start = end + 1;
  }
  return parts;
}

std::wstring TaskFilePath(const std::vector<std::wstring>& components) {
  std::wstring path = L"C:\\Windows\\System32\\Tasks";
  for (const std::wstring& part : components) path += L"\\" + part;
  return path;
}

}  // namespace pal::tasks
