#include "tallowick/store/vdir/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>

#include <filesystem>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/vdir/faulty_env.h"
#include "tallowick/store/vdir/memory_env.h"
#include "tallowick/store/icalendar/test_support.h"
#include "tallowick/store/vdir/write_lock.h"

namespace tallowick::ical {
namespace {

using testing::FaultyEnv;
using testing::readFile;
using testing::Step;
using testing::TempDir;
using testing::writeFile;

std::vector<std::string> namesIn(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(directory)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// What the error of a call says, or "" when it succeeds.
template <typename Call>
std::string errorOf(Call call) {
  try {
    call();
  } catch (const StoreError& e) {
    return e.what();
  }
  return "";
}

class ReplaceFileTest : public ::testing::Test {
 protected:
  void SetUp() override { writeFile(path, "BEGIN:VCALENDAR\nold\nEND:VCALENDAR\n"); }
  FileVersion read() { return readVersion(fs, path).value(); }
  std::string replace(const FileVersion& version) {
    return errorOf([&] { replaceFileIfUnchanged(fs, path, version, "new\n", "changed"); });
  }

  TempDir dir;
  FaultyEnv fs;
  const std::string path = dir.path() + "/item.ics";
  const std::string old = "BEGIN:VCALENDAR\nold\nEND:VCALENDAR\n";
};

TEST_F(ReplaceFileTest, EveryFailingStepLeavesTheOldFileAndNoTemporaryFile) {
  struct Case {
    Step step;
    int error;
    std::string message;
  };
  const std::vector<Case> cases = {
      {Step::open, EACCES, "Cannot write " + path + ": Permission denied"},
      {Step::write, EIO, "Cannot write " + path + ": Input/output error"},
      {Step::fsync, EIO, "Cannot write " + path + ": Input/output error"},
      {Step::close, EIO, "Cannot write " + path + ": Input/output error"},
      {Step::fchmod, EPERM, "Cannot write " + path + ": Operation not permitted"},
      {Step::rename, EXDEV, "Cannot replace " + path + ": Invalid cross-device link"},
      {Step::rename, EACCES, "Cannot replace " + path + ": Permission denied"},
  };
  for (const Case& c : cases) {
    FaultyEnv faulty;
    faulty.failOn(c.step, c.error);
    FileVersion version = readVersion(faulty, path).value();
    EXPECT_EQ(errorOf([&] { replaceFileIfUnchanged(faulty, path, version, "new\n", "changed"); }), c.message);
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"item.ics"});
  }
  fs.diskFullAfter(2);
  EXPECT_EQ(replace(read()), "Cannot write " + path + ": No space left on device");
  EXPECT_EQ(readFile(path), old);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"item.ics"});
}

TEST_F(ReplaceFileTest, ReplacesAndSyncsTheVersionItRead) {
  EXPECT_EQ(replace(read()), "");
  EXPECT_EQ(readFile(path), "new\n");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"item.ics"});
  // Written, fsynced and closed before the swap that puts it in place.
  const std::vector<Step>& steps = fs.steps();
  auto at = [&](Step s) { return std::find(steps.begin(), steps.end(), s) - steps.begin(); };
  EXPECT_LT(at(Step::write), at(Step::fsync));
  EXPECT_LT(at(Step::fsync), at(Step::rename));
}

TEST_F(ReplaceFileTest, AnotherWriterIsNeverOverwritten) {
  const std::string theirs = "BEGIN:VCALENDAR\ntheirs\nEND:VCALENDAR\n";
  // Before our write: an edit in place.
  FileVersion version = read();
  writeFile(path, theirs);
  EXPECT_EQ(replace(version), "changed");
  EXPECT_EQ(readFile(path), theirs);

  // Between our last look and the swap: a file renamed over ours, as sync
  // tools write.
  writeFile(path, old);
  version = read();
  fs.before(Step::rename, [&] {
    writeFile(dir.path() + "/incoming", theirs);
    std::filesystem::rename(dir.path() + "/incoming", path);
  });
  EXPECT_EQ(replace(version), "changed");
  EXPECT_EQ(readFile(path), theirs);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"item.ics"});

  // Between the look and the swap: the same size rewritten in place with its
  // modification time put back.
  writeFile(path, old);
  version = read();
  FaultyEnv inPlace;
  const std::string sameSize = "BEGIN:VCALENDAR\nOLD\nEND:VCALENDAR\n";
  inPlace.before(Step::rename, [&] {
    writeFile(path, sameSize);
    struct timespec times[2] = {version.info.st_atim, version.info.st_mtim};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  });
  EXPECT_EQ(errorOf([&] { replaceFileIfUnchanged(inPlace, path, version, "new\n", "changed"); }), "changed");
  EXPECT_EQ(readFile(path), sameSize);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"item.ics"});
}

TEST_F(ReplaceFileTest, WithoutTheCheckedSwapAPlainRenameReplaces) {
  fs.failOn(Step::rename, EINVAL);
  EXPECT_EQ(replace(read()), "");
  EXPECT_EQ(readFile(path), "new\n");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"item.ics"});
}

