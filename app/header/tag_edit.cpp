#include "header/tag_edit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>

#include "base/numbers.h"
#include "base/text.h"
#include "browser/study_tree.h"
#include "dicom/read_dicom.h"
#include "rewrite/corvel.h"
#include "rewrite/file_layout.h"

namespace velmo {


using layout::Get16;
using layout::Get32;
using layout::Put32;

void TagChange::SetTag(uint16_t group, uint16_t element) {
  groupHigh = static_cast<uint8_t>(group >> 8);
  groupLow = static_cast<uint8_t>(group);
  elementHigh = static_cast<uint8_t>(element >> 8);
  elementLow = static_cast<uint8_t>(element);
  groupText = Format("%04X", static_cast<unsigned>(group));
  elementText = Format("%04X", static_cast<unsigned>(element));
}

uint32_t NumericVrSize(std::string_view vr) {
  if (vr.size() < 2) return 0;
  const std::string_view v = vr.substr(0, 2);
  if (v == "SS" || v == "US") return 2;
  if (v == "SL" || v == "UL" || v == "FL") return 4;
  if (v == "FD") return 8;
  return 0;
}

// ---------------------------------------------------------------- value encoding

std::string SjisToIso2022(std::string_view s, Iso2022Form form) {
  enum Run { kSingle, kKana, kKanji };
  const bool personName = form != Iso2022Form::kText;
  const bool rawKana = form == Iso2022Form::kPersonNameFirst;
  Run run = kSingle;
  std::string out;
  out.reserve(s.size() + 16);
  for (size_t i = 0; i < s.size();) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    Run next = kSingle;
    if (IsSjisLeadByte(c) && i + 1 < s.size()) next = kKanji;
    else if (c >= 0xA1 && c <= 0xDF && !rawKana) next = kKana;
    if (next != run) {
      // Leave a double-byte run before anything else follows it.
      if (run == kKanji || next == kSingle) out += "\x1b(B";
      if (next == kKanji) out += "\x1b$B";
      if (next == kKana) out += "\x1b)I";
      run = next;
    }
    if (next == kKanji) {
      uint8_t j1 = 0, j2 = 0;
      if (!SjisToJis(c, static_cast<uint8_t>(s[i + 1]), &j1, &j2)) {
        j1 = 0x22;  // the geta mark for codes outside JIS X 0208
        j2 = 0x2E;
      }
      out += static_cast<char>(j1);
      out += static_cast<char>(j2);
      i += 2;
      continue;
    }
    if (personName && c == ' ') c = '^';
    out += static_cast<char>(c);
    ++i;
  }
  if (run != kSingle) out += "\x1b(B";
  return out;
}

bool EncodeTagValue(std::string_view vr, const std::string boxes[3], TagChange* change) {
  change->vr[0] = vr.size() > 0 ? vr[0] : 0;
  change->vr[1] = vr.size() > 1 ? vr[1] : 0;
  change->vr[2] = 0;
  const std::string_view v = vr.substr(0, vr.size() < 2 ? vr.size() : 2);
  if (const uint32_t size = NumericVrSize(v)) {
    change->value = boxes[0];
    change->valueLength = size;
    return true;
  }
  std::string value;
  if (v == "PN") {
    value = SjisToIso2022(boxes[0], Iso2022Form::kPersonNameFirst);
    if (!boxes[1].empty() || !boxes[2].empty()) {
      value += '=';
      value += SjisToIso2022(boxes[1], Iso2022Form::kPersonNameOther);
      value += '=';
      if (!boxes[2].empty()) value += SjisToIso2022(boxes[2], Iso2022Form::kPersonNameOther);
    }
  } else if (v == "LO" || v == "LT" || v == "SH" || v == "ST" || v == "UT") {
    value = SjisToIso2022(boxes[0], Iso2022Form::kText);
  } else {
    value = boxes[0];
  }
  if (value.size() % 2) value += v == "UI" ? '\0' : ' ';
  if (value.size() > kMaxEncodedValue) return false;
  change->value = std::move(value);
  change->valueLength = static_cast<uint32_t>(change->value.size());
  return true;
}

// ---------------------------------------------------------------- command checks

