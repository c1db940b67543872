#include "browser/list_reader.h"

#include <unistd.h>

#include <cstring>
#include <new>

#include "dicom/deflate.h"
#include "dicom/element.h"
#include "dicom/person_name.h"
#include "dicom/read_dicom.h"
#include "dicom/transfer_syntax.h"
#include "base/charset.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

constexpr uint64_t kPrefixSizes[7] = {8192, 32768, 65536, 131072, 262144, 524288, 1048576};
// Offsets and lengths handed to the scanner are 32-bit: a larger file cannot be walked.
constexpr uint64_t kMaxWholeRead = 0x7FFFFFFFull;
constexpr const char* kDicomdirClass = "1.2.840.10008.1.3.10";

const char* SyntaxName(int syntax) {
  switch (syntax) {
    case 0: return "Implicit VR Little Endian";
    case 2: return "Explicit VR Big Endian";
    default: return "Explicit VR Little Endian";
  }
}

// A UI value of the meta group as a C string of at most 64 bytes (NUL padding dropped).
FixedText<64> MetaUid(const ElementView& e) {
  FixedText<64> out;
  if (e.found()) out.AssignCString(reinterpret_cast<const char*>(e.value), e.available);
  return out;
}

}  // namespace

ListEntryReader::ListEntryReader(const Log& log, FileSource* files)
    : log_(log), files_(files ? files : &DiskFileSource::Instance()), scratch_(kScratchSize, 0) {}

bool ListEntryReader::Reject(const std::string& message) {
  failureMessage_ = message;
  log_.Write(message, kLogWarning, 1);
  // The whole-file buffer of a large file is not kept for the next file.
  std::vector<uint8_t>().swap(whole_);
  return false;
}

