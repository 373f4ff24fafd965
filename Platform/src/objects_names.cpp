#include "machine.h"
#include "objects.h"
#include "pal/errors.h"

namespace pal {
namespace {

constexpr std::wstring_view kGlobalPrefix = L"Global\\";
constexpr std::wstring_view kLocalPrefix = L"Local\\";

// Host file names are at most 255 bytes; the rest is headroom for the hash suffix.
constexpr size_t kMaxReadableBytes = 160;

uint64_t Fnv1a(std::string_view bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

bool KeptAsIs(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

}  // namespace

Result<ObjectName> ParseObjectName(std::wstring_view name) {
  if (name.size() > MAX_PATH) return Win32Error(ERROR_FILENAME_EXCED_RANGE);
  ObjectName parsed{ObjectScope::kSession, {}};
  if (name.substr(0, kGlobalPrefix.size()) == kGlobalPrefix) {
    parsed.scope = ObjectScope::kMachine;
    name.remove_prefix(kGlobalPrefix.size());
  } else if (name.substr(0, kLocalPrefix.size()) == kLocalPrefix) {
    name.remove_prefix(kLocalPrefix.size());
  }
  if (name.empty()) return Win32Error(ERROR_INVALID_NAME);
  if (name.find(L'\\') != std::wstring_view::npos) return Win32Error(ERROR_PATH_NOT_FOUND);
  parsed.base = std::wstring(name);
  return parsed;
}

std::string ObjectFileName(std::wstring_view base) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : ToUtf8(base)) {
    if (KeptAsIs(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  if (encoded.size() <= kMaxReadableBytes) return encoded;
  const uint64_t hash = Fnv1a(encoded);
  size_t cut = kMaxReadableBytes;
  // Never cut inside an escape, so the head stays readable.
  if (encoded[cut - 1] == '%') cut -= 1;
  if (encoded[cut - 2] == '%') cut -= 2;
  std::string shortened = encoded.substr(0, cut) + "~";
  for (int shift = 60; shift >= 0; shift -= 4) shortened += kHex[(hash >> shift) & 15];
  return shortened;
}

Exposure ExposureForCreate(const SECURITY_ATTRIBUTES* attributes) {
  if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr) return Exposure::kOwnerOnly;
  const auto* descriptor = static_cast<const SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor);
  if ((descriptor->Control & SE_DACL_PRESENT) != 0 && descriptor->Dacl == nullptr) return Exposure::kEveryone;
  return Exposure::kOwnerOnly;
}

Exposure ExposureForUpdate(const SECURITY_DESCRIPTOR* descriptor) {
  if ((descriptor->Control & SE_DACL_PRESENT) == 0 || descriptor->Dacl == nullptr) return Exposure::kEveryone;
  return Exposure::kOwnerOnly;
}

}  // namespace pal