namespace {
bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
// Two characters as one byte, read up to the first character that is not a hexadecimal digit.
uint8_t HexByte(std::string_view text, size_t at) {
  unsigned v = 0;
  for (size_t i = at; i < at + 2 && i < text.size() && IsHexDigit(text[i]); ++i)
    v = v * 16 + static_cast<unsigned>(text[i] <= '9' ? text[i] - '0' : (text[i] | 0x20) - 'a' + 10);
  return static_cast<uint8_t>(v);
}
std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}
}  // namespace

std::string EditRefusal(std::string_view groupText, std::string_view vrText, std::string_view vmText) {
  if (groupText.size() >= 2 && HexByte(groupText, groupText.size() - 2) % 2) return SJ("プライベートタグは編集できません");
  auto has = [&](const char* code) { return vrText.find(code) != std::string_view::npos; };
  if (has("OB") || has("OW") || has("SQ")) return SJ("値表現(VR)が OB、OW、SQ は編集できません");
  if ((has("SS") || has("US") || has("SL") || has("UL") || has("FL") || has("FD")) && ParseDouble(vmText) >= 2)
    return SJ("値表現(VR)が SS、US、SL、UL、FL、FD かつ 値複数度(VM)が 1 以上は編集できません");
  return "";
}

std::string ReadTagTexts(std::string_view groupText, std::string_view elementText, std::string_view vrText,
                         TagChange* change) {
  if (groupText.size() != 4) return SJ("ｸﾞﾙｰﾌﾟ が入力されていません");
  if (elementText.size() != 4) return SJ("ｴﾚﾒﾝﾄ が入力されていません");
  if (vrText.size() != 2) return SJ("値表現(VR) が入力されていません");
  return ReadTagTexts(groupText, elementText, change);
}

std::string ReadTagTexts(std::string_view groupText, std::string_view elementText, TagChange* change) {
  if (groupText.size() != 4) return SJ("ｸﾞﾙｰﾌﾟ が入力されていません");
  if (elementText.size() != 4) return SJ("ｴﾚﾒﾝﾄ が入力されていません");
  change->groupHigh = HexByte(groupText, 0);
  change->groupLow = HexByte(groupText, 2);
  change->elementHigh = HexByte(elementText, 0);
  change->elementLow = HexByte(elementText, 2);
  change->groupText = Upper(groupText);
  change->elementText = Upper(elementText);
  return "";
}

std::vector<int32_t> ImagesInScope(const StudyTree& tree, int level, int32_t entry) {
  for (const PatientNode& patient : tree.patients()) {
    for (const StudyNode& study : patient.studies) {
      for (const SeriesNode& series : study.series) {
        if (std::find(series.images.begin(), series.images.end(), entry) == series.images.end()) continue;
        std::vector<int32_t> out;
        if (level >= 3) {
          out.push_back(entry);
        } else if (level == 2) {
          out = series.images;
        } else {
          for (const StudyNode& st : patient.studies) {
            if (level == 1 && &st != &study) continue;
            for (const SeriesNode& se : st.series) out.insert(out.end(), se.images.begin(), se.images.end());
          }
        }
        return out;
      }
    }
  }
  return {};
}

namespace {
const std::string& ScopeWord(int level) {
  switch (level) {
    case 0: return SJ("患者ID単位で");
    case 1: return SJ("検査単位で");
    case 2: return SJ("シリーズ単位で");
    default: return SJ("画像単位で");
  }
}
}  // namespace

const std::string& ScopeQuestion(int level) {
  switch (level) {
    case 0: return SJ("患者ID単位で情報を書き換えますか？");
    case 1: return SJ("検査単位で情報を書き換えますか？");
    case 2: return SJ("シリーズ単位で情報を書き換えますか？");
    default: return SJ("画像単位で情報を書き換えますか？");
  }
}

std::string DeleteQuestion(int level, std::string_view groupText, std::string_view elementText,
                           std::string_view name) {
  return Format(SJ("%s ﾀｸﾞの (%s,%s) %s を削除しますか？"), ScopeWord(level), groupText, elementText, name);
}

// ---------------------------------------------------------------- logging

