#include "spooler_db.h"

#include <cwctype>

#include "pal/errors.h"
#include "pal/spooler.h"

namespace pal::spooler {
namespace {

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && (s.front() == L' ' || s.front() == L'\t' || s.front() == L'\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == L' ' || s.back() == L'\t' || s.back() == L'\r')) s.remove_suffix(1);
  return s;
}

const wchar_t* TypeName(DWORD type) {
  switch (type) {
    case REG_DWORD: return L"REG_DWORD";
    case REG_BINARY: return L"REG_BINARY";
    default: return L"REG_SZ";
  }
}

std::wstring Hex(const std::vector<BYTE>& bytes) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring out;
  for (BYTE b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

bool ParseUnsigned(std::wstring_view text, unsigned long long* out) {
  if (text.empty()) return false;
  int base = 10;
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  unsigned long long value = 0;
  for (wchar_t c : text) {
    int digit;
    if (c >= L'0' && c <= L'9') digit = c - L'0';
    else if (base == 16 && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
    else if (base == 16 && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
    else return false;
    if (digit >= base) return false;
    value = value * base + digit;
    if (value > 0xFFFFFFFFFFFFull) return false;
  }
  *out = value;
  return true;
}

bool ParseHexBytes(std::wstring_view text, std::vector<BYTE>* out) {
  if (text.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    unsigned long long v;
    if (!ParseUnsigned(std::wstring(L"0x") + std::wstring(text.substr(i, 2)), &v)) return false;
    out->push_back(static_cast<BYTE>(v));
  }
  return true;
}

bool ParseValue(const std::wstring& name, std::wstring_view typed, PrinterValue* out) {
  size_t colon = typed.find(L':');
  if (colon == std::wstring_view::npos) return false;
  std::wstring_view type = typed.substr(0, colon), body = typed.substr(colon + 1);
  out->name = name;
  if (type == L"REG_SZ") {
    out->type = REG_SZ;
    out->text = body;
    return true;
  }
  if (type == L"REG_DWORD") {
    unsigned long long v;
    if (!ParseUnsigned(body, &v) || v > 0xFFFFFFFFull) return false;
    out->type = REG_DWORD;
    out->number = static_cast<DWORD>(v);
    return true;
  }
  if (type == L"REG_BINARY") {
    out->type = REG_BINARY;
    return ParseHexBytes(body, &out->bytes);
  }
  return false;
}

const IniSection* FindSection(const IniDocument& doc, std::wstring_view name) {
  for (const IniSection& s : doc)
    if (EqualsIgnoreCase(s.name, name)) return &s;
  return nullptr;
}

void AppendUtf16(std::string& out, char32_t c) {
  auto put = [&](unsigned unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  };
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c >= 0x10000) {
    c -= 0x10000;
    put(0xD800 + (c >> 10));
    put(0xDC00 + (c & 0x3FF));
  } else {
    put(c);
  }
}

}  // namespace

const std::wstring* IniSection::Find(std::wstring_view key) const {
  for (const auto& [k, v] : entries)
    if (EqualsIgnoreCase(k, key)) return &v;
  return nullptr;
}

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  return true;
}

bool IsValidName(std::wstring_view name) {
  if (Trim(name).empty() || Trim(name).size() != name.size()) return false;
  for (wchar_t c : name)
    if (c == L'\\' || c == L'/' || c == L'\n' || c == L'\r' || c == 0) return false;
  return name != L"." && name != L"..";
}

IniDocument ParseIni(std::wstring_view text) {
  IniDocument doc;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L'\n', pos);
    if (end == std::wstring_view::npos) end = text.size();
    std::wstring_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == L';') continue;
    if (line.front() == L'[') {
      size_t close = line.find(L']');
      if (close == std::wstring_view::npos) continue;
      doc.push_back({std::wstring(Trim(line.substr(1, close - 1))), {}});
      continue;
    }
    size_t eq = line.find(L'=');
    if (eq == std::wstring_view::npos || doc.empty()) continue;
    doc.back().entries.emplace_back(std::wstring(Trim(line.substr(0, eq))),
                                    std::wstring(Trim(line.substr(eq + 1))));
  }
  return doc;
}

std::wstring FormatIni(const IniDocument& doc) {
  std::wstring out;
  for (const IniSection& s : doc) {
    out += L"[" + s.name + L"]\r\n";
    for (const auto& [k, v] : s.entries) out += k + L"=" + v + L"\r\n";
  }
  return out;
}

std::string EncodeFileText(std::wstring_view text) {
  std::string out = "\xFF\xFE";
  for (wchar_t c : text) AppendUtf16(out, static_cast<char32_t>(c));
  return out;
}

