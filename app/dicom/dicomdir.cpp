#include "dicom/dicomdir.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <unordered_set>
#include <vector>

#include "dicom/element.h"
#include "dicom/transfer_syntax.h"
#include "dicom/person_name.h"
#include "dicom/read_dicom.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

constexpr const char* kDicomdirClass = "1.2.840.10008.1.3.10";
// The scanner takes 32-bit lengths; a larger DICOMDIR is not read.
constexpr uint64_t kMaxDicomdirSize = 0x7FFFFFFFull;

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.empty() ? "." : path.c_str(), &st) == 0;
}

// Finds referenced files whose IDs differ from the names on disk only in case. Folder
// listings are kept for the whole DICOMDIR, which usually names thousands of files
// in a few folders.
class CaseMatcher {
 public:
  std::string Resolve(const std::string& folder, const std::vector<std::string_view>& parts) {
    std::string exact = folder;
    for (size_t i = 0; i < parts.size(); ++i) {
      if (i) exact += '/';
      exact.append(parts[i]);
    }
    if (Exists(exact)) return exact;
    std::string path = folder;
    bool matching = true;
    for (size_t i = 0; i < parts.size(); ++i) {
      std::string name(parts[i]);
      if (matching && !Exists(path + name)) {
        const std::string* found = Find(path, name);
        if (found) name = *found;
        else matching = false;  // nothing further down can be matched either
      }
      path += name;
      if (i + 1 < parts.size()) path += '/';
    }
    return path;
  }

 private:
  const std::string* Find(const std::string& folder, std::string_view name) {
    auto it = listings_.find(folder);
    if (it == listings_.end()) {
      std::vector<std::string> names;
      if (DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str())) {
        while (dirent* e = ::readdir(dir)) names.emplace_back(e->d_name);
        ::closedir(dir);
      }
      std::sort(names.begin(), names.end());
      it = listings_.emplace(folder, std::move(names)).first;
    }
    for (const std::string& n : it->second) {
      if (n != "." && n != ".." && EqualsIgnoringAsciiCase(n, name)) return &n;
    }
    return nullptr;
  }
  std::map<std::string, std::vector<std::string>> listings_;
};

bool SplitFileId(std::string_view fileId, std::vector<std::string_view>& parts) {
  while (!fileId.empty() && (fileId.back() == ' ' || fileId.back() == '\0')) fileId.remove_suffix(1);
  parts.clear();
  if (fileId.empty()) return false;
  size_t start = 0;
  for (;;) {
    const size_t at = fileId.find('\\', start);
    const std::string_view part = fileId.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
    // An empty or ".." component, or one holding a "/" or NUL, would name something
    // outside the DICOMDIR's folder or nothing at all.
    if (part.empty() || part == ".." || part.find('/') != std::string_view::npos ||
        part.find('\0') != std::string_view::npos) {
      return false;
    }
    parts.push_back(part);
    if (at == std::string_view::npos) return true;
    start = at + 1;
  }
}

std::string JoinFileId(const std::string& folder, const std::vector<std::string_view>& parts, CaseMatcher* matcher) {
  if (matcher) return matcher->Resolve(folder, parts);
  std::string path = folder;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) path += '/';
    path.append(parts[i]);
  }
  return path;
}

// The per-level values of the walk. Every image takes the values of the patient,
// study and series records read last, so each entry carries its own.
struct Template {
  DicomDirImage image;
  void ClearPatient() {
    image.characterSetRaw.Clear();
    for (auto& v : image.characterSetValues) v.Clear();
    image.patientId.Clear();
    image.patientNameRaw.Clear();
    for (auto& g : image.patientNameGroups) g.Clear();
  }
  void ClearStudy() {
    image.studyDate.Clear();
    image.studyTime.Clear();
    image.accessionNumber.Clear();
    image.studyInstanceUid.Clear();
  }
  void ClearSeries() {
    image.seriesTime.Clear();
    image.modality.Clear();
    image.bodyPart.Clear();
    image.protocolName.Clear();
    image.convolutionKernel.Clear();
    image.receiveCoil.Clear();
    image.seriesNumber.Clear();
    image.seriesInstanceUid.Clear();
  }
  void ClearImage() {
    image.instanceNumber.Clear();
    image.sopInstanceUid.Clear();
    image.filePath.clear();
  }
};