namespace {

void LogLine(const TagWriteEnv& env, const std::string& message, int kind, int level) {
  if (env.log) env.log->Write(message, kind, level);
}

std::string TagText(const TagChange& c) {
  return Format("(%02x%02x,%02x%02x)", static_cast<unsigned>(c.groupHigh), static_cast<unsigned>(c.groupLow),
                static_cast<unsigned>(c.elementHigh), static_cast<unsigned>(c.elementLow));
}

std::string SystemError(int err) { return SjisFromUtf8(std::strerror(err)); }

// ---------------------------------------------------------------- file primitives

bool WriteAll(int fd, const uint8_t* bytes, size_t size, int* err) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *err = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A folder that exists (created when missing) and can be written to.
bool UsableFolder(const std::string& folder) {
  if (folder.empty()) return false;
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) {
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (stat(folder.c_str(), &st) != 0) return false;
  }
  return S_ISDIR(st.st_mode) && access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string BackupFolder(const TagWriteEnv& env) {
  const std::string primary = env.installFolder + "VelmoImgBk";
  if (UsableFolder(primary)) return primary;
  if (!env.desktopFolder.empty()) {
    std::string desktop = env.desktopFolder;
    if (desktop.back() != '/') desktop += '/';
    if (UsableFolder(desktop + "VelmoImgBk")) return desktop + "VelmoImgBk";
  }
  return "";
}

std::string LocalTimeStamp() {
  struct timeval tv {};
  gettimeofday(&tv, nullptr);
  struct tm t {};
  const time_t secs = tv.tv_sec;
  localtime_r(&secs, &t);
  return Format("%04d%02d%02d%02d%02d%02d%03d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                t.tm_sec, static_cast<int>(tv.tv_usec / 1000));
}

}  // namespace

void (*g_tagEditBeforeRename)(const std::string& temporaryPath) = nullptr;
std::string (*g_tagEditTimeStamp)() = LocalTimeStamp;

namespace {

using Operation = TagOperation;

// "<name>_Add0010a0b0_<time><ext>" and the like: the file's name split at its last dot.
std::string BackupBaseName(const std::string& path, Operation op, const TagChange& c, std::string* ext) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  *ext = dot == std::string::npos ? "" : name.substr(dot);
  std::string part;
  switch (op) {
    case Operation::kAdd:
      part = Format("_Add%02x%02x%02x%02x", static_cast<unsigned>(c.groupHigh), static_cast<unsigned>(c.groupLow),
                    static_cast<unsigned>(c.elementHigh), static_cast<unsigned>(c.elementLow));
      break;
    case Operation::kEdit: part = "_Edit" + c.groupText + c.elementText; break;
    case Operation::kDelete: part = "_Del" + c.groupText + c.elementText; break;
  }
  return stem + part + "_" + g_tagEditTimeStamp();
}

// Writes the backup under a name no other file has ("_1", "_2", ... before the
// extension when taken), flushed to disk and checked by its size. Returns the path,
// or "" on failure (nothing is left behind then).
std::string WriteBackup(const std::string& folder, const std::string& base, const std::string& ext,
                        const uint8_t* bytes, size_t size, mode_t mode, bool flush) {
  for (int n = 0; n < 10000; ++n) {
    std::string path = folder;
    path.append("/").append(base);
    if (n > 0) path.append("_").append(std::to_string(n));
    path.append(ext);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return "";
    }
    int err = 0;
    struct stat st {};
    bool ok = WriteAll(fd, bytes, size, &err) && (!flush || fsync(fd) == 0) && fstat(fd, &st) == 0 &&
              static_cast<uint64_t>(st.st_size) == size;
    if (close(fd) != 0) ok = false;
    if (!ok) {
      unlink(path.c_str());
      return "";
    }
    if (flush) SyncFolder(folder);
    return path;
  }
  return "";
}

// The writer's own reading of the file: the whole file into `out`. A file that is
// not a regular file of `size` bytes once opened (replaced, grown or shrunk since it
// was looked at) is not read, so a partial image is never written back.
bool ReadAll(const std::string& path, uint64_t size, std::vector<uint8_t>* out) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) == size;
  try {
    out->resize(size);
  } catch (const std::exception&) {
    ok = false;
  }
  size_t got = 0;
  while (ok && got < size) {
    const ssize_t n = read(fd, out->data() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else got += static_cast<size_t>(n);
  }
  uint8_t more = 0;
  if (ok && read(fd, &more, 1) != 0) ok = false;
  close(fd);
  return ok;
}

}  // namespace

