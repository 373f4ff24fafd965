// The INI file grammar, free of any I/O: decoding of the file's bytes, lookups with
// Windows' matching rules, and edits that keep every untouched line byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pal::ini {

enum class Encoding { kAnsi, kUtf16Le };

struct DecodedText {
  std::wstring text;
  Encoding encoding = Encoding::kAnsi;
};

// A file that begins with FF FE is UTF-16LE (surrogate pairs joined), any other ANSI.
DecodedText Decode(std::string_view bytes);
// The inverse; UTF-16LE output begins with the byte order mark.
std::string Encode(std::wstring_view text, Encoding encoding);

class Document {
 public:
  static Document Parse(std::wstring_view text);
  std::wstring Serialize() const;

  // The value of the first matching key of the first matching section, trimmed and without
  // one pair of enclosing quotes; nullopt when missing or when the line has no '='.
  std::optional<std::wstring> Get(std::wstring_view section, std::wstring_view key) const;
  std::vector<std::wstring> SectionNames() const;
  // Key names of the first matching section, in file order (empty when it is missing).
  std::vector<std::wstring> Keys(std::wstring_view section) const;
  // "key=value" for each key line of the first matching section.
  std::vector<std::wstring> SectionLines(std::wstring_view section) const;

  // Each returns whether the document changed.
  bool Set(std::wstring_view section, std::wstring_view key, std::wstring_view value);
  bool DeleteKey(std::wstring_view section, std::wstring_view key);
  bool DeleteSection(std::wstring_view section);
  // The section's key and comment lines give way to `lines` (each written as given); blank
  // separator lines after them stay. A missing section is added at the end.
  bool ReplaceSection(std::wstring_view section, const std::vector<std::wstring>& lines);

 private:
  enum class Kind { kOther, kSection, kKey };
  struct Line {
    std::wstring text;
    std::wstring eol;
    Kind kind = Kind::kOther;
    std::wstring name;   // section or key name, trimmed
    std::wstring value;  // trimmed, quotes kept
    bool has_value = false;
  };
  static Line Classify(std::wstring text, std::wstring eol);
  // Index of the first matching section header, or npos.
  size_t FindSection(std::wstring_view section) const;
  // One past the last line of the section whose header is at `header`.
  size_t SectionEnd(size_t header) const;
  size_t FindKey(size_t header, std::wstring_view key) const;

  std::vector<Line> lines_;
};

// Windows' number reading of an INI value: blanks, an optional sign, "0x"/"0o"/"0b"
// prefixes, digits up to the first other character, wrapping at 32 bits.
unsigned ParseProfileInt(std::wstring_view text);

}  // namespace pal::ini
