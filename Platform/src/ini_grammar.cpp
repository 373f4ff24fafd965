#include "ini_grammar.h"

#include "text_codepage.h"

namespace pal::ini {
namespace {

constexpr size_t npos = std::wstring::npos;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\v' || c == L'\f'; }

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

std::wstring Unquote(std::wstring_view v) {
  if (v.size() >= 2 && (v.front() == L'"' || v.front() == L'\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return std::wstring(v);
}

}  // namespace

DecodedText Decode(std::string_view bytes) {
  DecodedText out;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    out.encoding = Encoding::kUtf16Le;
    out.text.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      auto unit = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8));
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
        auto low = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 2]) |
                                         (static_cast<unsigned char>(bytes[i + 3]) << 8));
        if (low >= 0xDC00 && low <= 0xDFFF) {
          out.text += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          i += 2;
          continue;
        }
      }
      out.text += static_cast<wchar_t>(unit);
    }
    return out;
  }
  out.text = WideFromAnsi(bytes);
  return out;
}

std::string Encode(std::wstring_view text, Encoding encoding) {
  if (encoding == Encoding::kAnsi) return AnsiFromWide(text);
  std::string out = "\xFF\xFE";
  out.reserve(2 + text.size() * 2);
  auto put = [&out](uint32_t unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>((unit >> 8) & 0xFF);
  };
  for (wchar_t wc : text) {
    auto c = static_cast<uint32_t>(wc);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c > 0x10FFFF ? 0xFFFD : c);
    }
  }
  return out;
}

Document::Line Document::Classify(std::wstring text, std::wstring eol) {
  Line line;
  line.text = std::move(text);
  line.eol = std::move(eol);
  std::wstring_view t = Trim(line.text);
  if (t.empty() || t.front() == L';') return line;
  if (t.front() == L'[') {
    size_t close = t.find(L']');
    line.kind = Kind::kSection;
    line.name = Trim(t.substr(1, close == npos ? npos : close - 1));
    return line;
  }
  line.kind = Kind::kKey;
  size_t eq = t.find(L'=');
  if (eq == npos) {
    line.name = t;
  } else {
    line.name = Trim(t.substr(0, eq));
    line.value = Trim(t.substr(eq + 1));
    line.has_value = true;
  }
  return line;
}

Document Document::Parse(std::wstring_view text) {
  Document doc;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && text[j] != L'\r' && text[j] != L'\n') ++j;
    std::wstring eol;
    if (j < text.size()) {
      eol = (text[j] == L'\r' && j + 1 < text.size() && text[j + 1] == L'\n') ? L"\r\n" : std::wstring(1, text[j]);
    }
    doc.lines_.push_back(Classify(std::wstring(text.substr(i, j - i)), eol));
    i = j + eol.size();
  }
  return doc;
}

std::wstring Document::Serialize() const {
  std::wstring out;
  for (const Line& line : lines_) {
    out += line.text;
    out += line.eol;
  }
  return out;
}

size_t Document::FindSection(std::wstring_view section) const {
  std::wstring_view want = Trim(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::kSection && SameName(lines_[i].name, want)) return i;
  }
  return npos;
}

size_t Document::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != Kind::kSection) ++i;
  return i;
}

size_t Document::FindKey(size_t header, std::wstring_view key) const {
  std::wstring_view want = Trim(key);
  size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind == Kind::kKey && SameName(lines_[i].name, want)) return i;
  }
  return npos;
}

std::optional<std::wstring> Document::Get(std::wstring_view section, std::wstring_view key) const {
  size_t header = FindSection(section);
  if (header == npos) return std::nullopt;
  size_t at = FindKey(header, key);
  if (at == npos || !lines_[at].has_value) return std::nullopt;
  return Unquote(lines_[at].value);
}

std::vector<std::wstring> Document::SectionNames() const {
  std::vector<std::wstring> names;
  for (const Line& line : lines_) {
    if (line.kind == Kind::kSection) names.push_back(line.name);
  }
  return names;
}

std::vector<std::wstring> Document::Keys(std::wstring_view section) const {
  std::vector<std::wstring> keys;
  size_t header = FindSection(section);
  if (header == npos) return keys;
  for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
    if (lines_[i].kind == Kind::kKey) keys.push_back(lines_[i].name);
  }
  return keys;
}