namespace {

// The new content of one file, written next to the real file and not yet renamed.
struct Staged {
  std::string real, folder, temp;
  struct stat original {};  // the real file as it was read
};

// Writes `bytes` to a temporary file next to the real file of `path` (links resolved)
// with the original's mode (and, for root, owner); flushed to disk when `flush`.
bool WriteTemporary(const std::string& path, const uint8_t* bytes, size_t size, bool flush, Staged* out,
                    std::string* error) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) {
    *error = SystemError(errno);
    return false;
  }
  out->real = resolved;
  if (stat(out->real.c_str(), &out->original) != 0 || !S_ISREG(out->original.st_mode)) {
    *error = SystemError(errno ? errno : EINVAL);
    return false;
  }
  const struct stat& st = out->original;
  out->folder = FolderOf(out->real);
  // ".<name>.XXXXXX", the name cut so the whole stays within the file-name limit.
  const std::string name = out->real.substr(out->folder.size() + (out->folder == "/" ? 0 : 1));
  out->temp = out->folder + "/." + name.substr(0, 200) + ".XXXXXX";
  const int fd = mkostemp(out->temp.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = SystemError(errno);
    out->temp.clear();
    return false;
  }
  int err = 0;
  bool ok = fchmod(fd, st.st_mode & 07777) == 0 || (err = errno, false);
  if (ok && geteuid() == 0 && (st.st_uid != 0 || st.st_gid != 0)) {
    if (fchown(fd, st.st_uid, st.st_gid) == 0) fchmod(fd, st.st_mode & 07777);  // chown clears set-id bits
  }
  ok = ok && WriteAll(fd, bytes, size, &err);
  if (ok && flush && fsync(fd) != 0) ok = (err = errno, false);
  if (close(fd) != 0 && ok) ok = (err = errno, false);
  if (!ok) {
    unlink(out->temp.c_str());
    out->temp.clear();
    *error = SystemError(err ? err : EIO);
  }
  return ok;
}

// Renames the temporary file over the real file, unless the real file changed since
// it was read (another program wrote it meanwhile: its content wins).
bool RenameOver(Staged& s, std::string* error) {
  struct stat now {};
  const bool same = stat(s.real.c_str(), &now) == 0 && now.st_ino == s.original.st_ino &&
                    now.st_dev == s.original.st_dev && now.st_size == s.original.st_size &&
                    now.st_mtim.tv_sec == s.original.st_mtim.tv_sec && now.st_mtim.tv_nsec == s.original.st_mtim.tv_nsec;
  int err = same ? 0 : EAGAIN;
  if (same && g_tagEditBeforeRename) g_tagEditBeforeRename(s.temp);
  if (same && rename(s.temp.c_str(), s.real.c_str()) != 0) err = errno;
  if (err != 0) {
    unlink(s.temp.c_str());
    *error = SystemError(err);
  }
  s.temp.clear();
  return err == 0;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const uint8_t* bytes, size_t size, std::string* error) {
  Staged s;
  if (!WriteTemporary(path, bytes, size, true, &s, error) || !RenameOver(s, error)) return false;
  SyncFolder(s.folder);
  return true;
}

// ---------------------------------------------------------------- delete

namespace {

// Walks the contents of an undefined-length value from `pos` to the delimiter with
// element number `closing` (E0DD for a sequence, E00D for an item) and gives the
// offset just past it.
bool SkipToDelimiter(const uint8_t* b, uint64_t n, uint64_t pos, int encoding, uint16_t closing, int depth,
                     uint64_t* end) {
  if (depth > 64) return false;
  const bool big = encoding == 2;
  while (true) {
    if (pos > n || n - pos < 8) return false;
    const uint16_t group = Get16(b + pos, big);
    const uint16_t element = Get16(b + pos + 2, big);
    layout::ElementHeader h;
    if (!layout::ReadHeader(b, n, pos, encoding, &h)) return false;
    if (group == 0xFFFE) {
      if (element == closing) {
        *end = pos + 8;
        return true;
      }
      if (element != 0xE000) return false;
      if (h.length == 0xFFFFFFFFu) {
        if (!SkipToDelimiter(b, n, pos + 8, encoding, 0xE00D, depth + 1, &pos)) return false;
      } else {
        pos += 8 + uint64_t{h.length};
      }
      continue;
    }
    if (h.length == 0xFFFFFFFFu) {
      if (!SkipToDelimiter(b, n, pos + h.headerSize, encoding, 0xE0DD, depth + 1, &pos)) return false;
    } else {
      pos += h.headerSize + uint64_t{h.length};
    }
  }
}

bool HasPrefix(const char* text, const char* prefix) { return layout::StartsWith(text, prefix); }

}  // namespace

