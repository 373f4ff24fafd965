// The driver's configuration module, as a substitute: keeps the custom media elements it is
// given (element, base element, names per language, attributes) and writes them, readable,
// as CustomMedia.ini (UTF-8) into the folder passed to VD_CFGXSave. Results are 0 for
// success, else a Win32-style error number.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "machine.h"

#define CFGX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kInvalidParameter = 87;
constexpr int kPathNotFound = 3;
constexpr int kAlreadyExists = 183;
constexpr int kNotFound = 1168;
constexpr int kWriteFault = 29;

struct Element {
  uint32_t function = 0;
  uint16_t base = 0;
  std::map<uint16_t, std::wstring> names;
  std::map<uint32_t, uint32_t> attributes;
};

struct Configuration {
  std::wstring data_file, driver_folder, queue;
  uint32_t flags = 0;
  std::map<uint16_t, Element> elements;
  std::vector<uint16_t> order;
};

std::mutex g_mutex;
std::set<Configuration*> g_open;
std::wstring g_last_driver_folder;

Configuration* Find(void* handle) {
  auto* c = static_cast<Configuration*>(handle);
  return g_open.count(c) ? c : nullptr;
}

std::string Hex4(uint32_t v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04X", v);
  return buffer;
}

}  // namespace

// A build without this entry shows how a caller copes with a module that lacks it.
#ifndef CFGX_WITHOUT_INITEX
CFGX_EXPORT int VD_CFGXInitEx(void** handle, const wchar_t* data_file, const wchar_t* driver_folder,
                              const wchar_t* queue, uint32_t flags) {
  if (handle == nullptr || data_file == nullptr || driver_folder == nullptr || queue == nullptr)
    return kInvalidParameter;
  auto host = pal::ToHostPath(data_file);
  struct stat st;
  if (!host || stat(host.value().c_str(), &st) != 0) return kPathNotFound;
  auto* c = new Configuration{data_file, driver_folder, queue, flags, {}, {}};
  std::lock_guard lock(g_mutex);
  g_open.insert(c);
  g_last_driver_folder = driver_folder;
  *handle = c;
  return 0;
}
#endif

CFGX_EXPORT int VD_CFGXAddCustomElement(void* handle, uint32_t function, uint16_t element, uint16_t base) {
  std::lock_guard lock(g_mutex);
  Configuration* c = Find(handle);
  if (c == nullptr) return kInvalidParameter;
  if (c->elements.count(element)) return kAlreadyExists;
  c->elements[element] = Element{function, base, {}, {}};
  c->order.push_back(element);
  return 0;
}

CFGX_EXPORT int VD_CFGXSetFunctionElementNameString(void* handle, uint32_t function, uint16_t element,
                                                    const wchar_t* name, uint16_t language) {
  std::lock_guard lock(g_mutex);
  Configuration* c = Find(handle);
  if (c == nullptr || name == nullptr) return kInvalidParameter;
  auto it = c->elements.find(element);
  if (it == c->elements.end() || it->second.function != function) return kNotFound;
  it->second.names[language] = name;
  return 0;
}

CFGX_EXPORT int VD_CFGXSetFunctionElementAttribute(void* handle, uint32_t function, uint16_t element,
                                                   uint32_t attribute, uint32_t value) {
  std::lock_guard lock(g_mutex);
  Configuration* c = Find(handle);
  if (c == nullptr) return kInvalidParameter;
  auto it = c->elements.find(element);
  if (it == c->elements.end() || it->second.function != function) return kNotFound;
  it->second.attributes[attribute] = value;
  return 0;
}

// Removes the cached binary configuration ("*.bcf") of the driver folder last opened.
CFGX_EXPORT int VD_CFGXDeleteBinFiles(void* printer) {
  if (printer == nullptr) return kInvalidParameter;
  std::wstring folder;
  {
    std::lock_guard lock(g_mutex);
    folder = g_last_driver_folder;
  }
  auto host = pal::ToHostPath(folder);
  if (folder.empty() || !host) return kPathNotFound;
  if (DIR* dir = opendir(host.value().c_str())) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bcf") == 0) unlink((host.value() + "/" + name).c_str());
    }
    closedir(dir);
  }
  return 0;
}

CFGX_EXPORT int VD_CFGXSave(void* handle, const wchar_t* folder) {
  std::lock_guard lock(g_mutex);
  Configuration* c = Find(handle);
  if (c == nullptr || folder == nullptr) return kInvalidParameter;
  auto host = pal::ToHostPath(folder);
  struct stat st;
  if (!host || stat(host.value().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return kPathNotFound;
  std::string path = host.value() + "/CustomMedia.ini";
  std::ofstream out(path + ".tmp", std::ios::trunc);
  out << "[Configuration]\r\nDataFile=" << pal::ToUtf8(c->data_file) << "\r\nDriverFolder="
      << pal::ToUtf8(c->driver_folder) << "\r\nQueue=" << pal::ToUtf8(c->queue) << "\r\nFlags=" << c->flags
      << "\r\nElements=" << c->order.size() << "\r\n";
  for (uint16_t id : c->order) {
    const Element& e = c->elements[id];
    out << "\r\n[Element" << id << "]\r\nFunction=" << e.function << "\r\nBaseElement=" << e.base << "\r\n";
    for (const auto& [attribute, value] : e.attributes) out << "Attribute" << attribute << "=" << value << "\r\n";
    for (const auto& [language, name] : e.names) out << "Name" << Hex4(language) << "=" << pal::ToUtf8(name) << "\r\n";
  }
  out.close();
  if (!out || std::rename((path + ".tmp").c_str(), path.c_str()) != 0) return kWriteFault;
  return 0;
}

CFGX_EXPORT int VD_CFGXExit(void* handle) {
  std::lock_guard lock(g_mutex);
  Configuration* c = Find(handle);
  if (c == nullptr) return kInvalidParameter;
  g_open.erase(c);
  delete c;
  return 0;
}