// ISO 2022 JIS text to Shift-JIS with "^" kept and trailing spaces removed.
std::string ConvertIdText(std::string_view value) {
  Iso2022Options options;
  options.caretToSpace = false;
  std::string s = Iso2022ToSjis(value, options);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

enum class RecordType { kPatient, kStudy, kSeries, kImage, kOther };

RecordType ActiveType(std::string_view t) {
  if (t == "PATIENT ") return RecordType::kPatient;
  if (t == "STUDY ") return RecordType::kStudy;
  if (t == "SERIES") return RecordType::kSeries;
  if (t == "IMAGE ") return RecordType::kImage;
  return RecordType::kOther;
}

RecordType InactiveType(std::string_view t) {
  if (t.find("PATIENT") != std::string_view::npos) return RecordType::kPatient;
  if (t.find("STUDY") != std::string_view::npos) return RecordType::kStudy;
  if (t.find("SERIES") != std::string_view::npos) return RecordType::kSeries;
  if (t.find("IMAGE") != std::string_view::npos) return RecordType::kImage;
  return RecordType::kOther;
}

}  // namespace

std::string FolderOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

bool ReferencedFilePath(const std::string& folder, std::string_view fileId, bool matchCase, std::string& out) {
  out.clear();
  std::vector<std::string_view> parts;
  if (!SplitFileId(fileId, parts)) return false;
  CaseMatcher matcher;
  out = JoinFileId(folder, parts, matchCase ? &matcher : nullptr);
  return true;
}