bool RemoveElementFromImage(std::vector<uint8_t>& image, uint16_t group, uint16_t element, const TagWriteEnv& env,
                            std::string* failure) {
  const uint8_t* b = image.data();
  if (image.size() > layout::kMaxImage) {
    *failure = SJ("未対応フォーマットのファイルです");
    return false;
  }
  const uint32_t n = static_cast<uint32_t>(image.size());
  const uint32_t metaStart = layout::MetaStartOf(b, n);
  const int32_t meta = n > metaStart ? Dll_SendPtrFind(b + metaStart, static_cast<int32_t>(n - metaStart), 1) : 0;
  const uint32_t datasetStart = metaStart + static_cast<uint32_t>(meta > 0 ? meta : 0);
  char ts[65];
  uint32_t tsLength = 0;
  const bool hasTs = layout::ReadTransferSyntax(b, n, metaStart, datasetStart, ts, &tsLength);

  int byTs = -1;
  if (hasTs) {
    if (std::strcmp(ts, layout::kDeflatedSyntax) == 0) {
      *failure = SJ("圧縮（Deflate）されたファイルは書き換えられません");
      LogLine(env, *failure, kLogWarning, 1);
      return false;
    }
    const char* name = nullptr;
    if (std::strcmp(ts, "1.2.840.10008.1.2") == 0) name = "Implicit VR Little Endian", byTs = 0;
    else if (std::strcmp(ts, "1.2.840.10008.1.2.1") == 0) name = "Explicit VR Little Endian", byTs = 1;
    else if (std::strcmp(ts, "1.2.840.10008.1.2.2") == 0) name = "Explicit VR Big Endian", byTs = 2;
    else if (std::strcmp(ts, "1.2.840.10008.1.2.4.50") == 0) name = "Explicit VR Little Endian(8bit jpeg)", byTs = 1;
    else if (std::strcmp(ts, "1.2.840.10008.1.2.5") == 0) name = "Explicit VR Little Endian(RLE Lossless)", byTs = 1;
    if (name) LogLine(env, name, kLogNormal, 2);
    if ((tsLength > 20 && ts[20] != '5') || (tsLength > 21 && ts[21] != '0')) {
      const std::string& text = SJ("圧縮（JPEG）された未対応のフォーマットです");
      LogLine(env, text, kLogWarning, 1);
      if (env.notifier) env.notifier->Show(SJ("警告"), text, NoticeIcon::Warning);
      byTs = 1;
    }
    // Every other standard syntax stores its data set as explicit little endian.
    if (byTs < 0 && HasPrefix(ts, "1.2.840.10008.1.2.")) byTs = 1;
  } else if (n - datasetStart >= 2) {
    if (b[datasetStart] == 0x08 && b[datasetStart + 1] == 0x00) byTs = 0;
    if (b[datasetStart] == 0x00 && b[datasetStart + 1] == 0x08) byTs = 2;
  }
  // A DICOMDIR is named by its media storage SOP class (0002,0002); the same UID as a
  // transfer syntax is taken as one too.
  char sopClass[65] = {};
  const int64_t sopAt = layout::FindTop(b, metaStart, datasetStart, 1, 0x0002, 0x0002);
  if (sopAt >= 0 && n - sopAt >= 8) {
    const uint32_t len = std::min<uint32_t>({Get16(b + sopAt + 6, false), 64u, static_cast<uint32_t>(n - sopAt - 8)});
    std::memcpy(sopClass, b + sopAt + 8, len);
  }
  if (std::strcmp(ts, "1.2.840.10008.1.3.10") == 0 || std::strcmp(sopClass, "1.2.840.10008.1.3.10") == 0) {
    *failure = SJ("DICOM形式ファイル（DICOMDIR）です。");
    LogLine(env, *failure, kLogNormal, 2);
    return false;
  }

  // The data set's encoding: where (0008,0018) is found with a length, else the
  // transfer syntax (or the first bytes).
  int encoding = -1;
  for (int candidate : {1, 0, 2}) {
    const int64_t at = layout::FindTop(b, datasetStart, n, candidate, 0x0008, 0x0018);
    layout::ElementHeader h;
    if (at >= 0 && layout::ReadHeader(b, n, at, candidate, &h) && h.length != 0) {
      encoding = candidate;
      if (candidate == 1) LogLine(env, "Explicit VR Little Endian(RLE Lossless)", kLogNormal, 2);
      break;
    }
  }
  if (encoding < 0) encoding = byTs;
  if (encoding < 0) {
    *failure = SJ("未対応フォーマットのファイルです");
    LogLine(env, *failure, kLogWarning, 1);
    return false;
  }

  uint32_t pixel = n;
  const int64_t pixelAt = layout::FindTop(b, datasetStart, n, encoding, 0x7FE0, 0x0010);
  if (pixelAt >= 0) {
    const uint64_t start = static_cast<uint64_t>(pixelAt) + (encoding == 0 ? 8 : 12);
    pixel = start < n ? static_cast<uint32_t>(start) : n;
  }
  const bool metaGroup = group == 0x0002;
  const uint32_t begin = metaGroup ? metaStart : datasetStart;
  const uint32_t end = metaGroup ? datasetStart : pixel;
  const int rangeEncoding = metaGroup ? 1 : encoding;
  const bool big = rangeEncoding == 2;

  const unsigned char* at =
      end > begin ? Dll_DcmTagPosition(b + begin, static_cast<int32_t>(end - begin), rangeEncoding, 0, group >> 8,
                                       group & 0xFF, element >> 8, element & 0xFF)
                  : nullptr;
  const uint64_t pos = at ? static_cast<uint64_t>(at - b) : 0;
  if (!at || n - pos < 4 || Get16(b + pos, big) != group || Get16(b + pos + 2, big) != element) {
    *failure = Format(SJ("(%04x,%04x)はトップレベルにありません"), static_cast<unsigned>(group),
                      static_cast<unsigned>(element));
    return false;
  }
  layout::ElementHeader h;
  uint64_t elementEnd = 0;
  if (!layout::ReadHeader(b, n, pos, rangeEncoding, &h)) {
    elementEnd = UINT64_MAX;
  } else if (h.length == 0xFFFFFFFFu) {
    if (!SkipToDelimiter(b, n, pos + h.headerSize, rangeEncoding, 0xE0DD, 0, &elementEnd)) elementEnd = UINT64_MAX;
  } else {
    elementEnd = pos + h.headerSize + uint64_t{h.length};
  }
  if (elementEnd > n) {
    *failure = SJ("要素の長さがファイルに収まりません");
    return false;
  }
  const uint64_t removed = elementEnd - pos;

  // The group length, when it exists and lies outside the removed element.
  if (element != 0x0000) {
    const int64_t gl = layout::FindTop(b, begin, end, rangeEncoding, group, 0x0000);
    layout::ElementHeader g;
    if (gl >= 0 && layout::ReadHeader(b, n, gl, rangeEncoding, &g) && g.length == 4 &&
        static_cast<uint64_t>(gl) + g.headerSize + 4 <= pos) {
      uint8_t* value = image.data() + gl + g.headerSize;
      Put32(value, Get32(value, big) - static_cast<uint32_t>(removed), big);
    }
  }
  image.erase(image.begin() + static_cast<std::ptrdiff_t>(pos), image.begin() + static_cast<std::ptrdiff_t>(elementEnd));
  return true;
}