std::vector<std::wstring> Document::SectionLines(std::wstring_view section) const {
  std::vector<std::wstring> out;
  size_t header = FindSection(section);
  if (header == npos) return out;
  for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
    const Line& line = lines_[i];
    if (line.kind != Kind::kKey) continue;
    out.push_back(line.has_value ? line.name + L"=" + line.value : line.name);
  }
  return out;
}

bool Document::Set(std::wstring_view section, std::wstring_view key, std::wstring_view value) {
  std::wstring_view key_name = Trim(key);
  size_t header = FindSection(section);
  if (header == npos) {
    if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = L"\r\n";
    lines_.push_back(Classify(L"[" + std::wstring(Trim(section)) + L"]", L"\r\n"));
    lines_.push_back(Classify(std::wstring(key_name) + L"=" + std::wstring(value), L"\r\n"));
    return true;
  }
  size_t at = FindKey(header, key_name);
  if (at != npos) {
    // The key keeps its spelling in the file; only the value changes.
    std::wstring text = lines_[at].name + L"=" + std::wstring(value);
    if (text == lines_[at].text) return false;
    lines_[at] = Classify(std::move(text), lines_[at].eol.empty() ? L"\r\n" : lines_[at].eol);
    return true;
  }
  // New keys go after the section's last non-blank line, ahead of any blank separator lines.
  size_t insert = header + 1;
  for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
    if (!Trim(lines_[i].text).empty()) insert = i + 1;
  }
  if (lines_[insert - 1].eol.empty()) lines_[insert - 1].eol = L"\r\n";
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert),
                Classify(std::wstring(key_name) + L"=" + std::wstring(value), L"\r\n"));
  return true;
}

bool Document::DeleteKey(std::wstring_view section, std::wstring_view key) {
  size_t header = FindSection(section);
  if (header == npos) return false;
  size_t at = FindKey(header, key);
  if (at == npos) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

bool Document::DeleteSection(std::wstring_view section) {
  size_t header = FindSection(section);
  if (header == npos) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
               lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header)));
  return true;
}

bool Document::ReplaceSection(std::wstring_view section, const std::vector<std::wstring>& lines) {
  size_t header = FindSection(section);
  std::vector<Line> body;
  body.reserve(lines.size());
  for (const std::wstring& text : lines) body.push_back(Classify(text, L"\r\n"));
  if (header == npos) {
    if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = L"\r\n";
    lines_.push_back(Classify(L"[" + std::wstring(Trim(section)) + L"]", L"\r\n"));
    lines_.insert(lines_.end(), body.begin(), body.end());
    return true;
  }
  size_t last = header + 1;
  for (size_t i = header + 1, end = SectionEnd(header); i < end; ++i) {
    if (!Trim(lines_[i].text).empty()) last = i + 1;
  }
  // A file that uses bare line feeds keeps them.
  const std::wstring eol = lines_[header].eol.empty() ? L"\r\n" : lines_[header].eol;
  for (Line& line : body) line.eol = eol;
  bool same = last - header - 1 == body.size();
  for (size_t i = 0; same && i < body.size(); ++i) same = lines_[header + 1 + i].text == body[i].text;
  if (same) return false;
  if (lines_[header].eol.empty()) lines_[header].eol = eol;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header + 1),
               lines_.begin() + static_cast<std::ptrdiff_t>(last));
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(header + 1), body.begin(), body.end());
  return true;
}

unsigned ParseProfileInt(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && (IsBlank(text[i]) || text[i] == L'\r' || text[i] == L'\n')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == L'0') {
    wchar_t p = text[i + 1];
    if (p == L'x' || p == L'X') base = 16;
    if (p == L'o' || p == L'O') base = 8;
    if (p == L'b' || p == L'B') base = 2;
    if (base != 10) i += 2;
  }
  unsigned value = 0;
  for (; i < text.size(); ++i) {
    wchar_t c = text[i];
    unsigned digit;
    if (c >= L'0' && c <= L'9') {
      digit = static_cast<unsigned>(c - L'0');
    } else if (c >= L'a' && c <= L'f') {
      digit = static_cast<unsigned>(c - L'a' + 10);
    } else if (c >= L'A' && c <= L'F') {
      digit = static_cast<unsigned>(c - L'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

}  // namespace pal::ini
