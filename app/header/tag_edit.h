#pragma once
// Tag edit, add and delete on single files: value encoding, the per-file writers,
// their backups and the write that never loses a file.
//
// A writer reads the whole file, computes the new content in memory (the rewrite
// library for add and edit, the element removal here for delete), checks that the
// change really took place, writes a backup of the old content into "VelmoImgBk",
// and only then replaces the file: the new content goes to a temporary file next to
// the real file, is flushed to disk and renamed over it, so a failure at any point
// leaves the original as it was. Every step is logged.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/log.h"
#include "base/notifier.h"

namespace velmo {

class StudyTree;

// One prepared change: the tag, the VR, the encoded value and, for backup names,
// the group and element texts as the header list shows them (upper case).
struct TagChange {
  uint8_t groupHigh = 0, groupLow = 0, elementHigh = 0, elementLow = 0;
  char vr[3] = {0, 0, 0};
  std::string value;         // encoded bytes; the decimal text for SS, US, SL, UL, FL, FD
  uint32_t valueLength = 0;  // 2, 4 or 8 for the numeric VRs, else value.size()
  std::string groupText, elementText;

  uint16_t group() const { return static_cast<uint16_t>(groupHigh << 8 | groupLow); }
  uint16_t element() const { return static_cast<uint16_t>(elementHigh << 8 | elementLow); }
  // Sets the four tag bytes and the texts "%04X".
  void SetTag(uint16_t group, uint16_t element);
};

// The longest encoded value a change may carry.
inline constexpr size_t kMaxEncodedValue = 10240;

// 2 for SS and US, 4 for SL, UL and FL, 8 for FD, 0 for every other VR.
uint32_t NumericVrSize(std::string_view vr);

// Shift-JIS text -> ISO 2022 JIS for DICOM values, run by run: ESC $ B before a run
// of double-byte characters (each converted to its JIS X 0208 code), ESC ) I before
// a run of half-width katakana, ESC ( B when single-byte text follows such a run and
// at the end. In person names spaces become "^" (so every run ends before a caret),
// and the first component group keeps half-width katakana as they are.
enum class Iso2022Form { kText, kPersonNameFirst, kPersonNameOther };
std::string SjisToIso2022(std::string_view sjis, Iso2022Form form);

// Encodes the value boxes of the edit or add dialog for `vr` into change->value and
// change->valueLength (the VR is copied too). Numeric VRs carry the first box as
// decimal text; PN joins up to three groups with "="; LO, LT, SH, ST and UT are
// converted to ISO 2022; other VRs are taken as they stand. Odd lengths get one
// padding byte (NUL for UI, a space otherwise). False when the encoded value is
// longer than kMaxEncodedValue (the change is then not made).
bool EncodeTagValue(std::string_view vr, const std::string boxes[3], TagChange* change);

// --- the commands around the writers ---

// The edit command's refusal for the selected row (group text as shown, the row's VR
// and VM texts), or "" when the element may be edited: private groups (odd last two
// hexadecimal digits), VRs containing OB, OW or SQ, and numeric VRs whose VM text
// reads as 2 or more. Messages are shown with the caption "情報".
std::string EditRefusal(std::string_view groupText, std::string_view vrText, std::string_view vmText);

// The add dialog's input checks (group and element exactly 4 characters, VR exactly
// 2), or "" when the input passes; then change->SetTag-like fields are filled from
// the texts, two characters per byte, each byte read up to the first character that
// is not a hexadecimal digit. Messages are shown with the caption "警告".
std::string ReadTagTexts(std::string_view groupText, std::string_view elementText, std::string_view vrText,
                         TagChange* change);
// The same without a VR (edit and delete take the element's own).
std::string ReadTagTexts(std::string_view groupText, std::string_view elementText, TagChange* change);

// The file-table entries a change applies to, in list order: the image `entry`
// (level 3), its series (2), every series of its study (1) or every study of its
// patient (0). Empty when the tree does not hold the entry.
std::vector<int32_t> ImagesInScope(const StudyTree& tree, int level, int32_t entry);

// The scope question of the add and edit commands for a list level (0 patient,
// 1 study, 2 series, 3 image), and the delete question with the scope word, the
// selected group and element texts and the element's name.
const std::string& ScopeQuestion(int level);
std::string DeleteQuestion(int level, std::string_view groupText, std::string_view elementText,
                           std::string_view name);

// Where the writers log, ask and keep backups.
struct TagWriteEnv {
  const Log* log = nullptr;            // null: nothing is logged
  Notifier* notifier = nullptr;        // the one per-file message box (unsupported JPEG on delete)
  std::string installFolder;           // ends in "/"; backups go to <installFolder>VelmoImgBk
  std::string desktopFolder;           // fallback for backups; "" for none
};

// What happened to one file.
struct TagWriteReport {
  bool changed = false;     // the file was rewritten (false: it already held the change, or failure)
  std::string backupPath;   // the backup written, if any
  std::string failure;      // Shift-JIS text of the failure, empty on success
  bool ok() const { return failure.empty(); }
};

enum class TagOperation { kAdd, kEdit, kDelete };

// The three per-file writers. True on success (also when the file already held
// exactly the requested content: it is then left alone and report->changed is false).
bool AddElementToFile(const std::string& path, const TagChange& change, const TagWriteEnv& env,
                      TagWriteReport* report = nullptr);
bool EditElementInFile(const std::string& path, const TagChange& change, const TagWriteEnv& env,
                       TagWriteReport* report = nullptr);
// Uses the tag and the group/element texts of `change`.
bool DeleteElementFromFile(const std::string& path, const TagChange& change, const TagWriteEnv& env,
                           TagWriteReport* report = nullptr);

// One change applied to every file of a scope, in order, with the steps, logs and
// results of the writer above for each file, but flushed to disk in rounds: first
// every backup and every new content is written (the new content to a temporary
// file next to its file), then each file system involved is flushed once, then the
// temporary files are renamed over their files and each folder is flushed once. A
// change thus costs three flushes instead of four per file, and a crash at any point
// still leaves every file either as it was or changed, with its backup on disk.
// One report per path.
std::vector<TagWriteReport> ApplyTagChange(TagOperation op, const std::vector<std::string>& paths,
                                           const TagChange& change, const TagWriteEnv& env);

// --- pieces of the writers, for tests and tools ---

// Removes the top-level element (group, element) from a whole file image. Elements of
// undefined length are removed up to their matching sequence delimiter. Returns false
// (and leaves the image as it was) when the element is not at top level, its extent
// does not fit the file, or the file cannot be handled; *failure then holds the
// reason in Shift-JIS. Logs the transfer-syntax lines of the delete workflow.
bool RemoveElementFromImage(std::vector<uint8_t>& image, uint16_t group, uint16_t element,
                            const TagWriteEnv& env, std::string* failure);

// Replaces the file at `path` (links resolved) with `bytes`: temporary file in the
// same folder, written and flushed to disk, mode (and, for root, owner) of the
// original kept, renamed over it, folder flushed. On failure the original is
// unchanged, the temporary file removed, and *error holds the system's reason.
bool ReplaceFileContents(const std::string& path, const uint8_t* bytes, size_t size, std::string* error);

// Called between the flushed temporary file and the rename (tests kill the process
// there). Null normally.
extern void (*g_tagEditBeforeRename)(const std::string& temporaryPath);
// Gives the time part of backup names ("YYYYMMDDhhmmssmmm", local time); tests fix it.
extern std::string (*g_tagEditTimeStamp)();

}  // namespace velmo