// ---------------------------------------------------------------- the writers

namespace {

// After the rewrite library: the tag must stand at top level with the new length.
bool ChangeLanded(const uint8_t* b, uint32_t n, const TagChange& c) {
  const layout::RewriteLayout l = layout::ReadRewriteLayout(b, n);
  if (l.encoding < 0) return false;
  const layout::Range r = layout::RangeFor(l, c.group());
  const int64_t at = layout::FindTop(b, r.begin, r.end, r.encoding, c.group(), c.element());
  layout::ElementHeader h;
  return at >= 0 && layout::ReadHeader(b, n, at, r.encoding, &h) && h.length == c.valueLength &&
         static_cast<uint64_t>(at) + h.headerSize + h.length <= n;
}

bool Fail(TagWriteReport* report, std::string message) {
  if (report) report->failure = std::move(message);
  return false;
}

// Steps up to the staged new content: checks, read, new content in memory, backup,
// temporary file. Returns false on failure (logged, in the report); true with
// staged->temp empty when the file already holds the change. `flush` flushes the
// backup and the temporary file to disk one by one (the batch flushes them together).
bool StageChange(const std::string& path, Operation op, const TagChange& change, const TagWriteEnv& env, bool flush,
                 TagWriteReport* report, Staged* staged) {
  *report = TagWriteReport{};
  const std::string shown = PathText(path);

  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    std::string m = Format(SJ("画像ファイル（%s）のステータス取得に失敗"), shown);
    LogLine(env, m, kLogWarning, 1);
    return Fail(report, m);
  }
  // Only regular files that can be read and written are rewritten.
  if (!S_ISREG(st.st_mode) || access(path.c_str(), R_OK) != 0 || access(path.c_str(), W_OK) != 0) {
    std::string m = Format(SJ("画像ファイル（%s）のアクセス権がありません"), shown);
    LogLine(env, m, kLogWarning, 1);
    return Fail(report, m);
  }
  if (st.st_size == 0) {
    std::string m = Format(SJ("画像ファイル（%s）のサイズが 0 です"), shown);
    LogLine(env, m, kLogWarning, 1);
    return Fail(report, m);
  }
  std::vector<uint8_t> original;
  if (static_cast<uint64_t>(st.st_size) > layout::kMaxImage ||
      !ReadAll(path, static_cast<uint64_t>(st.st_size), &original)) {
    std::string m = Format(SJ("画像ファイル（%s）の読み出しに失敗しました。"), shown);
    LogLine(env, m, kLogWarning, 1);
    return Fail(report, m);
  }
  LogLine(env, Format(SJ("画像ファイル（%s）を読み出しました。"), shown), kLogNormal, 1);
  // The new content.
  std::vector<uint8_t> updated;
  if (op == Operation::kDelete) {
    updated = original;
    std::string why;
    if (!RemoveElementFromImage(updated, change.group(), change.element(), env, &why)) {
      std::string m = Format(SJ("画像ファイル（%s）の%sを削除できません。%s"), shown, TagText(change), why);
      LogLine(env, m, kLogWarning, 1);
      return Fail(report, m);
    }
  } else {
    uint32_t length = static_cast<uint32_t>(original.size());
    auto* buffer = static_cast<unsigned char*>(std::malloc(original.size()));
    if (!buffer) {
      std::string m = Format(SJ("画像ファイル（%s）の読み出しに失敗しました。"), shown);
      LogLine(env, m, kLogWarning, 1);
      return Fail(report, m);
    }
    std::memcpy(buffer, original.data(), original.size());
    const char* value = change.value.c_str();
    buffer = Dll_Corvel(buffer, &length, change.groupHigh, change.groupLow, change.elementHigh, change.elementLow,
                        change.vr, change.valueLength, value);
    const bool landed = ChangeLanded(buffer, length, change) &&
                        (NumericVrSize(change.vr) != 0 || change.value.size() == change.valueLength);
    if (landed) updated.assign(buffer, buffer + length);
    std::free(buffer);
    if (!landed) {
      std::string m = Format(SJ("画像ファイル（%s）の%sを書き換えられませんでした。"), shown, TagText(change));
      LogLine(env, m, kLogWarning, 1);
      return Fail(report, m);
    }
  }
  if (updated == original) return true;  // already as asked: nothing to back up or write

