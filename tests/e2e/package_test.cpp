// The Debian packaging against the build: every file `cmake --install` puts
// under /usr goes into exactly one binary package, and the packages that
// claim files are the ones debian/control declares. dpkg-buildpackage fails
// on an unclaimed file (dh_missing); this finds it in the suite, without a
// package build (scripts/package does that, with lintian).

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;

TEST(DebianPackage, ClaimsEveryInstalledFileOnce) {
  const fs::path debian = fs::path(SOURCE_DIR) / "debian";
  std::set<std::string> declared;
  std::ifstream control(debian / "control");
  for (std::string line; std::getline(control, line);)
    if (line.starts_with("Package: ")) declared.insert(line.substr(9));
  EXPECT_EQ(declared, (std::set<std::string>{"orvendel", "tallowick", "tallowick-eds"}));

  std::map<std::string, std::string> claims;  // file -> package
  std::set<std::string> claiming;
  for (const auto& entry : fs::directory_iterator(debian)) {
    if (entry.path().extension() != ".install") continue;
    const std::string package = entry.path().stem().string();
    claiming.insert(package);
    std::ifstream in(entry.path());
    for (std::string file; std::getline(in, file);) {
      if (file.empty()) continue;
      auto [at, added] = claims.emplace(file, package);
      EXPECT_TRUE(added) << file << " is claimed by " << at->second << " and " << package;
    }
  }
  EXPECT_EQ(claiming, declared);

  std::string pattern = (fs::temp_directory_path() / "vantrel-package-XXXXXX").string();
  fs::path root = ::mkdtemp(pattern.data());
  auto install = e2e::runProcess(CMAKE_BIN, {"--install", BUILD_DIR, "--prefix", (root / "usr").string()});
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  std::set<std::string> installed;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (!entry.is_directory()) installed.insert(fs::relative(entry.path(), root).string());
  std::set<std::string> claimed;
  for (const auto& [file, package] : claims) claimed.insert(file);
  EXPECT_EQ(installed, claimed);
  fs::remove_all(root);
}

}  // namespace
