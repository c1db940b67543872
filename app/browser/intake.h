#pragma once
// File intake: how paths reach the file table. The open-file dialog, the folder
// browser, drops on the main window, start-up arguments and the "更新" button each
// end in one of the functions of Intake; the GUI shows the dialogs and the progress
// window and runs the loading job (loading_job.h) when a function asks for it.
//
// A DICOMDIR takes its own road: it never goes through the loading job; its
// records are appended by the DICOMDIR reader directly.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "browser/file_table.h"
#include "base/log.h"

namespace velmo {

class FileSource;
class Notifier;

// True when the base name of `path` (without folder and extension) is "DICOMDIR",
// ignoring ASCII case.
bool IsDicomdirPath(std::string_view path);

// True when `path` names a folder (links followed).
bool IsFolderPath(const std::string& path);

// Appends every entry below `folder` to the table, depth first: each subfolder is
// scanned where it is met, every other entry (any file, hidden or not, whatever its
// name) is appended. Entries of a folder are taken in byte order of their names.
// A folder reached a second time (a link loop or a second link to it, compared by
// device and inode) is not scanned again; unreadable folders are skipped. Returns
// false when the scan stopped because the table became full.
bool ScanFolder(FileTable& table, const std::string& folder);

// The main-window commands that load a pending intake: 2000 makes the left pane
// current, 2001 the right pane.
enum class LoadCommand { kNone = 0, kLeftPane = 2000, kRightPane = 2001 };

// What commands 2000/2001 (LoadPending) and the refresh leave for the GUI to do.
struct PendingLoad {
  int pane = 0;                   // 1 left, 2 right: make it the current pane (0: unchanged)
  bool clearSelections = false;   // clear the current list selections of both panes
  bool dicomdirRoad = false;      // the table was (re)filled from a DICOMDIR
  bool dicomdirRead = false;      // ... and the DICOMDIR reader succeeded
  bool runLoadingJob = false;     // run the loading job, then rebuild the lists
};

// What the start-up arguments leave for the GUI to do.
struct StartupIntake {
  bool runLoadingJob = false;     // run the loading job before rebuilding the lists
  bool dicomdirRoad = false;      // one DICOMDIR argument was read (or the refresh read one)
  bool dicomdirRead = false;
  std::vector<std::string> missing;  // arguments that named nothing on disk (they are still taken in)
};

class Intake {
 public:
  // Reads a DICOMDIR into the table, appending at pendingEnd. True on success.
  using DicomdirReader = std::function<bool(const std::string& dicomdirPath)>;
  // Stores "リスト" "左" (the remembered DICOMDIR; "" forgets it).
  using Remember = std::function<void(const std::string& path)>;

  // The default hooks: the DICOMDIR reader of app/dicom with `log`, `notifier` and
  // `files`, and Velmo.ini for the remembered DICOMDIR (paths converted to
  // Shift-JIS; one that cannot be represented is stored as "").
  Intake(FileTable& table, const Log& log, Notifier* notifier = nullptr, FileSource* files = nullptr);

  void SetDicomdirReader(DicomdirReader reader) { readDicomdir_ = std::move(reader); }
  void SetRemember(Remember remember) { remember_ = std::move(remember); }
  // The installation folder a relative remembered DICOMDIR is taken against (the
  // installation's folder by default).
  void SetInstallFolder(std::string folder) { installFolder_ = std::move(folder); }

  // Open-file dialog accepted with `paths` in their order. A DICOMDIR among them
  // empties the table and ends the loop (it becomes the last path); otherwise each
  // path is appended until the table is full. The GUI then sends the returned
  // command (always kLeftPane) to LoadPending.
  LoadCommand TakeFiles(const std::vector<std::string>& paths);

  // Folder browser accepted with `folder`: scans it, logs, forgets the remembered
  // DICOMDIR. Returns true when the table was emptied first (the GUI resets the
  // current list selections). The GUI then runs the loading job and rebuilds.
  bool TakeFolder(const std::string& folder);

  // Files dropped on drop zone `zone` (0 file list, 1 left pane, 2 right pane,
  // 3 and 4 the hidden frames). One dropped DICOMDIR empties the table and becomes the
  // last path; folders are scanned; other DICOMDIRs are ignored; files are appended.
  // Returns the command to send to LoadPending: kLeftPane for zones 0 and 1, kRightPane
  // for zone 2. Zones 3 and 4 load nothing, so they take nothing in either (kNone,
  // table unchanged): paths appended there would sit unread in the table.
  LoadCommand TakeDrop(const std::vector<std::string>& paths, int zone);

  // Start-up arguments. `workingFolder` makes relative arguments absolute. With no
  // argument the remembered DICOMDIR becomes the last path and Refresh runs. The GUI
  // then runs the loading job when asked, rebuilds the lists, selects the first row
  // and logs "初期化の終了".
  StartupIntake TakeStartupArguments(const std::vector<std::string>& args, const std::string& workingFolder);

  // "更新": re-reads the last path when it is a DICOMDIR (relative to the
  // installation folder when it does not start with "/"), else reads nothing. The GUI
  // then rebuilds the lists, re-selects the current pane's entry and focuses the list.
  PendingLoad Refresh();

  // Commands 2000 and 2001: the first pending record's path becomes the last path;
  // with nothing pending and a DICOMDIR as last path the DICOMDIR road is taken,
  // otherwise the GUI must run the loading job. Then the GUI rebuilds the lists and
  // shows the current pane's selected entry, or selects the first row.
  PendingLoad LoadPending(LoadCommand command);

  FileTable& table() { return table_; }

 private:
  bool ReadDicomdir(const std::string& path);
  void Remember_(const std::string& path) {
    if (remember_) remember_(path);
  }

  FileTable& table_;
  const Log& log_;
  Notifier* notifier_;
  FileSource* files_;
  DicomdirReader readDicomdir_;
  Remember remember_;
  std::string installFolder_;
};

// The remembered DICOMDIR from Velmo.ini ("リスト" "左") as a native path.
std::string RememberedDicomdir();

}  // namespace velmo
