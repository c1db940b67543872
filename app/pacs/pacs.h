#pragma once
// Query and retrieve against a DICOM archive. The transport is one small interface
// so another protocol can join later; the DIMSE one (network library confined to
// this folder) is made by MakeDimseTransport. Received objects are written byte for
// byte as they arrive, as `.part` files renamed when complete; Velmo's own readers
// parse them afterwards like any other file.
//
// Texts handed out (answers, messages) are core text (Shift-JIS).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::pacs {

// One archive node.
struct Node {
  std::string host = "127.0.0.1";
  uint16_t port = 104;
  std::string calledAe;             // the archive's AE title
  std::string callingAe = "VELMO";  // ours
  uint32_t timeoutSeconds = 30;     // connection, association and message timeout
  // DICOM TLS (TLS 1.2 or later): the archive's certificate must chain to caFile;
  // certFile/keyFile (PEM, no passphrase) are sent when both are given.
  bool tls = false;
  std::string caFile, certFile, keyFile;
};

enum class Level { kStudy, kSeries, kImage };
const char* LevelKeyword(Level level);  // "STUDY", "SERIES", "IMAGE"

// A query key: the element and its value as the user typed it (UTF-8; empty asks
// for the value to be returned).
struct Key {
  uint16_t group = 0, element = 0;
  std::string value;
};
// "PatientName=*YAMADA*", "0010,0010=..." or a bare keyword. False (and *why) for
// an unknown keyword or a malformed tag.
bool ParseKey(std::string_view text, Key& out, std::string* why);
// The dictionary keyword of a key ("PatientName"), or "GGGG,EEEE" for one it lacks.
std::string KeyName(const Key& key);
// The keys asked for when the user names none, per level.
std::vector<Key> DefaultKeys(Level level);
// A patient name typed without wildcards is searched as "*name*": a stored name
// holds its alphabetic, ideographic and phonetic groups in one value, so the typed
// part may stand anywhere in it. Empty stays empty; a value with '*' or '?' is kept.
std::string NameSearchValue(std::string_view typed);

// One answer element: the tag and the value converted to Shift-JIS from the
// answer's Specific Character Set (UTF-8 and ISO 2022 JIS alike), trailing
// spaces removed.
struct AnswerValue {
  uint16_t group = 0, element = 0;
  std::string text;
};
using Answer = std::vector<AnswerValue>;
// The value of (group, element) in `answer`, or "".
std::string ValueOf(const Answer& answer, uint16_t group, uint16_t element);
// A raw value of an answer as Shift-JIS, given the answer's Specific Character Set.
std::string DecodeValue(std::string_view raw, std::string_view specificCharacterSet);

struct FindResult {
  bool ok = false;
  std::string error;    // why it failed (Shift-JIS)
  int answers = 0;
  bool capped = false;  // the cap was reached and the rest cancelled
};

// What a retrieve asks for: a whole study, one series of it, or one object (to try
// again an object that failed).
struct RetrieveRequest {
  std::string studyUid, seriesUid;
  std::string destination;  // files go to destination/<study>/<series>/<SOP instance>.dcm
  // 0: C-GET. Otherwise C-MOVE to our AE title, received on this port from the
  // archive's AE title and host only.
  uint16_t movePort = 0;
  // With C-GET: when the archive refuses C-GET, C-MOVE to this port instead (0: no).
  uint16_t moveFallbackPort = 0;
  // Just this object (its series is looked up first when seriesUid is empty).
  std::string sopInstanceUid;
};

struct Progress {
  int completed = 0, remaining = 0, failed = 0, warning = 0;
};

// One object received and kept (or skipped as a duplicate of one already there).
struct StoredFile {
  std::string path;  // the final file
  std::string studyUid, seriesUid, sopInstanceUid;
  bool duplicate = false;
};

struct RetrieveResult {
  bool ok = false;
  bool cancelled = false;
  bool viaMove = false;  // C-GET was refused and the objects came by C-MOVE instead
  std::string error;
  Progress last;
  std::vector<StoredFile> files;
  std::vector<std::string> failedInstances;  // SOP instance UIDs the archive reported failed
};

// Callbacks run on the thread that called Retrieve, on the thread of the second
// association when a study's series come on two at once, or for C-MOVE on the
// receiver's thread; never two at once.
struct RetrieveHooks {
  std::function<void(const StoredFile&)> stored;
  std::function<void(const Progress&)> progress;
  // A series is complete (its files are all there): the lists may take it in.
  std::function<void(const std::string& studyUid, const std::string& seriesUid)> seriesDone;
};

class Transport {
 public:
  virtual ~Transport() = default;
  // Sends one C-FIND at `level` and hands each answer to `onAnswer` as it arrives.
  // After `cap` answers (0: no cap) the rest is cancelled.
  virtual FindResult Find(Level level, const std::vector<Key>& keys,
                          const std::function<void(const Answer&)>& onAnswer, int cap = 0) = 0;
  // Retrieves a study or a series with C-GET (or C-MOVE, see RetrieveRequest). A
  // study of several series by C-GET (with no C-MOVE fallback) is fetched series by
  // series on two associations at once.
  virtual RetrieveResult Retrieve(const RetrieveRequest& request, const RetrieveHooks& hooks) = 0;
  // Asks a running Find/Retrieve to stop (any thread): a C-CANCEL is sent on its
  // association, and when the request has not ended half a second later (an archive
  // that ignores C-CANCEL, or one that went silent) its associations are aborted.
  // The transport stays cancelled: later calls fail at once.
  virtual void Cancel() = 0;
};

std::unique_ptr<Transport> MakeDimseTransport(const Node& node);

// Turns Nagle's algorithm off for every association this process opens. The
// network library reads the environment variable TCP_NODELAY when it opens a
// connection, so this must run before any thread starts (setenv is not
// thread-safe). Any other value, including "0", is replaced by "1".
void EnableNoDelay();
// True when every association will be opened with TCP_NODELAY.
bool NoDelayEnabled();

// Path pieces: a UID used as a folder or file name must be digits and dots only
// (anything else could leave the destination). False for an empty or unsafe UID.
bool SafeUid(std::string_view uid);

}  // namespace velmo::pacs
