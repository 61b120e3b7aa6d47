// The banner list: which banner files exist and what type each one is, so
// a banner can be chosen by name and converted like any document.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "scheduler/printers/catalogue.h"
#include "scheduler/printers/printers.h"
#include "scheduler/log.h"
#include "scheduler/types/types.h"
#include "vorn/fd.h"
#include "vorn/strings.h"

std::vector<banner_t> Banners;

namespace {

// Editor and installer backups are not banners of their own.
bool is_backup(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view ending = name.substr(dot);
  for (std::string_view b : {".bck", ".bak", ".sav"})
    if (ending.starts_with(b)) return true;
  return false;
}

std::vector<std::string> banner_names() {
  std::vector<std::string> names;
  names.reserve(Banners.size());
  for (const banner_t& b : Banners) names.push_back(b.name);
  return names;
}

}  // namespace

void AddBanner(std::string_view name, const char* path) {
  int compressed = 0;
  TypeRecord* type = TypeDB ? DetectFileType(TypeDB.get(), path, &compressed) : nullptr;
  if (!type) {
    LogDiagnostic(L_WARN, "AddBanner: Banner \"%s\" is of an unknown file type - skipping!",
                  std::string(name).c_str());
    return;
  }
  Banners.push_back(banner_t{std::string(name.substr(0, kMaxBannerName)), type});
}

void LoadBanners(const char* directory) {
  Banners.clear();
  BannerNames = banner_names;
  vorn::unique_dir dir(::opendir(directory));
  if (!dir) {
    // A system without banners is not broken.
    LogDiagnostic(errno == ENOENT ? L_INFO : L_ERROR, "LoadBanners: Unable to open banner directory \"%s\": %s",
                  directory, std::strerror(errno));
    return;
  }
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = std::string(directory) + "/" + e->d_name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      LogDiagnostic(L_WARN, "LoadBanners: Unable to state \"%s\" banner: %s", e->d_name, std::strerror(errno));
      continue;
    }
    if (S_ISDIR(st.st_mode) || name.starts_with('~') || is_backup(name)) continue;
    AddBanner(name, path.c_str());
  }
  std::sort(Banners.begin(), Banners.end(),
            [](const banner_t& a, const banner_t& b) { return vorn::strcasecmp(a.name, b.name) < 0; });
}

const banner_t* BannerByName(std::string_view name) {
  auto it = std::lower_bound(Banners.begin(), Banners.end(), name, [](const banner_t& b, std::string_view n) {
    return vorn::strcasecmp(b.name, n) < 0;
  });
  return it != Banners.end() && vorn::iequals(it->name, name) ? &*it : nullptr;
}
