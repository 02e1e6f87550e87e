// The README and the manual pages against the programs and each other: every
// `console` block of the README runs as written, on a copy of sample/, and
// must print what it shows; and each manual page lists the same settings
// members and the same numbered steps as the README.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/e2e/process.h"

namespace {

namespace fs = std::filesystem;

std::string readSource(const std::string& name) {
  std::ifstream in(fs::path(SOURCE_DIR) / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text of every fenced block whose opening line is exactly "```<tag>".
std::vector<std::string> fencedBlocks(const std::string& text, const std::string& tag) {
  std::vector<std::string> blocks;
  const std::string open = "\n```" + tag + "\n";
  for (size_t at = 0; (at = text.find(open, at)) != std::string::npos;) {
    at += open.size();
    size_t end = text.find("\n```", at - 1);
    blocks.push_back(text.substr(at, end + 1 - at));
    at = end + 1;
  }
  return blocks;
}

TEST(Readme, ConsoleBlocksPrintWhatTheyShow) {
  const std::vector<std::string> blocks = fencedBlocks(readSource("README.md"), "console");
  ASSERT_FALSE(blocks.empty()) << "the README has no console block";
  for (const std::string& block : blocks) {
    // Each "$ " line is a command; the lines up to the next one are its
    // output, stdout and stderr together as a terminal shows them.
    std::vector<std::string> commands;
    std::istringstream lines(block);
    for (std::string line; std::getline(lines, line);)
      if (line.starts_with("$ ")) commands.push_back(line.substr(2));
    ASSERT_FALSE(commands.empty()) << block;
    std::string script;
    for (size_t i = 0; i < commands.size(); ++i)
      script += "printf '\\036%s\\n' " + std::to_string(i) + "\n" + commands[i] + " 2>&1\n";

    // A person's shell in the repository root: HOME of its own, none of the
    // XDG variables or TZ unless the block sets them, the programs on PATH.
    e2e::ProcessOptions options;
    fs::path home = e2e::makeTempHome("vantrel-readme", "", options);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TZ"}) options.env[name] = std::nullopt;
    options.env["PATH"] = fs::path(TALLOWICK_BIN).parent_path().string() + ":" +
                          fs::path(ORVENDEL_BIN).parent_path().string() + ":/usr/bin:/bin";
    options.env["LC_ALL"] = "C.UTF-8";
    options.timeout = std::chrono::seconds(30);
    fs::path root = home / "vantrel";
    fs::create_directories(root);
    fs::copy(fs::path(SOURCE_DIR) / "sample", root / "sample", fs::copy_options::recursive);
    options.workingDirectory = root.string();

    auto r = e2e::runProcess("/bin/bash", {"-c", script}, options);
    EXPECT_EQ(r.err, "");
    std::string transcript;
    size_t command = 0;
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);) {
      if (!line.empty() && line[0] == '\036')
        transcript += "$ " + commands[command++] + "\n";
      else
        transcript += line + "\n";
    }
    EXPECT_EQ(transcript, block);
    fs::remove_all(home);
  }
}

// The text of the first `code span` in `text`; "" when there is none.
std::string firstCodeSpan(const std::string& text) {
  size_t open = text.find('`');
  size_t close = open == std::string::npos ? open : text.find('`', open + 1);
  return close == std::string::npos ? "" : text.substr(open + 1, close - open - 1);
}

// "3. " and the like, at the start of `line` after `prefix`.
bool startsNumbered(const std::string& line, const std::string& prefix = "") {
  if (!line.starts_with(prefix)) return false;
  size_t at = prefix.size(), digits = at;
  while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
  return digits > at && line.compare(digits, 1, ".") == 0;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
}

// Troff source as the words it prints: font changes and macro names dropped,
// escapes of plain characters resolved, lines joined by spaces.
std::string troffText(const std::string& source) {
  std::string text;
  std::istringstream lines(source);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(".")) {
      auto space = line.find(' ');
      line = space == std::string::npos ? "" : line.substr(space + 1);
      line.erase(std::remove(line.begin(), line.end(), '"'), line.end());
    }
    for (const char* font : {"\\fB", "\\fI", "\\fR", "\\fP"}) replaceAll(line, font, "");
    replaceAll(line, "\\-", "-");
    replaceAll(line, "\\(aq", "'");
    replaceAll(line, "\\e", "\\");
    text += line + " ";
  }
  return text;
}