bool ListEntryReader::Read(const std::string& path, ListRecord& out) {
  {
    std::string keep = std::move(out.filePath);
    out = ListRecord{};
    out.filePath = std::move(keep);
  }
  failureMessage_.clear();
  syntax_ = 0;
  readSize_ = 0;
  headerSize_ = 0;
  attempts_ = 0;
  const std::string shown = PathText(path);

  uint64_t fileSize = 0;
  if (files_->Stat(path, &fileSize) != FileStatus::kOk) {
    // Anything that is not a regular file (folders, devices, FIFOs) is not read.
    return Reject(Format(SJ("画像ファイル（%s）のステータス取得に失敗"), shown));
  }
  if (dynamic_cast<DiskFileSource*>(files_) != nullptr && ::access(path.c_str(), R_OK) != 0) {
    return Reject(Format(SJ("画像ファイル（%s）のアクセス権がありません"), shown));
  }
  if (fileSize == 0) return Reject(Format(SJ("画像ファイル（%s）のサイズが 0 です"), shown));

  bool deflated = false;  // a deflated data set is read whole and inflated
  for (int attempt = 0;; ++attempt) {
    attempts_ = attempt + 1;
    const bool prefix = !deflated && attempt < 7 && kPrefixSizes[attempt] < fileSize;
    uint64_t want = prefix ? kPrefixSizes[attempt] : fileSize;
    uint8_t* buf;
    if (want <= kScratchSize && !deflated) {
      // The scratch buffer is kept zero beyond the bytes read: only what an earlier
      // read left there is cleared, not the whole mebibyte every time.
      if (scratchDirty_ > 0) std::memset(scratch_.data(), 0, scratchDirty_);
      scratchDirty_ = 0;
      buf = scratch_.data();
    } else {
      if (want > kMaxWholeRead) return Reject(SJ("未対応のフォーマットです"));
      try {
        whole_.assign(want, 0);
      } catch (const std::bad_alloc&) {
        return Reject(Format(SJ("画像ファイル（%s）の読み出しに失敗しました。"), shown));
      }
      buf = whole_.data();
    }

    const int64_t got = files_->ReadPrefix(path, buf, want);
    if (got < 0) return Reject(Format(SJ("画像ファイル（%s）の読み出しに失敗しました。"), shown));
    if (buf == scratch_.data()) scratchDirty_ = static_cast<uint64_t>(got);
    // A file that shrank since its status was taken ends the attempts: what was read is all there is.
    const bool wholeFile = !prefix || static_cast<uint64_t>(got) < want;
    readSize_ = static_cast<uint64_t>(got);
    if (Logs(1)) log_.Write(Format(SJ("画像ファイル（%s）を読み出しました。"), shown), kLogNormal, 1);

    int64_t readSize = got;
    const int32_t preamble = (readSize >= 132 && std::memcmp(buf + 128, "DICM", 4) == 0) ? 132 : 0;
    if (Logs(3)) log_.Write(Format(SJ("仮のヘッダサイズ( %d Byte )"), static_cast<long long>(readSize)), kLogNormal, 3);

    const int32_t metaSize = Dll_SendPtrFind(buf + preamble, static_cast<int32_t>(readSize - preamble), 1);
    const int32_t datasetOffset = preamble + metaSize;
    if (Logs(3)) log_.Write(Format(SJ("0008,xxxxの先頭ポインタ( %d )"), datasetOffset), kLogNormal, 3);

    const uint8_t* metaBegin = buf + preamble;
    const uint8_t* metaEnd = metaBegin + metaSize;
    if (MetaUid(FindElement(metaBegin, metaEnd, 1, 0, 0x0002, 0x0002)) == kDicomdirClass) {
      return Reject(SJ("未対応のフォーマットです"));
    }

    int syntax;
    const ElementView ts = FindElement(metaBegin, metaEnd, 1, 0, 0x0002, 0x0010);
    if (ts.found()) {
      const TransferSyntaxInfo info =
          ClassifyTransferSyntax(std::string_view(reinterpret_cast<const char*>(ts.value), ts.available));
      syntax = info.syntax;
      if (info.deflated) {
        if (!deflated) {
          deflated = true;
          continue;  // read again, whole, into the owned buffer
        }
        uint64_t inflatedSize = static_cast<uint64_t>(got);
        if (InflateDataset(whole_, static_cast<size_t>(datasetOffset), &inflatedSize) != InflateResult::kOk)
          return Reject(SJ("未対応のフォーマットです"));
        buf = whole_.data();
        readSize = static_cast<int64_t>(inflatedSize);
        readSize_ = inflatedSize;
      }
    } else if (readSize >= 2 && buf[0] == 0x08 && buf[1] == 0x00) {
      syntax = 0;
    } else if (readSize >= 1 && buf[0] != 0) {
      syntax = 1;
    } else if (readSize >= 2 && buf[1] == 0x08) {
      syntax = 2;
    } else {
      syntax = 1;
    }
    if (Logs(2)) log_.Write(SyntaxName(syntax), kLogNormal, 2);

    // Encoding probe: where (0008,0018) reads with a non-zero length decides.
    const uint8_t* dataBegin = buf + datasetOffset;
    const uint8_t* dataEnd = buf + readSize;
    const uint32_t dataLength = static_cast<uint32_t>(dataEnd - dataBegin);
    if (const int probed = ProbeDatasetSyntax(dataBegin, dataEnd); probed >= 0) {
      syntax = probed;
      if (probed == 1 && Logs(2)) log_.Write("Explicit VR Little Endian(RLE Lossless)", kLogNormal, 2);
    }
    syntax_ = syntax;

    // Pixel data counts as found only when its whole element header was read.
    const uint8_t* pixel = Dll_DcmTagFind(dataBegin, dataLength, syntax, 0, 0x7F, 0xE0, 0x00, 0x10);
    const ptrdiff_t elementHeader = syntax == 0 ? 8 : 12;
    if (pixel == nullptr || dataEnd - pixel < elementHeader) {
      if (wholeFile) return Reject(SJ("未対応のフォーマットです"));
      continue;
    }
    headerSize_ = static_cast<int32_t>(pixel + elementHeader - dataBegin);
    if (Logs(3)) log_.Write(Format(SJ("0008,xxxx ～ 7FE0,0010 のサイズ( %d Byte )"), headerSize_), kLogNormal, 3);

    FillFields(dataBegin, dataBegin + headerSize_, out);
    if (Logs(1)) log_.Write(Format(SJ("患者ID（%s）"), out.patientId.view()), kLogNormal, 1);
    if (Logs(2)) log_.Write(SJ("画像データのヘッダ解析の完了"), kLogNormal, 2);
    std::vector<uint8_t>().swap(whole_);
    return true;
  }
}