  // The backup, written before the original is touched.
  std::string ext;
  const std::string base = BackupBaseName(path, op, change, &ext);
  const std::string folder = BackupFolder(env);
  report->backupPath =
      folder.empty() ? "" : WriteBackup(folder, base, ext, original.data(), original.size(), st.st_mode, flush);
  if (report->backupPath.empty()) {
    std::string m = Format(SJ("%s のバックアップに失敗しました"), shown);
    LogLine(env, m, kLogError, 1);
    return Fail(report, m);
  }
  std::string error;
  if (!WriteTemporary(path, updated.data(), updated.size(), flush, staged, &error)) {
    std::string m = Format(SJ("画像ファイル（%s）の書き込みに失敗しました。(%s)"), shown, error);
    LogLine(env, m, kLogError, 1);
    return Fail(report, m);
  }
  // The file read must be the one that gets replaced.
  if (staged->original.st_ino != st.st_ino || staged->original.st_dev != st.st_dev) {
    unlink(staged->temp.c_str());
    staged->temp.clear();
    std::string m = Format(SJ("画像ファイル（%s）の書き込みに失敗しました。(%s)"), shown, SystemError(EAGAIN));
    LogLine(env, m, kLogError, 1);
    return Fail(report, m);
  }
  return true;
}

// The rename of a staged file and the closing log lines.
bool CommitChange(const std::string& path, Operation op, const TagChange& change, const TagWriteEnv& env,
                  TagWriteReport* report, Staged* staged) {
  const std::string shown = PathText(path);
  std::string error;
  if (!RenameOver(*staged, &error)) {
    std::string m = Format(SJ("画像ファイル（%s）の書き込みに失敗しました。(%s)"), shown, error);
    LogLine(env, m, kLogError, 1);
    return Fail(report, m);
  }
  LogLine(env, Format(SJ("書き換え後の画像データの保存（%s）"), shown), kLogNormal, 1);
  const std::string& done = op == Operation::kAdd    ? SJ("画像ファイル（%s）に%sを追加しました。")
                            : op == Operation::kEdit ? SJ("画像ファイル（%s）の%sを書き換えました。")
                                                     : SJ("画像ファイル（%s）の%sを削除しました。");
  LogLine(env, Format(done, shown, TagText(change)), kLogNormal, 1);
  report->changed = true;
  return true;
}