int32_t ParseDicomDirRecords(const uint8_t* buffer, uint64_t length, int32_t preambleSize, int syntax,
                             const std::string& path, DicomDirSink& sink, const DicomDirOptions& options) {
  const Log& log = *options.log;
  log.Write(SJ("DICOMDIRの解析と表示の開始"), kLogNormal, 2);
  if (length > kMaxDicomdirSize) length = kMaxDicomdirSize;
  const int64_t size = buffer ? static_cast<int64_t>(length) : 0;
  const uint8_t* end = buffer + size;
  const std::string folder = FolderOf(path);
  const bool big = syntax == 2;
  CaseMatcher matcher;
  int32_t appended = 0;

  // A file offset as an offset into the buffer: 0 stays "none"; one that falls
  // before the buffer is taken as past its end, which ends the walk.
  auto reduce = [&](uint32_t value) -> int64_t {
    if (value == 0) return 0;
    const int64_t v = static_cast<int64_t>(value) - preambleSize;
    return v < 0 ? size : v;
  };
  auto offsetValue = [&](const ElementView& e) -> uint32_t {
    return e.found() && e.available >= 4 ? Get32(e.value, big) : 0;
  };

  // The first record: (0004,1200), or when a damaged directory lacks it, the first
  // item of the directory record sequence.
  // They are looked up in the data set: the meta group before it is always explicit
  // little endian and cannot be walked in the data set's encoding.
  const int32_t metaSize = size > 0 ? Dll_SendPtrFind(buffer, static_cast<int32_t>(size), 1) : 0;
  const uint8_t* dataset = buffer + metaSize;
  int64_t current = size;
  if (const ElementView first = FindElement(dataset, end, syntax, 1, 0x0004, 0x1200); first.found()) {
    const uint32_t v = offsetValue(first);
    current = v == 0 ? size : reduce(v);
  } else if (const ElementView seq = FindElement(dataset, end, syntax, 0, 0x0004, 0x1220);
             seq.found() && seq.value < end) {
    log.Write(SJ("DICOMDIRに(0004,1200)が無いのでディレクトリレコードの先頭から解析します"), kLogWarning, 1);
    current = seq.value - buffer;
  }

  Template t;
  int64_t patientNext = 0, studyNext = 0, seriesNext = 0;
  std::unordered_set<int64_t> visited;
  auto firstOf = [](std::initializer_list<int64_t> offsets, int64_t none) {
    for (int64_t o : offsets)
      if (o != 0) return o;
    return none;
  };

  while (current >= 0 && current < size) {
    if (!visited.insert(current).second) {
      log.Write(SJ("DICOMDIRのレコードの参照が循環しているので解析を終了します"), kLogWarning, 1);
      break;
    }
    const uint8_t* at = buffer + current;
    const ElementView nextElement = FindElement(at, end, syntax, 1, 0x0004, 0x1400);
    const ElementView inUseElement = FindElement(at, end, syntax, 1, 0x0004, 0x1410);
    const ElementView lowerElement = FindElement(at, end, syntax, 1, 0x0004, 0x1420);
    const ElementView typeElement = FindElement(at, end, syntax, 1, 0x0004, 0x1430);
    const int64_t next = reduce(offsetValue(nextElement));
    const int64_t lower = reduce(offsetValue(lowerElement));
    uint32_t inUse = 0;
    if (inUseElement.found() && inUseElement.available >= 2) inUse = Get16(inUseElement.value, big);
    else if (inUseElement.found() && inUseElement.available == 1) inUse = inUseElement.value[0];
    if (!typeElement.found() || typeElement.available == 0) break;
    const std::string_view type = typeElement.text().substr(0, 16);
    const int64_t attributes = (typeElement.value + typeElement.available) - buffer;

    if (inUse == 0) {
      // Nothing is read from an inactive record; the records below it are skipped with it.
      switch (InactiveType(type)) {
        case RecordType::kPatient:
          patientNext = next;
          current = firstOf({next}, size);
          break;
        case RecordType::kStudy:
          studyNext = next;
          current = firstOf({next, patientNext}, size);
          break;
        case RecordType::kSeries:
          seriesNext = next;
          current = firstOf({next, studyNext, patientNext}, size);
          break;
        case RecordType::kImage:
          current = firstOf({next, seriesNext, studyNext, patientNext}, size);
          break;
        case RecordType::kOther:
          current = attributes;
          break;
      }
      continue;
    }

    // The record's own elements lie between its type and the next record (or its
    // first lower record); an offset that does not lie ahead gives the rest of the buffer.
    const int64_t bound = next != 0 ? next : lower;
    const uint8_t* extentEnd = bound > attributes && bound < size ? buffer + bound : end;
    const uint8_t* extentBegin = buffer + attributes;
    auto find = [&](uint16_t group, uint16_t element) {
      return FindElement(extentBegin, extentEnd, syntax, 1, group, element);
    };
    auto copy = [&](auto& field, uint16_t group, uint16_t element) {
      const ElementView e = find(group, element);
      if (e.found()) field.Assign(e.text());
    };

    switch (ActiveType(type)) {
      case RecordType::kPatient: {
        patientNext = next;
        t.ClearPatient();
        std::string_view values[5];
        const ElementView charset = find(0x0008, 0x0005);
        if (charset.found()) t.image.characterSetRaw.Assign(charset.text());
        CharacterSetValues(charset.found() ? charset.text() : std::string_view(), values);
        for (int i = 0; i < 5; ++i) t.image.characterSetValues[i].Assign(values[i]);
        if (const ElementView e = find(0x0010, 0x0020); e.found())
          t.image.patientId.Assign(CutSjis(ConvertIdText(e.text()), 64));
        if (const ElementView e = find(0x0010, 0x0010); e.found()) {
          t.image.patientNameRaw.Assign(e.text());
          std::string groups[3];
          ConvertPersonNameGroups(e.text(), t.image.characterSetRaw.view(), groups);
          for (int g = 0; g < 3; ++g) t.image.patientNameGroups[g].Assign(CutSjis(groups[g], 64));
        }
        current = firstOf({lower, next}, size);
        break;
      }
      case RecordType::kStudy:
        studyNext = next;
        t.ClearStudy();
        copy(t.image.studyDate, 0x0008, 0x0020);
        copy(t.image.studyTime, 0x0008, 0x0030);
        if (const ElementView e = find(0x0008, 0x0050); e.found())
          t.image.accessionNumber.Assign(CutSjis(ConvertIdText(e.text()), 16));
        copy(t.image.studyInstanceUid, 0x0020, 0x000D);
        current = firstOf({lower, next, patientNext}, size);
        break;
      case RecordType::kSeries:
        seriesNext = next;
        t.ClearSeries();
        copy(t.image.seriesTime, 0x0008, 0x0031);
        copy(t.image.modality, 0x0008, 0x0060);
        copy(t.image.bodyPart, 0x0018, 0x0015);
        copy(t.image.protocolName, 0x0018, 0x1030);
        copy(t.image.convolutionKernel, 0x0018, 0x1210);
        copy(t.image.receiveCoil, 0x0018, 0x1250);
        copy(t.image.seriesNumber, 0x0020, 0x0011);
        copy(t.image.seriesInstanceUid, 0x0020, 0x000E);
        current = firstOf({lower, next, studyNext, patientNext}, size);
        break;
      case RecordType::kImage: {
        t.ClearImage();
        copy(t.image.instanceNumber, 0x0020, 0x0013);
        copy(t.image.sopInstanceUid, 0x0004, 0x1511);
        const ElementView id = find(0x0004, 0x1500);
        std::vector<std::string_view> parts;
        if (!SplitFileId(id.found() ? id.text() : std::string_view(), parts)) {
          log.Write(Format(SJ("DICOMDIRの参照ファイルID（%s）が不正なので画像を読み飛ばします"),
                           id.found() ? id.text() : std::string_view()),
                    kLogWarning, 1);
        } else {
          t.image.filePath = JoinFileId(folder, parts, options.matchCase ? &matcher : nullptr);
          if (sink.Count() >= sink.Capacity()) {
            const std::string message = Format(SJ("DICOMDIRの画像数が設定値（%d）を超えました"), sink.Capacity());
            log.Write(message, kLogWarning, 1);
            if (options.notifier) options.notifier->Show(SJ("警告"), message, NoticeIcon::Warning);
            current = size;
            break;
          }
          sink.Append(t.image);
          ++appended;
        }
        current = firstOf({lower, next, seriesNext, studyNext, patientNext}, size);
        break;
      }
      case RecordType::kOther:
        // Neither read nor used for navigation: the walk goes on inside it.
        current = attributes;
        break;
    }
  }

  log.Write(SJ("DICOMDIRの解析と表示の終了"), kLogNormal, 2);
  return appended;
}

