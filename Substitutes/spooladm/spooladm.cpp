// Spooler administration tool of the emulated machine: adds, changes, removes and lists the
// printer drivers and queues of the spooler database of $PAL_ROOT.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "machine.h"
#include "pal/spooler.h"
#include "pal/spooler_admin.h"

namespace sp = pal::spooler;
namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: spooladm COMMAND [OPTIONS]\n"
    "  add-driver --name NAME --config FILE --data FILE [--version N] [--driver FILE] [--file FILE]...\n"
    "      FILE is a file name in the driver folder C:\\Windows\\System32\\spool\\drivers\\x64\\3, or a\n"
    "      Windows path (C:\\..., Z:\\...) or host path (/...) of a file that is copied there.\n"
    "  remove-driver --name NAME\n"
    "  add-queue --name NAME --driver DRIVER --port PORT [--offline] [--attributes N]\n"
    "            [--data NAME=REG_SZ:TEXT|REG_DWORD:N|REG_BINARY:HEX]...\n"
    "  set-queue --name NAME [--port PORT] [--offline|--online] [--attributes N] [--data ...]...\n"
    "  remove-queue --name NAME\n"
    "  list [drivers|queues]\n";

int Fail(const std::string& what, DWORD error = 0) {
  if (error != 0)
    std::fprintf(stderr, "spooladm: %s (error %u)\n", what.c_str(), static_cast<unsigned>(error));
  else
    std::fprintf(stderr, "spooladm: %s\n", what.c_str());
  return 1;
}

struct Options {
  std::vector<std::pair<std::string, std::string>> values;
  std::vector<std::string> flags;
  std::string Get(const std::string& key) const {
    for (const auto& [k, v] : values)
      if (k == key) return v;
    return "";
  }
  std::vector<std::string> All(const std::string& key) const {
    std::vector<std::string> out;
    for (const auto& [k, v] : values)
      if (k == key) out.push_back(v);
    return out;
  }
  bool Has(const std::string& flag) const {
    for (const std::string& f : flags)
      if (f == flag) return true;
    return false;
  }
};

bool ParseOptions(int argc, char** argv, int first, Options* out) {
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--offline" || a == "--online") {
      out->flags.push_back(a);
    } else if (a.rfind("--", 0) == 0 && i + 1 < argc) {
      out->values.emplace_back(a.substr(2), argv[++i]);
    } else {
      return false;
    }
  }
  return true;
}

std::wstring Wide(const std::string& s) { return pal::FromUtf8(s); }
std::string Narrow(const std::wstring& s) { return pal::ToUtf8(s); }

bool ParseNumber(const std::string& text, DWORD* out) {
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (text.empty() || *end != 0 || v > 0xFFFFFFFFull) return false;
  *out = static_cast<DWORD>(v);
  return true;
}

// A driver file: a bare name stays as it is; a path is copied into the driver folder.
bool PlaceDriverFile(const std::string& file, std::wstring* name) {
  if (file.find_first_of("\\/") == std::string::npos && file.find(':') == std::string::npos) {
    *name = Wide(file);
    return true;
  }
  std::string host = file;
  if (file[0] != '/') {
    auto mapped = pal::ToHostPath(Wide(file));
    if (!mapped) return false;
    host = mapped.value();
  }
  auto folder = pal::ToHostPath(sp::DriverFolder());
  if (!folder) return false;
  std::error_code ec;
  fs::create_directories(folder.value(), ec);
  fs::path target = fs::path(folder.value()) / fs::path(host).filename();
  if (fs::absolute(host, ec) != fs::absolute(target, ec) &&
      !fs::copy_file(host, target, fs::copy_options::overwrite_existing, ec)) {
    std::fprintf(stderr, "spooladm: cannot copy %s: %s\n", host.c_str(), ec.message().c_str());
    return false;
  }
  *name = Wide(target.filename().string());
  return true;
}

bool ParseData(const std::string& text, sp::PrinterValue* out) {
  size_t eq = text.find('=');
  size_t colon = text.find(':', eq == std::string::npos ? 0 : eq);
  if (eq == std::string::npos || eq == 0 || colon == std::string::npos) return false;
  std::string type = text.substr(eq + 1, colon - eq - 1), body = text.substr(colon + 1);
  out->name = Wide(text.substr(0, eq));
  if (type == "REG_SZ") {
    out->type = REG_SZ;
    out->text = Wide(body);
    return true;
  }
  if (type == "REG_DWORD") {
    out->type = REG_DWORD;
    return ParseNumber(body, &out->number);
  }
  if (type == "REG_BINARY" && body.size() % 2 == 0) {
    out->type = REG_BINARY;
    for (size_t i = 0; i < body.size(); i += 2) {
      DWORD b;
      if (!ParseNumber("0x" + body.substr(i, 2), &b)) return false;
      out->bytes.push_back(static_cast<BYTE>(b));
    }
    return true;
  }
  return false;
}