std::wstring DecodeFileText(std::string_view bytes) {
  std::wstring out;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      char32_t unit = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
        char32_t low = static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          out += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          i += 2;
          continue;
        }
      }
      out += static_cast<wchar_t>(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
    return out;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  // UTF-8, permissive: a stray byte becomes U+FFFD.
  for (size_t i = 0; i < bytes.size();) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    bool ok = extra >= 0;
    for (int k = 1; ok && k <= extra; ++k) {
      if (i + k >= bytes.size()) { ok = false; break; }
      unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
      if ((cc >> 6) != 2) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out += L'\xFFFD';
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(cp);
    i += extra + 1;
  }
  return out;
}

std::wstring FormatDriver(const DriverRecord& d) {
  IniDocument doc{{L"Driver",
                   {{L"Name", d.name},
                    {L"Version", std::to_wstring(d.version)},
                    {L"ConfigFile", d.config_file},
                    {L"DataFile", d.data_file},
                    {L"DriverPath", d.driver_path}}}};
  return FormatIni(doc);
}

bool ParseDriver(std::wstring_view text, DriverRecord* out) {
  IniDocument doc = ParseIni(text);
  const IniSection* s = FindSection(doc, L"Driver");
  if (s == nullptr || s->Find(L"Name") == nullptr || !IsValidName(*s->Find(L"Name"))) return false;
  DriverRecord d;
  d.name = *s->Find(L"Name");
  unsigned long long version = 3;
  if (const std::wstring* v = s->Find(L"Version"); v != nullptr && !ParseUnsigned(*v, &version)) return false;
  d.version = static_cast<DWORD>(version);
  if (const std::wstring* v = s->Find(L"ConfigFile")) d.config_file = *v;
  if (const std::wstring* v = s->Find(L"DataFile")) d.data_file = *v;
  if (const std::wstring* v = s->Find(L"DriverPath")) d.driver_path = *v;
  *out = std::move(d);
  return true;
}

std::wstring FormatQueue(const QueueRecord& q) {
  std::wstring attributes = L"0x";
  for (int shift = 28; shift >= 0; shift -= 4) attributes += L"0123456789ABCDEF"[(q.attributes >> shift) & 15];
  IniDocument doc{{L"Queue",
                   {{L"Name", q.name},
                    {L"Driver", q.driver},
                    {L"Port", q.port},
                    {L"Attributes", attributes},
                    {L"Order", std::to_wstring(q.order)}}},
                  {L"PrinterData", {}},
                  {L"ColorProfiles", {}}};
  for (const PrinterValue& v : q.data) {
    std::wstring body = v.type == REG_DWORD ? std::to_wstring(v.number)
                        : v.type == REG_BINARY ? Hex(v.bytes)
                                               : v.text;
    doc[1].entries.emplace_back(v.name, std::wstring(TypeName(v.type)) + L":" + body);
  }
  for (size_t i = 0; i < q.color_profiles.size(); ++i)
    doc[2].entries.emplace_back(L"Profile" + std::to_wstring(i + 1), q.color_profiles[i]);
  return FormatIni(doc);
}

bool ParseQueue(std::wstring_view text, QueueRecord* out) {
  IniDocument doc = ParseIni(text);
  const IniSection* s = FindSection(doc, L"Queue");
  if (s == nullptr || s->Find(L"Name") == nullptr || !IsValidName(*s->Find(L"Name"))) return false;
  QueueRecord q;
  q.name = *s->Find(L"Name");
  if (const std::wstring* v = s->Find(L"Driver")) q.driver = *v;
  if (const std::wstring* v = s->Find(L"Port")) q.port = *v;
  unsigned long long number = 0;
  if (const std::wstring* v = s->Find(L"Attributes")) {
    if (!ParseUnsigned(*v, &number) || number > 0xFFFFFFFFull) return false;
    q.attributes = static_cast<DWORD>(number);
  }
  if (const std::wstring* v = s->Find(L"Order")) {
    if (!ParseUnsigned(*v, &number)) return false;
    q.order = number;
  }
  if (const IniSection* data = FindSection(doc, L"PrinterData")) {
    for (const auto& [k, v] : data->entries) {
      PrinterValue value;
      if (ParseValue(k, v, &value)) q.data.push_back(std::move(value));
    }
  }
  if (const IniSection* profiles = FindSection(doc, L"ColorProfiles"))
    for (const auto& [k, v] : profiles->entries)
      if (!v.empty()) q.color_profiles.push_back(v);
  *out = std::move(q);
  return true;
}

}  // namespace pal::spooler
