// Drives the task-file fuzz entry point without libFuzzer: well-formed task files (UTF-8 and
// UTF-16 as stored), then random mutations of them (characters that XML treats specially
// inserted into texts, bit flips, cuts, splices), each input in a buffer of exactly its size.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "taskschd_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::string> Seeds() {
  const std::string ns = "http://schemas.microsoft.com/windows/2004/02/mit/task";
  pal::tasks::TaskDefinition def;
  def.author = L"NORVANTE Corporation";
  def.principal.user_id = L"SYSTEM";
  def.principal.logon_type = 2;
  def.principal.run_level = 1;
  pal::tasks::Trigger daily;
  daily.kind = pal::tasks::TriggerKind::kDaily;
  daily.id = L"QNVLogView";
  daily.start_boundary = L"2010-01-01T04:00:00";
  def.triggers.push_back(daily);
  pal::tasks::ExecAction exec;
  exec.path = L"C:\\Program Files (x86)\\NORVANTE\\TQ770\\x86\\Logsink.exe";
  exec.arguments = L"/l Logsink";
  exec.working_directory = L"C:\\ProgramData\\NORVANTE\\TQ770\\log\\";
  def.actions.push_back(exec);
  return {
      pal::tasks::ToXml(def),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Task version=\"1.2\" xmlns=\"" + ns +
          "\"><RegistrationInfo><Author>A &amp; B</Author></RegistrationInfo><Triggers><BootTrigger "
          "id=\"x\"><Enabled>true</Enabled></BootTrigger><CalendarTrigger><StartBoundary>2010-01-01T04:00:00"
          "</StartBoundary><ScheduleByDay><DaysInterval>2</DaysInterval></ScheduleByDay></CalendarTrigger>"
          "</Triggers><Principals><Principal id=\"Author\"><UserId>me</UserId><LogonType>InteractiveToken"
          "</LogonType><RunLevel>LeastPrivilege</RunLevel></Principal></Principals><Settings><Enabled>false"
          "</Enabled><ExecutionTimeLimit>PT1H</ExecutionTimeLimit></Settings><Actions Context=\"Author\"><Exec>"
          "<Command>C:\\a.exe</Command><Arguments> a  b </Arguments><WorkingDirectory>C:\\</WorkingDirectory>"
          "</Exec></Actions></Task>",
  };
}

long g_valid = 0;

void Run(const std::string& input) {
  if (pal::tasks::FromXml(input).fault == pal::tasks::DefinitionFault::kNone) ++g_valid;
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(input.empty() ? 1 : input.size()));
  if (!input.empty()) std::memcpy(copy, input.data(), input.size());
  LLVMFuzzerTestOneInput(copy, input.size());
  std::free(copy);
}

}  // namespace

int main(int argc, char** argv) {
  const long runs = argc > 1 ? std::atol(argv[1]) : 10000;
  std::mt19937 random(20101);
  const std::vector<std::string> seeds = Seeds();
  const char* specials[] = {"&amp;", "&lt;", "&#13;", "&#x1F600;", "&#1;", "\r\n", "\t", " ", "\xc3\xa9",
                            "]]>", "\"", "'", "&bogus;", "<x/>", "<![CDATA[z]]>", "<!-- c -->"};
  for (const std::string& seed : seeds) Run(seed);
  for (long i = 0; i < runs; ++i) {
    std::string input = seeds[random() % seeds.size()];
    int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && !input.empty(); ++e) {
      size_t at = random() % input.size();
      switch (random() % 5) {
        case 0: {  // a special text right after a tag, where the UTF-8 seed holds texts
          size_t tag_end = input.find('>', at);
          input.insert(tag_end == std::string::npos ? at : tag_end + 1,
                       specials[random() % (sizeof specials / sizeof *specials)]);
          break;
        }
        case 1:
          input[at] = static_cast<char>(input[at] ^ (1 << (random() % 8)));
          break;
        case 2:
          input.resize(at);
          break;
        case 3:
          input.erase(at, 1 + random() % 16);
          break;
        default: {
          const std::string& other = seeds[random() % seeds.size()];
          size_t from = random() % other.size();
          input.insert(at, other.substr(from, random() % 64));
        }
      }
    }
    Run(input);
  }
  std::printf("%ld inputs, %ld of them valid tasks written and read back\n", runs, g_valid);
  return 0;
}