bool ReadDicomDir(const std::string& path, DicomDirSink& sink, const DicomDirOptions& options) {
  const Log& log = *options.log;
  FileSource* files = options.files ? options.files : &DiskFileSource::Instance();
  auto show = [&](const std::string& message) {
    if (options.notifier) options.notifier->Show(SJ("警告"), message, NoticeIcon::Warning);
  };
  log.Write(SJ("DICOMDIRファイルの読み出しと解析を開始"), kLogNormal, 2);

  uint64_t fileSize = 0;
  if (files->Stat(path, &fileSize) != FileStatus::kOk) {
    log.Write(SJ("ファイルのステータスが取得できないのでファイルの読み込みを中止する"), kLogNormal, 3);
    return false;
  }
  std::vector<uint8_t> buffer;
  const std::string allocationMessage =
      Format(SJ("DICOMDIRファイルの読み込み用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"),
             static_cast<long long>(fileSize));
  if (fileSize > kMaxDicomdirSize) {
    log.Write(allocationMessage, kLogWarning, 1);
    show(allocationMessage);
    return false;
  }
  try {
    buffer.assign(fileSize, 0);
  } catch (const std::bad_alloc&) {
    log.Write(allocationMessage, kLogWarning, 1);
    show(allocationMessage);
    return false;
  }
  const int64_t got = files->ReadPrefix(path, buffer.data(), fileSize);
  if (got < 0) return false;  // cannot be opened: nothing to say
  log.Write(Format(SJ("DICOMDIRファイル[%s]の読み出し"), PathText(path)), kLogNormal, 1);

  const uint8_t* buf = buffer.data();
  const int64_t readSize = got;
  const int32_t preamble = (readSize >= 132 && std::memcmp(buf + 128, "DICM", 4) == 0) ? 132 : 0;
  const int32_t metaSize = Dll_SendPtrFind(buf + preamble, static_cast<int32_t>(readSize - preamble), 1);
  const uint8_t* metaBegin = buf + preamble;
  const uint8_t* metaEnd = metaBegin + metaSize;

  FixedText<64> mediaClass;
  if (const ElementView e = FindElement(metaBegin, metaEnd, 1, 0, 0x0002, 0x0002); e.found())
    mediaClass.AssignCString(reinterpret_cast<const char*>(e.value), e.available);

  int syntax = 0;
  if (const ElementView ts = FindElement(metaBegin, metaEnd, 1, 0, 0x0002, 0x0010); ts.found()) {
    const TransferSyntaxInfo info =
        ClassifyTransferSyntax(std::string_view(reinterpret_cast<const char*>(ts.value), ts.available));
    for (int i = 0; i < info.unsupportedMarks; ++i) {
      log.Write(SJ("圧縮（JPEG）された未対応のフォーマットです"), kLogWarning, 1);
      show(SJ("圧縮（JPEG）された未対応のフォーマットです"));
    }
    syntax = info.syntax;
    if (info.name != nullptr) log.Write(info.name, kLogNormal, 2);
  } else if (readSize >= 2 && buf[0] == 0x08 && buf[1] == 0x00) {
    syntax = 0;
    log.Write("Implicit VR Little Endian", kLogNormal, 2);
  } else if (readSize >= 2 && buf[0] == 0x00 && buf[1] == 0x08) {
    syntax = 2;
    log.Write("Explicit VR Big Endian", kLogNormal, 2);
  } else {
    log.Write("Explicit VR Little Endian", kLogNormal, 2);
  }

  if (mediaClass != kDicomdirClass) return false;  // any other file is passed over silently
  ParseDicomDirRecords(metaBegin, static_cast<uint64_t>(readSize - preamble), preamble, syntax, path, sink, options);
  if (options.repaint) options.repaint();
  log.Write(SJ("DICOMDIRファイルの読み出しと解析の完了"), kLogNormal, 2);
  return true;
}

}  // namespace velmo
