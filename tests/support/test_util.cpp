#include "support/test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "shell/install.h"
#include "shell/text.h"

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

}  // namespace velmo::test