bool WriteChange(const std::string& path, Operation op, const TagChange& change, const TagWriteEnv& env,
                 TagWriteReport* report) {
  TagWriteReport local;
  if (!report) report = &local;
  Staged staged;
  if (!StageChange(path, op, change, env, true, report, &staged)) return false;
  if (staged.temp.empty()) return true;  // already as asked
  if (!CommitChange(path, op, change, env, report, &staged)) return false;
  SyncFolder(staged.folder);
  return true;
}

// Flushes the file system that holds each folder, once per file system.
bool FlushFileSystems(const std::vector<std::string>& folders) {
  std::vector<dev_t> done;
  bool ok = true;
  for (const std::string& f : folders) {
    struct stat st {};
    if (stat(f.c_str(), &st) != 0 || std::find(done.begin(), done.end(), st.st_dev) != done.end()) continue;
    done.push_back(st.st_dev);
    const int fd = open(f.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || syncfs(fd) != 0) ok = false;
    if (fd >= 0) close(fd);
  }
  return ok;
}

}  // namespace

std::vector<TagWriteReport> ApplyTagChange(TagOperation op, const std::vector<std::string>& paths,
                                           const TagChange& change, const TagWriteEnv& env) {
  std::vector<TagWriteReport> reports(paths.size());
  std::vector<Staged> staged(paths.size());
  std::vector<std::string> folders;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (!StageChange(paths[i], op, change, env, false, &reports[i], &staged[i]) || staged[i].temp.empty()) continue;
    folders.push_back(FolderOf(reports[i].backupPath));
    folders.push_back(staged[i].folder);
  }
  const bool flushed = FlushFileSystems(folders);
  std::vector<std::string> renamed;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (staged[i].temp.empty()) continue;
    if (!flushed) {
      unlink(staged[i].temp.c_str());
      std::string m = Format(SJ("画像ファイル（%s）の書き込みに失敗しました。(%s)"), PathText(paths[i]), SystemError(EIO));
      LogLine(env, m, kLogError, 1);
      Fail(&reports[i], m);
      continue;
    }
    if (CommitChange(paths[i], op, change, env, &reports[i], &staged[i]) &&
        std::find(renamed.begin(), renamed.end(), staged[i].folder) == renamed.end())
      renamed.push_back(staged[i].folder);
  }
  for (const std::string& f : renamed) SyncFolder(f);
  return reports;
}

bool AddElementToFile(const std::string& path, const TagChange& change, const TagWriteEnv& env,
                      TagWriteReport* report) {
  return WriteChange(path, Operation::kAdd, change, env, report);
}
bool EditElementInFile(const std::string& path, const TagChange& change, const TagWriteEnv& env,
                       TagWriteReport* report) {
  return WriteChange(path, Operation::kEdit, change, env, report);
}
bool DeleteElementFromFile(const std::string& path, const TagChange& change, const TagWriteEnv& env,
                           TagWriteReport* report) {
  return WriteChange(path, Operation::kDelete, change, env, report);
}

}  // namespace velmo
