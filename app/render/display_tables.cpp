#include "render/display_tables.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <vector>

#include "base/file_io.h"
#include "base/log.h"
#include "base/notifier.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

DisplayTables::DisplayTables() {
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(i);
    const auto inv = static_cast<uint8_t>(255 - i);
    boneWhite[i * 4 + 0] = boneWhite[i * 4 + 1] = boneWhite[i * 4 + 2] = v;
    boneBlack[i * 4 + 0] = boneBlack[i * 4 + 1] = boneBlack[i * 4 + 2] = inv;
  }
}

void ParseColourPalette(std::string_view text, std::array<uint8_t, 768>& palette) {
  size_t pos = 0;
  for (int row = 0; row < 256 && pos < text.size(); ++row) {
    size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t fieldStart = 0;
    for (int c = 0; c < 3; ++c) {
      if (fieldStart > line.size()) break;
      size_t comma = line.find(',', fieldStart);
      std::string_view field = line.substr(fieldStart, comma == std::string_view::npos ? std::string_view::npos
                                                                                       : comma - fieldStart);
      if (field.size() > 3) field = field.substr(0, 3);
      palette[static_cast<size_t>(row) * 3 + static_cast<size_t>(c)] =
          static_cast<uint8_t>(static_cast<uint32_t>(ParseInt(field)) & 0xFFu);
      if (comma == std::string_view::npos) break;
      fieldStart = comma + 1;
    }
  }
}

TablesResult BuildDisplayTables(DisplayTables& tables, const std::string& installFolder, const Log& log,
                                Notifier* notifier) {
  tables = DisplayTables();
  const std::string path = installFolder + "Config/a-LUT.csv";
  std::string text;
  const FileReadResult read = ReadWholeFile(path, &text);
  switch (read.status) {
    case FileReadStatus::kMissing: {
      const std::string& msg = SJ("設定ファイル(a-LUT.csv)が見つかりませんでした");
      log.Write(msg, kLogError, 1);
      if (notifier) notifier->Show(SJ("エラー"), msg, NoticeIcon::Error);
      return TablesResult::kOk;
    }
    case FileReadStatus::kOpenFailed:
      // A file that cannot be opened or read counts like a failed open.
      log.Write(SJ("設定ファイル(a-LUT.csv)のオープンに失敗しました"), kLogError, 1);
      return TablesResult::kOk;
    case FileReadStatus::kOutOfMemory: {
      const std::string msg =
          Format(SJ("a-LUT.csv用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
                 static_cast<long long>(read.size));
      log.Write(msg, kLogWarning, 1);
      if (notifier) notifier->Show(SJ("警告"), msg, NoticeIcon::Warning);
      return TablesResult::kOutOfMemory;
    }
    case FileReadStatus::kOk:
      break;
  }
  log.Write(SJ("設定ファイル(a-LUT.csv)の読み出し"), kLogNormal, 2);
  ParseColourPalette(text, tables.colourPalette);
  return TablesResult::kOk;
}

}  // namespace velmo
