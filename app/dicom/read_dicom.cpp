#include "dicom/read_dicom.h"

#include <cstring>
#include <new>

#include "dicom/deflate.h"
#include "dicom/element.h"
#include "dicom/transfer_syntax.h"
#include "base/numbers.h"
#include "base/text.h"

namespace velmo {

namespace {

constexpr uint64_t kPrefixBuffer = 1048576;
constexpr uint64_t kPrefixSizes[7] = {8192, 32768, 65536, 131072, 262144, 524288, 1048576};

// Copies a UI value of a meta element into a 64-byte field, cut at the field and at
// the bytes really present.
FixedText<64> MetaUid(const ElementView& e) {
  FixedText<64> out;
  if (e.found()) out.AssignCString(reinterpret_cast<const char*>(e.value), e.available);
  return out;
}

// Asks the user whether to free what earlier images keep in memory.
void AskToFreeMemory(LoadContext& ctx, const std::string& message) {
  ctx.Fail(message, kLogWarning, 1);
  if (ctx.Ask(SJ("警告"), message, NoticeIcon::Warning)) ctx.FreeAllRecordBuffers();
}

}  // namespace

std::string PathText(const std::string& path) {
  for (unsigned char c : path) {
    if (c >= 0x80) return SjisFromUtf8(path);
  }
  return path;
}

bool ReadDicomFile(LoadContext& ctx, const std::string& path, int viewPos, bool fullRead) {
  const std::string shown = PathText(path);
  ctx.failureMessage.clear();
  ctx.Write(Format(SJ("DICOM形式ファイル（%s）の読み込みと解析を開始"), shown), kLogNormal, 2);
  DicomImage* slot = ctx.Slot(viewPos);
  if (slot == nullptr) return false;

  uint64_t fileSize = 0;
  if (ctx.files->Stat(path, &fileSize) != FileStatus::kOk) {
    ctx.Fail(Format(SJ("ファイル（%s）のステータス取得に失敗"), shown), kLogError, 1);
    return false;
  }
  if (fileSize == 0) {
    ctx.Fail(Format(SJ("画像ファイル（%s）のサイズが 0 です"), shown), kLogWarning, 1);
    return false;
  }
  ctx.fileSize = fileSize;

  bool warnWithBox = fullRead;
  bool deflated = false;  // a deflated data set is only readable once inflated whole
  for (int attempt = 0;; ++attempt) {
    // Choose this attempt's read size and prepare the buffer.
    uint64_t want;
    if (fullRead || deflated || attempt >= 7) {
      want = fileSize;
    } else {
      want = kPrefixSizes[attempt] < fileSize ? kPrefixSizes[attempt] : fileSize;
    }
    const bool lastAttempt = want >= fileSize;
    if (want > kMaxLoadableFileSize) {
      // Offsets of the record are 32-bit: a larger file cannot be held.
      ctx.Fail(SJ("未対応フォーマットのファイルです"), kLogWarning, 1);
      ctx.FreeFileBuffer();
      return false;
    }
    try {
      if (fullRead || deflated || attempt >= 7) {
        ctx.FreeFileBuffer();
        ctx.fileBuffer.assign(want, 0);
      } else {
        if (attempt == 0) {
          ctx.FreeFileBuffer();
          ctx.fileBuffer.resize(kPrefixBuffer);
        }
        std::memset(ctx.fileBuffer.data(), 0, kPrefixBuffer);
      }
    } catch (const std::bad_alloc&) {
      ctx.FreeFileBuffer();
      AskToFreeMemory(ctx, Format(SJ("画像ファイル（%s）の読み込み用のメモリが確保できません。(%d)確保済みのメモリを解放しますか？"),
                                  shown, static_cast<long long>(want)));
      return false;
    }

    const int64_t got = ctx.files->ReadPrefix(path, ctx.fileBuffer.data(), want);
    if (got < 0) {
      ctx.Fail(Format(SJ("画像データ（%s）のオープンに失敗しました"), shown), kLogError, 1);
      ctx.FreeFileBuffer();
      return false;
    }
    ctx.readSize = static_cast<uint64_t>(got);
    ctx.Write(Format(SJ("画像ファイル（%s）を読み出しました。"), shown), kLogNormal, 1);

    const uint8_t* buf = ctx.fileBuffer.data();
    int64_t readSize = static_cast<int64_t>(ctx.readSize);

    // Preamble and file meta group.
    const int32_t preambleSize = (readSize >= 132 && std::memcmp(buf + 128, "DICM", 4) == 0) ? 132 : 0;
    const int32_t metaSize =
        Dll_SendPtrFind(buf + preambleSize, static_cast<int32_t>(readSize - preambleSize), 1);
    const int32_t datasetOffset = preambleSize + metaSize;
    const uint8_t* metaBegin = buf + preambleSize;
    const uint8_t* metaEnd = metaBegin + metaSize;
    const FixedText<64> mediaSopClass = MetaUid(FindElement(metaBegin, metaEnd, 1, 0, 0x0002, 0x0002));
    const ElementView tsElement = FindElement(metaBegin, metaEnd, 1, 0, 0x0002, 0x0010);

    FixedText<64> transferSyntax;
    int16_t syntax = kImplicitLittle;
    if (tsElement.found()) {
      transferSyntax.AssignCString(reinterpret_cast<const char*>(tsElement.value), tsElement.available);
      const TransferSyntaxInfo info = ClassifyTransferSyntax(
          std::string_view(reinterpret_cast<const char*>(tsElement.value), tsElement.available));
      // A compressed syntax other than JPEG baseline: warned about (a line per failed
      // test, the box once), and the load goes on.
      for (int i = 0; i < info.unsupportedMarks; ++i) {
        ctx.Write(SJ("圧縮（JPEG）された未対応のフォーマットです"), kLogWarning, 1);
        if (warnWithBox) {
          ctx.Show(SJ("警告"), SJ("圧縮（JPEG）された未対応のフォーマットです"), NoticeIcon::Warning);
          warnWithBox = false;
        }
      }
      syntax = info.syntax;
      if (info.name != nullptr) ctx.Write(info.name, kLogNormal, 2);
      if (info.unsupportedMarks > 0) ctx.Write(Format("Transfer Syntax UID: %s", transferSyntax.c_str()), kLogWarning, 1);
      if (info.deflated) {
        if (!deflated && !lastAttempt) {
          deflated = true;  // read the whole file, then inflate
          continue;
        }
        deflated = true;
        const InflateResult inflated = InflateDataset(ctx.fileBuffer, static_cast<size_t>(datasetOffset), &ctx.readSize);
        if (inflated != InflateResult::kOk) {
          ctx.Write(inflated == InflateResult::kTooLarge ? "Deflated data set too large" : "Deflated data set damaged",
                    kLogWarning, 1);
          ctx.Fail(SJ("未対応フォーマットのファイルです"), kLogWarning, 1);
          ctx.FreeFileBuffer();
          return false;
        }
        buf = ctx.fileBuffer.data();
        readSize = static_cast<int64_t>(ctx.readSize);
      }
    } else if (readSize >= 2 && buf[0] == 0x08 && buf[1] == 0x00) {
      transferSyntax = "1.2.840.10008.1.2";
      syntax = kImplicitLittle;
      ctx.Write("Implicit VR Little Endian", kLogNormal, 2);
    } else if (readSize >= 2 && buf[0] == 0x00 && buf[1] == 0x08) {
      transferSyntax = "1.2.840.10008.1.2.2";
      syntax = kExplicitBig;
      ctx.Write("Explicit VR Big Endian", kLogNormal, 2);
    } else {
      ctx.Write("Explicit VR Little Endian", kLogNormal, 2);
    }

    if (mediaSopClass == "1.2.840.10008.1.3.10") {
      ctx.Fail(SJ("DICOM形式ファイル（DICOMDIR）です。"), kLogNormal, 2);
      ctx.FreeFileBuffer();
      return false;
    }

    // Encoding probe: where (0008,0018) reads with a non-zero length decides.
    const uint8_t* dataBegin = buf + datasetOffset;
    const uint8_t* dataEnd = buf + readSize;
    if (const int probed = ProbeDatasetSyntax(dataBegin, dataEnd); probed >= 0) {
      syntax = static_cast<int16_t>(probed);
      if (probed == kExplicitLittle) ctx.Write("Explicit VR Little Endian(RLE Lossless)", kLogNormal, 2);
    }

    // Pixel data: found only when its whole element header lies inside the bytes read.
    const uint8_t* pixel = Dll_DcmTagFind(dataBegin, static_cast<uint32_t>(dataEnd - dataBegin), syntax, 0, 0x7F,
                                          0xE0, 0x00, 0x10);
    const ptrdiff_t headerBytes = syntax == kImplicitLittle ? 8 : 12;
    if (pixel == nullptr || dataEnd - pixel < headerBytes) {
      if (lastAttempt) {
        ctx.Fail(SJ("未対応フォーマットのファイルです"), kLogWarning, 1);
        ctx.FreeFileBuffer();
        return false;
      }
      continue;
    }
    const int32_t headerSize = static_cast<int32_t>(pixel + headerBytes - buf);

    std::vector<uint8_t> headerCopy;
    try {
      headerCopy.assign(buf, buf + headerSize);
    } catch (const std::bad_alloc&) {
      ctx.Fail(Format(SJ("DICOMヘッダ退避用のメモリの確保に失敗しました。(%d)メモリ不足の可能性があります。"), headerSize),
               kLogWarning, 1);
      return false;
    }
    slot->headerSize = headerSize;
    slot->preambleSize = preambleSize;
    slot->datasetOffset = datasetOffset;
    slot->transferSyntaxUid = transferSyntax;
    slot->syntaxType = syntax;
    slot->headerCopy = std::move(headerCopy);
    return true;
  }
}

}  // namespace velmo
