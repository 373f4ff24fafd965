// Fuzz target for the reader of stored task files: any bytes are read without fault, and
// whatever reads as a valid task is written and read back unchanged.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "taskschd_store.h"

namespace {

using namespace pal::tasks;

bool Same(const TaskDefinition& a, const TaskDefinition& b) {
  if (a.author != b.author || a.description != b.description || a.uri != b.uri ||
      a.principal.id != b.principal.id || a.principal.user_id != b.principal.user_id ||
      a.principal.logon_type != b.principal.logon_type || a.principal.run_level != b.principal.run_level ||
      a.settings.allow_demand_start != b.settings.allow_demand_start ||
      a.settings.start_when_available != b.settings.start_when_available ||
      a.settings.disallow_start_if_on_batteries != b.settings.disallow_start_if_on_batteries ||
      a.settings.stop_if_going_on_batteries != b.settings.stop_if_going_on_batteries ||
      a.settings.enabled != b.settings.enabled ||
      a.settings.execution_time_limit != b.settings.execution_time_limit ||
      a.triggers.size() != b.triggers.size() || a.actions.size() != b.actions.size()) {
    return false;
  }
  for (size_t i = 0; i < a.triggers.size(); ++i) {
    const Trigger& x = a.triggers[i];
    const Trigger& y = b.triggers[i];
    if (x.kind != y.kind || x.id != y.id || x.start_boundary != y.start_boundary ||
        x.enabled != y.enabled || x.days_interval != y.days_interval) {
      return false;
    }
  }
  for (size_t i = 0; i < a.actions.size(); ++i) {
    const ExecAction& x = a.actions[i];
    const ExecAction& y = b.actions[i];
    if (x.id != y.id || x.path != y.path || x.arguments != y.arguments ||
        x.working_directory != y.working_directory) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Parsed first = FromXml(std::string_view(reinterpret_cast<const char*>(data), size));
  if (first.fault != DefinitionFault::kNone) return 0;
  Parsed second = FromXml(ToXml(first.definition));
  if (second.fault != DefinitionFault::kNone || !Same(first.definition, second.definition)) std::abort();
  return 0;
}