bool ApplyQueueOptions(const Options& o, sp::QueueRecord* q) {
  if (!o.Get("port").empty()) q->port = Wide(o.Get("port"));
  if (!o.Get("attributes").empty() && !ParseNumber(o.Get("attributes"), &q->attributes)) return false;
  if (o.Has("--offline")) q->attributes |= PRINTER_ATTRIBUTE_WORK_OFFLINE;
  if (o.Has("--online")) q->attributes &= ~static_cast<DWORD>(PRINTER_ATTRIBUTE_WORK_OFFLINE);
  for (const std::string& d : o.All("data")) {
    sp::PrinterValue value;
    if (!ParseData(d, &value)) return false;
    bool replaced = false;
    for (sp::PrinterValue& v : q->data) {
      if (v.name == value.name) {
        v = value;
        replaced = true;
      }
    }
    if (!replaced) q->data.push_back(value);
  }
  return true;
}

std::string ValueText(const sp::PrinterValue& v) {
  if (v.type == REG_DWORD) return "REG_DWORD:" + std::to_string(v.number);
  if (v.type == REG_BINARY) {
    std::string hex;
    char b[3];
    for (BYTE x : v.bytes) {
      std::snprintf(b, sizeof b, "%02x", x);
      hex += b;
    }
    return "REG_BINARY:" + hex;
  }
  return "REG_SZ:" + Narrow(v.text);
}

int List(const std::string& what) {
  if (what.empty() || what == "drivers") {
    for (const sp::DriverRecord& d : sp::ListDrivers())
      std::printf("driver\t%s\tversion=%u\tconfig=%s\tdata=%s\n", Narrow(d.name).c_str(), static_cast<unsigned>(d.version),
                  Narrow(sp::DriverFilePath(d.config_file)).c_str(), Narrow(sp::DriverFilePath(d.data_file)).c_str());
  }
  if (what.empty() || what == "queues") {
    for (const sp::QueueRecord& q : sp::ListQueues()) {
      std::printf("queue\t%s\tdriver=%s\tport=%s\tattributes=0x%08X%s\n", Narrow(q.name).c_str(), Narrow(q.driver).c_str(),
                  Narrow(q.port).c_str(), static_cast<unsigned>(q.attributes),
                  (q.attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE) ? "\toffline" : "");
      for (const sp::PrinterValue& v : q.data)
        std::printf("  data\t%s=%s\n", Narrow(v.name).c_str(), ValueText(v).c_str());
      for (const std::wstring& p : q.color_profiles) std::printf("  profile\t%s\n", Narrow(p).c_str());
    }
  }
  return what.empty() || what == "drivers" || what == "queues" ? 0 : Fail("unknown list");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return std::fputs(kUsage, stderr), 2;
  std::string command = argv[1];
  if (command == "list") return List(argc > 2 ? argv[2] : "");
  Options o;
  if (!ParseOptions(argc, argv, 2, &o) || o.Get("name").empty()) return std::fputs(kUsage, stderr), 2;
  const std::wstring name = Wide(o.Get("name"));

  if (command == "add-driver") {
    sp::DriverRecord d;
    d.name = name;
    if (!o.Get("version").empty() && !ParseNumber(o.Get("version"), &d.version)) return Fail("bad version");
    if (o.Get("config").empty() || o.Get("data").empty()) return std::fputs(kUsage, stderr), 2;
    if (!PlaceDriverFile(o.Get("config"), &d.config_file) || !PlaceDriverFile(o.Get("data"), &d.data_file))
      return Fail("cannot place the driver's files");
    if (!o.Get("driver").empty() && !PlaceDriverFile(o.Get("driver"), &d.driver_path))
      return Fail("cannot place the driver's files");
    for (const std::string& f : o.All("file")) {
      std::wstring ignored;
      if (!PlaceDriverFile(f, &ignored)) return Fail("cannot place " + f);
    }
    DWORD err = sp::AddDriver(d);
    return err == 0 ? 0 : Fail("cannot add driver", err);
  }
  if (command == "remove-driver") {
    DWORD err = sp::RemoveDriver(name);
    return err == 0 ? 0 : Fail("cannot remove driver", err);
  }
  if (command == "add-queue") {
    sp::QueueRecord q;
    q.name = name;
    q.driver = Wide(o.Get("driver"));
    if (!ApplyQueueOptions(o, &q)) return Fail("bad queue option");
    DWORD err = sp::AddQueue(q);
    return err == 0 ? 0 : Fail("cannot add queue", err);
  }
  if (command == "set-queue") {
    sp::QueueRecord q;
    if (DWORD err = sp::FindQueue(name, &q); err != 0) return Fail("no such queue", err);
    if (!ApplyQueueOptions(o, &q)) return Fail("bad queue option");
    DWORD err = sp::UpdateQueue(q);
    return err == 0 ? 0 : Fail("cannot change queue", err);
  }
  if (command == "remove-queue") {
    DWORD err = sp::RemoveQueue(name);
    return err == 0 ? 0 : Fail("cannot remove queue", err);
  }
  std::fputs(kUsage, stderr);
  return 2;
}
