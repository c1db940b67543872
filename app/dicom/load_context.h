#pragma once
// Everything a view-position load works on: the record table (one DicomImage per
// file-table entry, same index), which entry each view position shows, the file
// buffer being loaded, the per-pane flags the load touches, and the log, the
// notifier and the file source it reports to and reads from. The GUI's main
// window owns one; the CLI and tests make their own.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dicom/dicom_image.h"
#include "dicom/file_source.h"
#include "base/log.h"
#include "base/notifier.h"

namespace velmo {

struct PaneLoadState {
  bool loaded = false;          // the pane shows a loaded image
  bool levelWidthHold = false;  // keep the window the user set for the next image
  std::string levelText, widthText;  // what the pane's level and width boxes show
  bool multiFrame = false;
};

struct LoadContext {
  std::vector<DicomImage> records;
  int viewIndex[3] = {-1, -1, -1};  // record index shown at view position 1 and 2
  // A view position whose index is kReformatSlot shows `reformat` (the MPR or MIP
  // result, owned by the volume tools) instead of a record of the table.
  static constexpr int kReformatSlot = -2;
  DicomImage* reformat = nullptr;
  PaneLoadState panes[3];

  // The file buffer of the load in progress.
  std::vector<uint8_t> fileBuffer;
  uint64_t fileSize = 0;
  uint64_t readSize = 0;

  // Name-priority keywords from "患者名" ("IR 6", "IR 87", "IR 13" or "" for none) and
  // the indices the last extraction found for them.
  std::string nameKeywords[3] = {"IR 87", "IR 6", "IR 13"};
  int16_t namePriority[3] = {-1, -1, -1};

  // The message of the last failed step (Shift-JIS), for callers that report it.
  std::string failureMessage;

  const Log* log = &Log::Null();
  Notifier* notifier = nullptr;
  FileSource* files = &DiskFileSource::Instance();

  // Hooks later subsystems fill: the header view refresh of a view position, and the
  // pane reset at the end of FinishImageLoad.
  std::function<bool(int viewPos)> headerViewRefresh;
  std::function<void(int viewPos)> paneReset;

  DicomImage* Slot(int viewPos) {
    if (viewPos < 1 || viewPos > 2) return nullptr;
    int i = viewIndex[viewPos];
    if (i == kReformatSlot) return reformat;
    if (i < 0 || static_cast<size_t>(i) >= records.size()) return nullptr;
    return &records[static_cast<size_t>(i)];
  }
  void FreeFileBuffer() {
    std::vector<uint8_t>().swap(fileBuffer);
    readSize = 0;
  }
  // Frees the owned buffers of every record and clears their loaded/extracted flags
  // (the answer "yes" to the out-of-memory questions).
  void FreeAllRecordBuffers() {
    for (DicomImage& r : records) {
      r.FreeBuffers();
      r.loaded = 0;
      r.extracted = 0;
    }
  }
  void Write(std::string_view message, int kind, int level) const { log->Write(message, kind, level); }
  // Logs a failure and remembers it as the reason the load stopped.
  void Fail(std::string_view message, int kind, int level) {
    log->Write(message, kind, level);
    failureMessage.assign(message);
  }
  void Show(std::string_view caption, std::string_view message, NoticeIcon icon) {
    if (notifier) notifier->Show(caption, message, icon);
  }
  bool Ask(std::string_view caption, std::string_view message, NoticeIcon icon) {
    return notifier ? notifier->AskYesNo(caption, message, icon) : false;
  }
};

// A context holding one record shown at view position 1 (CLI, tests, tools).
inline void PrepareSingleFile(LoadContext& ctx, const std::string& path) {
  ctx.records.assign(1, DicomImage{});
  ctx.records[0].filePath = path;
  ctx.viewIndex[1] = 0;
}

}  // namespace velmo