// The items of the numbered list that follows `marker` in the README, each as
// its first code span ("" when it has none).
std::vector<std::string> readmeSteps(const std::string& readme, const std::string& marker) {
  std::vector<std::string> steps;
  size_t at = readme.find(marker);
  if (at == std::string::npos) return steps;
  std::istringstream lines(readme.substr(at));
  bool inList = false;
  std::string item;
  auto finish = [&] { steps.push_back(firstCodeSpan(item)); };
  for (std::string line; std::getline(lines, line);) {
    if (startsNumbered(line)) {
      if (inList) finish();
      inList = true;
      item = line;
    } else if (inList && line.starts_with("   ")) {
      item += " " + line;
    } else if (inList) {
      finish();
      break;
    }
  }
  return steps;
}

// The items of the numbered list (".IP 1.") of a manual page, as text.
std::vector<std::string> manSteps(const std::string& page) {
  std::vector<std::string> steps;
  std::istringstream lines(page);
  std::string item;
  bool inItem = false;
  for (std::string line; std::getline(lines, line);) {
    if (startsNumbered(line, ".IP ")) {
      if (inItem) steps.push_back(troffText(item));
      inItem = true;
      item.clear();
    } else if (inItem && (line.starts_with(".IP") || line.starts_with(".PP") || line.starts_with(".SH") ||
                          line.starts_with(".TP") || line.starts_with(".RE"))) {
      steps.push_back(troffText(item));
      inItem = false;
    } else if (inItem) {
      item += line + "\n";
    }
  }
  return steps;
}

// The members a manual page lists for a settings file: the ".B" terms of the
// ".TP" entries in the indented list after the file's name.
std::set<std::string> manMembers(const std::string& page, const std::string& file) {
  std::set<std::string> members;
  size_t at = page.find(".I " + file + "\n");
  if (at == std::string::npos) return members;
  size_t begin = page.find("\n.RS\n", at), end = page.find("\n.SH ", at);
  std::istringstream lines(page.substr(begin, end - begin));
  std::string previous;
  int depth = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line == ".RS") ++depth;
    if (line == ".RE" && --depth == 0) break;
    if (depth == 1 && (previous == ".TP" || previous == ".TQ") && line.starts_with(".B "))
      members.insert(line.substr(3));
    previous = line;
  }
  return members;
}

// The leaf members of a JSON example, as dotted paths.
void jsonMembers(const nlohmann::json& value, const std::string& prefix, std::set<std::string>& out) {
  for (const auto& [key, member] : value.items()) {
    if (member.is_object())
      jsonMembers(member, prefix + key + ".", out);
    else
      out.insert(prefix + key);
  }
}

TEST(Readme, ManualPagesCarryItsSettingsMembersAndSteps) {
  const std::string readme = readSource("README.md");
  const std::string tallowick = readSource("man/tallowick.1");
  const std::string orvendel = readSource("man/orvendel.1");

  // calendar.json: the README's example of every member.
  const std::string settings = "**Settings.** `$XDG_CONFIG_HOME/vantrel/calendar.json`";
  size_t at = readme.find(settings);
  ASSERT_NE(at, std::string::npos);
  at = readme.find("```json\n", at) + 8;
  std::set<std::string> calendarMembers;
  jsonMembers(nlohmann::json::parse(readme.substr(at, readme.find("```", at) - at)), "", calendarMembers);
  EXPECT_EQ(manMembers(tallowick, "~/.config/vantrel/calendar.json"), calendarMembers);

  // model.json: the README's table of members.
  at = readme.find("**Settings** live in `$XDG_CONFIG_HOME/vantrel/model.json`");
  ASSERT_NE(at, std::string::npos);
  std::set<std::string> modelMembers;
  std::istringstream table(readme.substr(readme.find("\n| member", at) + 1));
  for (std::string line; std::getline(table, line) && line.starts_with("|");) {
    if (line.starts_with("| `")) modelMembers.insert(firstCodeSpan(line));
  }
  EXPECT_EQ(modelMembers.size(), 5u);
  EXPECT_EQ(manMembers(orvendel, "~/.config/vantrel/model.json"), modelMembers);

  // The numbered steps: as many, in the same order, each with the README
  // step's first code span.
  for (const auto& [marker, page, name] :
       {std::tuple{"**How writes stay safe.**", &tallowick, "tallowick.1"},
        std::tuple{"**Availability**", &orvendel, "orvendel.1"}}) {
    SCOPED_TRACE(name);
    std::vector<std::string> expected = readmeSteps(readme, marker);
    std::vector<std::string> steps = manSteps(*page);
    ASSERT_GE(expected.size(), 3u) << marker;
    ASSERT_EQ(steps.size(), expected.size());
    for (size_t i = 0; i < steps.size(); ++i)
      EXPECT_NE(steps[i].find(expected[i]), std::string::npos) << "step " << i + 1 << " lacks " << expected[i] << ": "
                                                               << steps[i];
  }
}

}  // namespace