TEST_F(ReplaceFileTest, KeepsTheLinkTheModeAndTheOwner) {
  const std::string real = dir.path() + "/elsewhere/real.ics";
  writeFile(real, old);
  std::filesystem::remove(path);
  std::filesystem::create_symlink("elsewhere/real.ics", path);
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(real.c_str(), 1234, 2345), 0);
  }

  EXPECT_EQ(replace(read()), "");
  EXPECT_TRUE(std::filesystem::is_symlink(path));
  EXPECT_EQ(readFile(real), "new\n");
  struct stat info {};
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(info.st_uid, 1234u);
    EXPECT_EQ(info.st_gid, 2345u);
  }
  EXPECT_EQ(namesIn(dir.path() + "/elsewhere"), std::vector<std::string>{"real.ics"});
}

// An ACL (user 4242 may read and write) and a user attribute of the old
// file stay with the new one: who may read a calendar does not change when a
// reminder is completed.
TEST_F(ReplaceFileTest, KeepsTheAclAndExtendedAttributes) {
  auto entry = [](uint16_t tag, uint16_t permissions, uint32_t id) {
    std::string e(8, '\0');
    std::memcpy(e.data(), &tag, 2);
    std::memcpy(e.data() + 2, &permissions, 2);
    std::memcpy(e.data() + 4, &id, 4);
    return e;
  };
  const uint32_t none = 0xFFFFFFFF, version = 2;
  std::string acl(reinterpret_cast<const char*>(&version), 4);
  acl += entry(0x01, 6, none) + entry(0x02, 6, 4242) + entry(0x04, 4, none) + entry(0x10, 6, none) +
         entry(0x20, 0, none);
  if (::setxattr(path.c_str(), "user.vantrel-test", "kept", 4, 0) != 0)
    GTEST_SKIP() << "no extended attributes on this file system";
  const bool withAcl = ::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
  EXPECT_EQ(replace(read()), "");
  EXPECT_EQ(readFile(path), "new\n");
  char value[256];
  ssize_t n = ::getxattr(path.c_str(), "user.vantrel-test", value, sizeof value);
  EXPECT_EQ(std::string(value, static_cast<size_t>(std::max<ssize_t>(n, 0))), "kept");
  if (withAcl) {
    n = ::getxattr(path.c_str(), "system.posix_acl_access", value, sizeof value);
    EXPECT_EQ(std::string(value, static_cast<size_t>(std::max<ssize_t>(n, 0))), acl);
  }
}

TEST_F(ReplaceFileTest, ReadOnlyFileIsRefused) {
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(replace(read()), "Cannot write " + path + ": Permission denied");
  EXPECT_EQ(readFile(path), old);
}

TEST(CreateFileExclusively, TakesTheUmaskAndNeverReplacesAnything) {
  TempDir dir;
  const std::string path = dir.path() + "/new.ics";
  mode_t previous = ::umask(027);
  bool created = createFileExclusively(defaultEnv(), path, "one\n");
  ::umask(previous);
  ASSERT_TRUE(created);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  EXPECT_FALSE(createFileExclusively(defaultEnv(), path, "two\n"));
  EXPECT_EQ(readFile(path), "one\n");
  const std::string dangling = dir.path() + "/dangling.ics";
  std::filesystem::create_symlink("nowhere.ics", dangling);
  EXPECT_FALSE(createFileExclusively(defaultEnv(), dangling, "two\n"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/nowhere.ics"));
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"dangling.ics", "new.ics"}));
}

TEST(TempFiles, OnlyStaleTemporaryFilesOfOursAreRemoved) {
  testing::MemoryEnv env;
  for (const char* name : {".tallowick-a.ics.0123456789abcdef.tmp", ".a.ics.Xy12Zq", ".hidden", "item.ics"})
    env.writeFile(std::string("/c/") + name, "x");
  env.tick(int64_t{staleTempSeconds} * 1'000'000);
  env.writeFile("/c/.tallowick-fresh.ics.00.tmp", "x");
  env.tick(1'000'000);
  removeStaleTempFiles(env, "/c");
  std::vector<std::string> left;
  env.listDirectory("/c", left);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".hidden", ".tallowick-fresh.ics.00.tmp", "item.ics"}));
}

TEST(WriteLock, IsHeldUntilReleasedAndAWaiterGivesUpWithAClearError) {
  TempDir dir;
  const std::string lockFile = dir.path() + "/locks/write.lock";
  {
    WriteLock held(defaultEnv(), lockFile);
    EXPECT_EQ(errorOf([&] { WriteLock second(defaultEnv(), lockFile, 20); }),
              "Cannot lock " + lockFile + ": another run of tallowick holds it");
  }
  EXPECT_EQ(errorOf([&] { WriteLock again(defaultEnv(), lockFile, 20); }), "");
}

}  // namespace
}  // namespace tallowick::ical
