#include "support/test_util.h"

#include <clocale>
#include <cstdio>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <grp.h>
#include <unistd.h>

#include "base/install.h"
#include "base/text.h"

namespace velmo::test {

void RecordingNotifier::Show(std::string_view caption, std::string_view message, NoticeIcon icon) {
  entries.push_back({std::string(caption), std::string(message), icon, false});
}
bool RecordingNotifier::AskYesNo(std::string_view caption, std::string_view message, NoticeIcon icon) {
  entries.push_back({std::string(caption), std::string(message), icon, true});
  return answer;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "velmo-test-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  path_ = made ? std::string(made) : tmpl;
}
int RunUnprivileged(const std::function<int()>& fn) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (geteuid() == 0) {
      constexpr uid_t kNobody = 65534;
      constexpr gid_t kNogroup = 65534;
      if (setgroups(0, nullptr) != 0 || setgid(kNogroup) != 0 || setuid(kNobody) != 0) _exit(255);
    }
    int result = 255;
    try {
      result = fn();
    } catch (...) {
    }
    std::fflush(nullptr);
    _exit(result & 0xFF);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void OpenToEveryone(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::permissions(path, fs::perms::all, ec);
  if (!fs::is_directory(path, ec)) return;
  for (const auto& e : fs::recursive_directory_iterator(path, ec)) fs::permissions(e.path(), fs::perms::all, ec);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void MakeInstallation(const std::string& dir, std::string_view velmoIniUtf8) {
  std::filesystem::create_directories(dir + "/Config");
  std::string ini;
  for (char c : velmoIniUtf8) {
    if (c == '\n') ini += "\r\n"; else ini += c;
  }
  WriteText(dir + "/Config/Velmo.ini", SjisFromUtf8(ini));
  SetInstallFolder(dir + "/");
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
void WriteText(const std::string& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string TestDataDir() {
  std::string dir = VELMO_TESTDATA_DIR;
  if (std::filesystem::exists(dir + "/public/reference.tsv")) return dir + "/public";
  return "";
}

bool UseCommaLocale() {
  auto isComma = [] {
    const lconv* lc = std::localeconv();
    return lc && lc->decimal_point && std::string(lc->decimal_point) == ",";
  };
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") && isComma()) return true;
  // Not installed: compile it once per user into /tmp and point LOCPATH there.
  const std::string dir = (std::filesystem::temp_directory_path() / "velmo-test-locales").string();
  const std::string target = dir + "/de_DE.UTF-8";
  if (!std::filesystem::exists(target + "/LC_NUMERIC")) {
    // Built aside and renamed into place, so parallel test processes never see half a locale.
    std::filesystem::create_directories(dir);
    const std::string aside = dir + "/build-" + std::to_string(getpid());
    const std::string cmd = "localedef -i de_DE -f UTF-8 '" + aside + "' >/dev/null 2>&1";
    (void)std::system(cmd.c_str());  // exit status 1 only means warnings
    std::error_code ec;
    if (std::filesystem::exists(aside + "/LC_NUMERIC")) std::filesystem::rename(aside, target, ec);
    std::filesystem::remove_all(aside, ec);
    if (!std::filesystem::exists(target + "/LC_NUMERIC")) return false;
  }
  setenv("LOCPATH", dir.c_str(), 1);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") && isComma()) return true;
  RestoreCLocale();
  return false;
}

void RestoreCLocale() { std::setlocale(LC_ALL, "C"); }

std::vector<TsvRow> ReadReferenceTsv() {
  std::vector<TsvRow> rows;
  const std::string dir = TestDataDir();
  if (dir.empty()) return rows;
  std::ifstream in(dir + "/reference.tsv");
  std::string line;
  std::vector<std::string> titles;
  auto split = [](const std::string& l) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream s(l);
    while (std::getline(s, cell, '\t')) cells.push_back(cell);
    if (!l.empty() && l.back() == '\t') cells.emplace_back();
    return cells;
  };
  if (std::getline(in, line)) titles = split(line);
  while (std::getline(in, line)) {
    std::vector<std::string> cells = split(line);
    TsvRow row;
    for (size_t i = 0; i < titles.size(); ++i) row[titles[i]] = i < cells.size() ? cells[i] : "";
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

CommandResult RunCommand(const std::string& shellCommand) {
  TempDir tmp;
  const std::string errFile = tmp.File("stderr");
  CommandResult r;
  FILE* p = popen((shellCommand + " 2>" + ShellQuote(errFile)).c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream e(errFile);
  r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
  return r;
}

std::string CliPath() { return std::string(VELMO_BIN_DIR) + "/velmo-cli"; }

std::map<std::string, std::string> ParseNameValueLines(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

}  // namespace velmo::test
