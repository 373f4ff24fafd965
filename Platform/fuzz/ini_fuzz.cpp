// Fuzz target for the INI grammar, which reads whatever bytes a settings or media file holds.
// Beyond not crashing it checks two properties: an untouched document serialises back to
// exactly the text it was parsed from, and a value set is the value read back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ini_grammar.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// A name or value the grammar can carry through a write: one line, no separators that
// would change its meaning, no blanks or quotes at its ends.
std::wstring Sanitize(std::wstring s, std::wstring_view forbidden) {
  std::wstring out;
  for (wchar_t c : s) {
    if (c == L'\r' || c == L'\n' || c == L'\0' || forbidden.find(c) != std::wstring_view::npos) continue;
    out += c;
  }
  while (!out.empty() && (out.front() == L' ' || out.front() == L'\t' || out.front() == L'\v' ||
                          out.front() == L'\f' || out.front() == L';' || out.front() == L'[' ||
                          out.front() == L'"' || out.front() == L'\'')) {
    out.erase(0, 1);
  }
  while (!out.empty() && (out.back() == L' ' || out.back() == L'\t' || out.back() == L'\v' ||
                          out.back() == L'\f' || out.back() == L'"' || out.back() == L'\'')) {
    out.pop_back();
  }
  return out.empty() ? L"x" : out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pal::ini;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  DecodedText decoded = Decode(bytes);
  Document doc = Document::Parse(decoded.text);
  Check(doc.Serialize() == decoded.text);

  for (const std::wstring& section : doc.SectionNames()) {
    for (const std::wstring& key : doc.Keys(section)) (void)doc.Get(section, key);
    (void)doc.SectionLines(section);
  }
  std::string encoded = Encode(doc.Serialize(), decoded.encoding);
  Check(Decode(encoded).encoding == decoded.encoding);

  // Use a slice of the input as section, key and value of an edit.
  std::wstring text = decoded.text;
  size_t third = text.size() / 3;
  std::wstring section = Sanitize(text.substr(0, third), L"]");
  std::wstring key = Sanitize(text.substr(third, third), L"=");
  std::wstring value = Sanitize(text.substr(2 * third), L"");
  doc.Set(section, key, value);
  std::optional<std::wstring> got = doc.Get(section, key);
  Check(got.has_value() && *got == value);
  Document again = Document::Parse(doc.Serialize());
  Check(again.Get(section, key) == got);
  doc.DeleteKey(section, key);
  doc.DeleteSection(section);
  (void)pal::ini::ParseProfileInt(text);
  return 0;
}

#ifndef TQ_LIBFUZZER
// Without libFuzzer: seeds of real shapes, then random byte edits of them, each input in a
// buffer of exactly its size so the address sanitizer sees any read past it.
#include <cstring>
#include <random>
#include <vector>

int main(int argc, char** argv) {
  using namespace std::string_literals;
  const long runs = argc > 1 ? std::atol(argv[1]) : 20000;
  const std::vector<std::string> seeds = {
      "",
      "; c\r\n[Data]\r\nLogID = 7\r\nDate=\"2026/12/11\"\r\nNoValue\r\n\r\n[Other]\nk=v",
      std::string("\xFF\xFE[\0Q\0]\0\r\0\n\0k\0=\0\x3D\xD8\x00\xDE"s),
      "[Header]\r\nDeviceID=TQ770\r\n[Media1]\r\nBaseMediaID=0x1F\r\nName='Caf\xe9'\r",
  };
  std::mt19937 random(2026);
  for (long i = 0; i < runs; ++i) {
    std::string input = seeds[random() % seeds.size()];
    int edits = i < static_cast<long>(seeds.size()) ? 0 : 1 + static_cast<int>(random() % 8);
    for (int e = 0; e < edits; ++e) {
      size_t at = input.empty() ? 0 : random() % input.size();
      switch (random() % 4) {
        case 0:
          if (!input.empty()) input[at] = static_cast<char>(random());
          break;
        case 1: input.insert(at, 1, "[]=;\"'\r\n \t\xFF\xFE\xD8\xDC"[random() % 15]); break;
        case 2:
          if (!input.empty()) input.erase(at, 1 + random() % 4);
          break;
        default: input.insert(at, input.substr(at, random() % 16)); break;
      }
    }
    std::vector<uint8_t> buffer(input.begin(), input.end());
    uint8_t* exact = static_cast<uint8_t*>(std::malloc(buffer.empty() ? 1 : buffer.size()));
    if (!buffer.empty()) std::memcpy(exact, buffer.data(), buffer.size());
    LLVMFuzzerTestOneInput(exact, buffer.size());
    std::free(exact);
  }
  return 0;
}
#endif
