// Fuzz target for the media-definition file that the media installer hands to StockInstaller:
// whatever bytes the file holds (ANSI or UTF-16, any sections, missing keys, numbers out of
// every range, names of any length) are loaded into the ten-media model through the
// private-profile functions, as the tool does. Beyond not crashing it checks what the model
// promises its users:
// - the load succeeds exactly when [Header] DeviceID is present, and the number of media is
//   the one the section walk gives (UINumber1, 2, ... up to the first section without
//   MediaDefinition, base media skipped, at most ten);
// - every string field is terminated within its size, the records past the count are zero;
// - the profile list holds each name of a loaded media once, ignoring case, and nothing else;
// - the slot records built from the media, and the removal of media as the adjusting step
//   does it, keep their sizes and order whatever the numbers are.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "AddICCProfile.h"
#include "AddToPrinter.h"
#include "IniFile.h"
#include "LogWrite.h"
#include "ini_grammar.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// One machine root for the whole run, with the file at C:\work\media.ini.
const std::string& MediaFile() {
  static const std::string path = [] {
    std::string root = (std::filesystem::temp_directory_path() / "tq_fuzz_media_XXXXXX").string();
    Check(mkdtemp(root.data()) != nullptr);
    setenv("PAL_ROOT", root.c_str(), 1);
    std::filesystem::create_directories(root + "/drive_c/work");
    static const std::string kept = root;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(kept, ignored);
    });
    return root + "/drive_c/work/media.ini";
  }();
  return path;
}

// A value as the tool sees it through a buffer of 260 characters: cut at 259 and at an
// embedded NUL; the tool's default "error" stands for a missing key.
std::optional<std::wstring> Seen(const pal::ini::Document& doc, std::wstring_view section, std::wstring_view key) {
  std::optional<std::wstring> value = doc.Get(section, key);
  if (!value) return std::nullopt;
  std::wstring cut = value->substr(0, MAX_PATH - 1);
  cut.resize(std::wcslen(cut.c_str()));
  if (cut == L"error") return std::nullopt;
  return cut;
}

// The number of media the section walk finds.
int ExpectedMediaCount(const pal::ini::Document& doc) {
  int count = 0;
  for (unsigned n = 1; count < kMaxMedia; ++n) {
    const std::wstring section = L"UINumber" + std::to_wstring(n);
    if (!Seen(doc, section, L"MediaDefinition")) break;
    std::optional<std::wstring> base = Seen(doc, section, L"IsBaseMedia");
    if (base && *base == L"true") continue;
    ++count;
  }
  return count;
}

bool AllZero(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

template <size_t N>
bool Terminated(const WCHAR (&text)[N]) {
  return wmemchr(text, L'\0', N) != nullptr;
}

bool Listed(const CIniFile& ini, const WCHAR* name) {
  for (const ProfileName& profile : ini.profiles)
    if (lstrcmpiW(profile.szName, name) == 0) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;  // every read parses the whole file again
  const std::string& path = MediaFile();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(out.good());
  }
  const pal::ini::Document doc = pal::ini::Document::Parse(
      pal::ini::Decode(std::string_view(reinterpret_cast<const char*>(data), size)).text);

  CLogWrite log;  // not enabled: messages go to the debugger output only
  char szModel[80] = "TQ770";
  CIniFile* pIni = CreateIniFileInfo("C:\\work\\media.ini", szModel, &log);
  Check((pIni != nullptr) == Seen(doc, L"Header", L"DeviceID").has_value());
  if (pIni == nullptr) {
    Check(std::strcmp(szModel, "TQ770") == 0);
    return 0;
  }
  CIniFile& ini = *pIni;
  Check(std::memchr(ini.deviceId, '\0', sizeof ini.deviceId) != nullptr);
  Check(std::strlen(szModel) <= 79 && std::strncmp(szModel, ini.deviceId, 79) == 0);
  Check(ini.mediaCount == ExpectedMediaCount(doc));

  for (int i = 0; i < kMaxMedia; ++i) {
    const MediaRecord& media = ini.media[i];
    if (i >= ini.mediaCount) {
      Check(AllZero(&media, sizeof media));
      continue;
    }
    for (const auto* name : {&media.MediaName_ja, &media.MediaName_en, &media.MediaName_fr, &media.MediaName_it,
                             &media.MediaName_de, &media.MediaName_es, &media.MediaName_pt, &media.MediaName_nl,
                             &media.MediaName_tr, &media.MediaName_ru, &media.MediaName_zh_CN,
                             &media.MediaName_zh_TW, &media.MediaName_ko})
      Check((*name)[kMediaNameChars - 1] == L'\0');
    Check(media.MediaName_prn[11] == '\0');
    for (const auto* profile : {&media.Profile_Draft, &media.Profile_Normal, &media.Profile_Quality}) {
      Check(Terminated(*profile));
      // A key that is present names a profile, also with an empty value.
      if ((*profile)[0] != L'\0') Check(Listed(ini, *profile));
      (void)IsBareProfileName(*profile);
    }
  }
  for (size_t a = 0; a < ini.profiles.size(); ++a) {
    Check(Terminated(ini.profiles[a].szName));
    for (size_t b = a + 1; b < ini.profiles.size(); ++b)
      Check(lstrcmpiW(ini.profiles[a].szName, ini.profiles[b].szName) != 0);
    bool used = false;
    for (int i = 0; i < ini.mediaCount; ++i) {
      const MediaRecord& media = ini.media[i];
      for (const auto* profile : {&media.Profile_Draft, &media.Profile_Normal, &media.Profile_Quality})
        used = used || lstrcmpiW(*profile, ini.profiles[a].szName) == 0;
    }
    Check(used);
  }

  // The slot records carry the low bits of whatever numbers the file holds.
  for (int i = 0; i < kMaxMedia; ++i) {
    const MediaRecord& media = ini.media[i];
    const SlotRecord record = MakeSlotRecord(static_cast<BYTE>(i), i < ini.mediaCount ? &media : nullptr);
    Check(record.slot == i);
    Check(record.mediaDefinition == static_cast<DWORD>(media.MediaDefinition));
    Check(record.baseMedia == static_cast<BYTE>(media.BaseMediaID));
    Check(record.paperLength == static_cast<WORD>(static_cast<DWORD>(media.PaperLength) * 100u));
    Check(record.shortName[11] == '\0' && std::strncmp(record.shortName, media.MediaName_prn, 12) == 0);
  }

  // Removing media as the adjusting step does: the others keep their order and move up.
  const int count = ini.mediaCount;
  INT definitions[kMaxMedia];
  for (int i = 0; i < kMaxMedia; ++i) definitions[i] = ini.media[i].MediaDefinition;
  const int drop = size > 0 ? data[size - 1] % (kMaxMedia + 2) - 1 : -1;  // -1 .. 10, some out of range
  ini.RemoveMedia(drop);
  if (drop >= 0 && drop < count) {
    Check(ini.mediaCount == count - 1);
    for (int i = 0; i < count - 1; ++i) Check(ini.media[i].MediaDefinition == definitions[i < drop ? i : i + 1]);
    Check(AllZero(&ini.media[kMaxMedia - 1], sizeof(MediaRecord)));
  } else {
    Check(ini.mediaCount == count);
  }
  while (ini.mediaCount > 0) ini.RemoveMedia(0);
  Check(AllZero(ini.media, sizeof ini.media));

  delete pIni;
  return 0;
}