void ListEntryReader::FillFields(const uint8_t* begin, const uint8_t* end, ListRecord& r) {
  const int syntax = syntax_;
  auto find = [&](uint16_t group, uint16_t element) { return FindElement(begin, end, syntax, 0, group, element); };
  // Plain fields: the value bytes as stored, cut at the field.
  auto copy = [&](auto& field, uint16_t group, uint16_t element) {
    const ElementView e = find(group, element);
    if (e.found()) field.Assign(e.text());
  };
  // Text fields that may hold ISO 2022 JIS: converted, "^" kept.
  auto jis = [&](auto& field, uint16_t group, uint16_t element) {
    const ElementView e = find(group, element);
    if (!e.found()) return;
    Iso2022Options options;
    options.caretToSpace = false;
    field.Assign(CutSjis(DicomTextToSjis(e.text(), r.characterSetRaw.view(), options), field.kCapacity));
  };
  // Person names: the raw value, and the three converted component groups.
  auto name = [&](FixedText<192>& raw, FixedText<64> (&groups)[3], uint16_t group, uint16_t element) {
    const ElementView e = find(group, element);
    if (!e.found()) return;
    raw.Assign(e.text());
    Iso2022Options options;
    options.caretToSpace = true;
    options.commaToSpace = true;
    std::string converted[3];
    ConvertPersonNameGroups(e.text(), r.characterSetRaw.view(), converted, options);
    for (int g = 0; g < 3; ++g) groups[g].Assign(CutSjis(converted[g], 64));
  };

  {
    const ElementView e = find(0x0008, 0x0005);
    std::string_view values[5];
    if (e.found()) r.characterSetRaw.Assign(e.text());
    CharacterSetValues(e.found() ? e.text() : std::string_view(), values);
    for (int i = 0; i < 5; ++i) r.characterSetValues[i].Assign(values[i]);
  }
  copy(r.sopInstanceUid, 0x0008, 0x0018);
  copy(r.studyDate, 0x0008, 0x0020);
  copy(r.studyTime, 0x0008, 0x0030);
  copy(r.seriesTime, 0x0008, 0x0031);
  copy(r.contentTime, 0x0008, 0x0033);
  copy(r.accessionNumber, 0x0008, 0x0050);
  copy(r.modality, 0x0008, 0x0060);
  jis(r.institutionName, 0x0008, 0x0080);
  name(r.referringPhysicianRaw, r.referringPhysicianGroups, 0x0008, 0x0090);
  jis(r.studyDescription, 0x0008, 0x1030);
  jis(r.departmentName, 0x0008, 0x1040);
  name(r.operatorsNameRaw, r.operatorsNameGroups, 0x0008, 0x1070);
  name(r.patientNameRaw, r.patientNameGroups, 0x0010, 0x0010);
  jis(r.patientId, 0x0010, 0x0020);
  copy(r.birthDate, 0x0010, 0x0030);
  copy(r.sex, 0x0010, 0x0040);
  jis(r.otherPatientIds, 0x0010, 0x1000);
  copy(r.patientAge, 0x0010, 0x1010);
  copy(r.bodyPart, 0x0018, 0x0015);
  jis(r.protocolName, 0x0018, 0x1030);
  jis(r.convolutionKernel, 0x0018, 0x1210);
  jis(r.receiveCoil, 0x0018, 0x1250);
  copy(r.studyInstanceUid, 0x0020, 0x000D);
  copy(r.seriesInstanceUid, 0x0020, 0x000E);
  copy(r.studyId, 0x0020, 0x0010);
  copy(r.seriesNumber, 0x0020, 0x0011);
  copy(r.instanceNumber, 0x0020, 0x0013);
  copy(r.sliceLocation, 0x0020, 0x1041);
  name(r.requestingPhysicianRaw, r.requestingPhysicianGroups, 0x0032, 0x1032);
  jis(r.requestingService, 0x0032, 0x1033);
}

}  // namespace velmo
