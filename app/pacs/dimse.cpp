// The DIMSE transport: C-FIND and C-GET through the network library's SCU class.
// Received objects are streamed straight to a `.part` file (bit-preserving mode),
// then read by Velmo's list entry reader for their study and series and renamed
// into destination/<study>/<series>/<SOP instance>.dcm.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcdicent.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/diutil.h>
#include <dcmtk/dcmnet/dstorscp.h>
#include <dcmtk/dcmnet/scu.h>
#include <dcmtk/dcmtls/tlsscu.h>
#include <dcmtk/oflog/oflog.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <type_traits>

#include "base/log.h"
#include "base/text.h"
#include "browser/list_reader.h"
#include "browser/list_record.h"
#include "pacs/pacs.h"

namespace velmo::pacs {

namespace fs = std::filesystem;

namespace {

// The network library logs to the console by default; the archive module reports
// through its results instead, and nothing about patients reaches any log.
void QuietNetworkLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    // VELMO_PACS_TRACE=1 shows the network library's own messages on stderr while
    // diagnosing an archive (they may hold patient data: never on by default).
    const char* trace = std::getenv("VELMO_PACS_TRACE");
    OFLog::configure(trace && *trace == '1' ? OFLogger::DEBUG_LOG_LEVEL : OFLogger::FATAL_LOG_LEVEL);
  });
}

bool TagFromName(const std::string& name, DcmTagKey& key) {
  const DcmDataDictionary& dict = dcmDataDict.rdlock();
  const DcmDictEntry* e = dict.findEntry(name.c_str());
  if (e) key = e->getKey();
  dcmDataDict.rdunlock();
  return e != nullptr;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex4(std::string_view s, uint16_t& out) {
  if (s.size() != 4) return false;
  out = 0;
  for (char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    out = static_cast<uint16_t>(out * 16 + d);
  }
  return true;
}

std::string Hex4(unsigned v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i, v >>= 4) s[i] = digits[v & 15];
  return s;
}

// The network library keeps the association of its SCU and SCP classes (and the
// socket of a connection) private, and offers no way to end one from another
// thread. A cancel that the archive ignores must still end a blocked read, which
// takes the association's socket: an explicit instantiation may name a private
// member, which hands out a pointer to it.
template <class Tag, typename Tag::type M>
struct ExposeMember {
  friend typename Tag::type MemberOf(Tag) { return M; }
};
struct ScuAssociation {
  using type = T_ASC_Association* DcmSCU::*;
  friend type MemberOf(ScuAssociation);
};
struct ScpAssociation {
  using type = T_ASC_Association* DcmSCP::*;
  friend type MemberOf(ScpAssociation);
};
struct ConnectionSocket {
  using type = DcmNativeSocketType (DcmTransportConnection::*)();
  friend type MemberOf(ConnectionSocket);
};
template struct ExposeMember<ScuAssociation, &DcmSCU::m_assoc>;
template struct ExposeMember<ScpAssociation, &DcmSCP::m_assoc>;
template struct ExposeMember<ConnectionSocket, &DcmTransportConnection::getSocket>;

// A duplicate of the socket under `assoc` (-1 when there is none). Ours to close; the
// socket stays valid for shutdown() even after the library closes its own descriptor.
int DupSocketOf(T_ASC_Association* assoc) {
  if (!assoc || !assoc->DULassociation) return -1;
  DcmTransportConnection* c = DUL_getTransportConnection(assoc->DULassociation);
  if (!c) return -1;
  const int fd = static_cast<int>((c->*MemberOf(ConnectionSocket{}))());
  return fd < 0 ? -1 : dup(fd);
}

// How long a cancelled request may take to end by itself (the archive answering
// C-CANCEL with its final response) before its associations are cut.
constexpr auto kCancelGrace = std::chrono::milliseconds(500);

// Ends the associations of one request when a cancel is not answered in time. The
// worker registers each association's socket while it is open; after Cancel the
// watcher waits kCancelGrace for the request to finish, then shuts the sockets down
// for reading, so a read blocked on a silent archive returns at once and the worker
// aborts the association. Sockets are duplicates owned here, so a socket the
// library has closed meanwhile is never confused with a new one.
class CancelWatch {
 public:
  explicit CancelWatch(std::atomic<bool>& cancelFlag) : cancelFlag_(cancelFlag) {
    thread_ = std::thread([this] { Run(); });
  }
  ~CancelWatch() {
    {
      std::lock_guard<std::mutex> l(m_);
      finished_ = true;
      for (int fd : fds_) close(fd);
      fds_.clear();
    }
    cv_.notify_all();
    thread_.join();
  }
  CancelWatch(const CancelWatch&) = delete;
  CancelWatch& operator=(const CancelWatch&) = delete;

  void Cancel() {
    {
      std::lock_guard<std::mutex> l(m_);
      cancelled_ = true;
    }
    cv_.notify_all();
  }
  // Registers a socket (a duplicate, see DupSocketOf); -1 is ignored. Returns it.
  int Add(int fd) {
    if (fd < 0) return fd;
    std::lock_guard<std::mutex> l(m_);
    if (cut_) shutdown(fd, SHUT_RD);
    fds_.push_back(fd);
    return fd;
  }
  // Unregisters and closes a socket given by Add.
  void Remove(int fd) {
    if (fd < 0) return;
    std::lock_guard<std::mutex> l(m_);
    const auto it = std::find(fds_.begin(), fds_.end(), fd);
    if (it == fds_.end()) return;
    fds_.erase(it);
    close(fd);
  }
  // True once the grace period ran out and the sockets were shut down.
  bool Cut() {
    std::lock_guard<std::mutex> l(m_);
    return cut_;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [this] { return finished_ || cancelled_ || cancelFlag_.load(); });
    if (finished_) return;
    if (cv_.wait_for(l, kCancelGrace, [this] { return finished_; })) return;
    cut_ = true;
    for (int fd : fds_) shutdown(fd, SHUT_RD);
  }

  std::atomic<bool>& cancelFlag_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<int> fds_;
  bool cancelled_ = false, finished_ = false, cut_ = false;
  std::thread thread_;
};

// The transfer syntaxes offered for received objects: the uncompressed ones first,
// then the compressed ones Velmo decodes, so an archive can send a compressed file
// as it stored it.
const char* const kStorageSyntaxes[] = {
    UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax,
    UID_BigEndianExplicitTransferSyntax,    UID_JPEGProcess1TransferSyntax,
    UID_JPEGProcess14SV1TransferSyntax,     UID_JPEGProcess14TransferSyntax,
    UID_RLELosslessTransferSyntax,
};

// Files each received object: `.part` while it arrives, then read by Velmo's list
// entry reader for its study and series and renamed into
// destination/<study>/<series>/<SOP instance>.dcm (an object already there is
// dropped as a duplicate). Used by the C-GET association and the C-MOVE receiver's
// thread alike, so everything here runs under one lock.
class StoreSink {
 public:
  StoreSink(const RetrieveRequest& request, const RetrieveHooks& hooks, RetrieveResult& result)
      : request_(request), hooks_(hooks), result_(result) {}

  std::string PartPath(const std::string& requestedSop) {
    std::lock_guard<std::mutex> l(m_);
    const fs::path studyDir = fs::path(request_.destination) / request_.studyUid;
    std::error_code ec;
    fs::create_directories(studyDir, ec);
    // Numbered, so retrieves running side by side into one folder (two associations
    // at once) never share a `.part`, even for one object sent twice.
    static std::atomic<unsigned> counter{0};
    const std::string name = (SafeUid(requestedSop) ? requestedSop : std::string("received")) + "-" +
                             std::to_string(++counter);
    std::string part = (studyDir / (name + ".part")).string();
    parts_.insert(part);
    return part;
  }

  // The object at `part` failed to arrive whole.
  void Failed(const std::string& part, const std::string& sop) {
    std::lock_guard<std::mutex> l(m_);
    std::error_code ec;
    fs::remove(part, ec);
    parts_.erase(part);
    if (SafeUid(sop)) result_.failedInstances.push_back(sop);
  }

  // The object at `part` is complete. False when it could not be kept.
  bool Finish(const std::string& part, std::string sop) {
    std::lock_guard<std::mutex> l(m_);
    parts_.erase(part);
    ListRecord rec;
    rec.filePath = part;
    std::string study = request_.studyUid, series = request_.seriesUid;
    if (reader_.Read(part, rec)) {
      const std::string se(rec.seriesInstanceUid.view()), st(rec.studyInstanceUid.view()), i(rec.sopInstanceUid.view());
      if (SafeUid(se)) series = se;
      if (SafeUid(st)) study = st;
      if (SafeUid(i)) sop = i;
    }
    if (!SafeUid(series)) series = "unsorted";
    if (!SafeUid(sop)) sop = fs::path(part).stem().string();
    const fs::path seriesDir = fs::path(request_.destination) / study / series;
    std::error_code ec;
    fs::create_directories(seriesDir, ec);
    StoredFile f;
    f.path = (seriesDir / (sop + ".dcm")).string();
    f.studyUid = study;
    f.seriesUid = series;
    f.sopInstanceUid = sop;
    if (fs::exists(f.path, ec)) {
      f.duplicate = true;
      fs::remove(part, ec);
    } else {
      fs::rename(part, f.path, ec);
      if (ec) {
        fs::remove(part, ec);
        result_.failedInstances.push_back(sop);
        return false;
      }
    }
    if (!lastSeries_.empty() && lastSeries_ != series) FinishSeriesLocked(lastSeries_);
    lastSeries_ = series;
    result_.files.push_back(f);
    if (hooks_.stored) hooks_.stored(f);
    return true;
  }

  // The retrieve is over: the last series is complete too, and a `.part` of an
  // object that never arrived whole (a broken association) is removed, so only
  // complete files remain.
  void End() {
    std::lock_guard<std::mutex> l(m_);
    FinishSeriesLocked(lastSeries_);
    std::error_code ec;
    for (const std::string& part : parts_) fs::remove(part, ec);
    parts_.clear();
  }

  void Progress(const pacs::Progress& p, const OFString* failedList) {
    std::lock_guard<std::mutex> l(m_);
    result_.last = p;
    if (failedList) {
      std::string_view s(failedList->c_str(), failedList->length());
      while (!s.empty()) {
        const size_t cut = s.find('\\');
        std::string uid(s.substr(0, cut));
        while (!uid.empty() && uid.back() == ' ') uid.pop_back();
        if (!uid.empty() &&
            std::find(result_.failedInstances.begin(), result_.failedInstances.end(), uid) == result_.failedInstances.end())
          result_.failedInstances.push_back(uid);
        if (cut == std::string_view::npos) break;
        s.remove_prefix(cut + 1);
      }
    }
    if (hooks_.progress) hooks_.progress(p);
  }

  size_t FileCount() {
    std::lock_guard<std::mutex> l(m_);
    return result_.files.size();
  }

 private:
  void FinishSeriesLocked(const std::string& series) {
    if (series.empty() || !seriesDone_.insert(series).second) return;
    if (hooks_.seriesDone) hooks_.seriesDone(request_.studyUid, series);
  }

  std::mutex m_;
  const RetrieveRequest& request_;
  const RetrieveHooks& hooks_;
  RetrieveResult& result_;
  Log log_;  // disabled: the list entry reader wants one
  ListEntryReader reader_{log_};  // one for the retrieve: its scratch buffer is 1 MiB
  std::string lastSeries_;
  std::set<std::string> seriesDone_;
  std::set<std::string> parts_;  // `.part` files given out and not yet finished
};

pacs::Progress ProgressOf(const RetrieveResponse& r) {
  pacs::Progress p;
  p.completed = r.m_numberOfCompletedSubops;
  p.remaining = r.m_numberOfRemainingSubops;
  p.failed = r.m_numberOfFailedSubops;
  p.warning = r.m_numberOfWarningSubops;
  return p;
}

// The receiver of a C-MOVE: a storage SCP on our port that takes objects only from
// the archive's AE title and address, written bit-preserving through the sink.
class MoveReceiver final : public DcmStorageSCP {
 public:
  StoreSink* sink = nullptr;
  CancelWatch* watch = nullptr;
  std::string ourAe, archiveAe, archiveHost;
  std::atomic<bool> stop{false};

 protected:
  // The association of the archive, registered so a cancel can cut it.
  void notifyAssociationAcknowledge() override {
    DcmStorageSCP::notifyAssociationAcknowledge();
    if (watch) socket_ = watch->Add(DupSocketOf(this->*MemberOf(ScpAssociation{})));
  }
  void notifyAssociationTermination() override {
    DcmStorageSCP::notifyAssociationTermination();
    if (watch) watch->Remove(socket_);
    socket_ = -1;
  }
  OFCondition generateSTORERequestFilename(const T_DIMSE_C_StoreRQ& rq, OFString& filename) override {
    filename = sink->PartPath(rq.AffectedSOPInstanceUID).c_str();
    return EC_Normal;
  }
  void notifyInstanceStored(const OFString& filename, const OFString&, const OFString& sop,
                            DcmDataset*) const override {
    sink->Finish(filename.c_str(), sop.c_str());
  }
  OFBool checkCalledAETitleAccepted(const OFString& called) override { return ourAe == called.c_str(); }
  OFBool checkCallingAETitleAccepted(const OFString& calling) override { return archiveAe == calling.c_str(); }
  OFBool checkCallingHostAccepted(const OFString& host) override {
    // Without host lookup the library may hand over no address: take the peer's.
    std::string h = host.c_str();
    if (h.empty()) h = getPeerIP().c_str();
    return (!h.empty() && h == archiveHost) || (archiveHost == "localhost" && h == "127.0.0.1");
  }
  OFBool stopAfterConnectionTimeout() override { return stop.load(); }
  OFBool stopAfterCurrentAssociation() override { return stop.load(); }

 private:
  int socket_ = -1;
};

// Wakes a receiver waiting for its next association (it looks at its stop flag only
// between associations, or once a second): a connection to its port that closes at
// once ends the wait.
void WakeReceiver(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  close(fd);
}

// The association of one request, plain or over TLS.
template <class Base>
class Scu final : public Base {
 public:
  std::atomic<bool>* cancel = nullptr;
  // Find
  const std::function<void(const Answer&)>* onAnswer = nullptr;
  int cap = 0, answers = 0;
  bool capped = false;
  Uint16 lastStatus = 0;
  // Retrieve
  StoreSink* sink = nullptr;
  T_ASC_PresentationContextID requestPresId = 0;
  bool cancelSent = false;

  void SendCancelOnce() {
    if (cancelSent) return;
    cancelSent = true;
    this->sendCANCELRequest(requestPresId);
  }

  OFCondition handleFINDResponse(const T_ASC_PresentationContextID presID, QRResponse* response,
                                 OFBool& waitForNextResponse) override {
    OFCondition c = Base::handleFINDResponse(presID, response, waitForNextResponse);
    lastStatus = response->m_status;
    if (!DICOM_PENDING_STATUS(response->m_status) || !response->m_dataset) return c;
    if (cancelSent) return c;  // answers after the cancel are not wanted
    if (cancel && cancel->load()) {
      SendCancelOnce();
      return c;
    }
    Answer a;
    DcmDataset* ds = response->m_dataset;
    OFString charset;
    ds->findAndGetOFStringArray(DCM_SpecificCharacterSet, charset);
    for (unsigned long i = 0; i < ds->card(); ++i) {
      DcmElement* e = ds->getElement(i);
      if (!e) continue;
      const DcmTagKey k = e->getTag().getXTag();
      if (k == DCM_SpecificCharacterSet) continue;
      AnswerValue v;
      v.group = k.getGroup();
      v.element = k.getElement();
      OFString raw;
      if (e->getOFStringArray(raw).good()) v.text = DecodeValue(std::string_view(raw.c_str(), raw.length()), charset.c_str());
      a.push_back(std::move(v));
    }
    ++answers;
    if (onAnswer && *onAnswer) (*onAnswer)(a);
    if (cap > 0 && answers >= cap) {
      capped = true;
      SendCancelOnce();
    }
    return c;
  }

  OFCondition Retrieved(RetrieveResponse* response, OFBool& more) {
    lastStatus = response->m_status;
    OFString list;
    const bool hasList = response->m_dataset &&
                         response->m_dataset->findAndGetOFStringArray(DCM_FailedSOPInstanceUIDList, list).good();
    sink->Progress(ProgressOf(*response), hasList ? &list : nullptr);
    if (cancel && cancel->load() && more) SendCancelOnce();
    return EC_Normal;
  }

  OFCondition handleCGETResponse(const T_ASC_PresentationContextID presID, RetrieveResponse* response,
                                 OFBool& continueCGETSession) override {
    OFCondition c = Base::handleCGETResponse(presID, response, continueCGETSession);
    Retrieved(response, continueCGETSession);
    return c;
  }

  OFCondition handleMOVEResponse(const T_ASC_PresentationContextID presID, RetrieveResponse* response,
                                 OFBool& waitForNextResponse) override {
    OFCondition c = Base::handleMOVEResponse(presID, response, waitForNextResponse);
    Retrieved(response, waitForNextResponse);
    return c;
  }

  OFCondition handleSTORERequestFile(T_ASC_PresentationContextID* presID, const OFString& /*filename*/,
                                     T_DIMSE_C_StoreRQ* rq) override {
    const std::string sop = rq ? rq->AffectedSOPInstanceUID : "";
    const std::string part = sink->PartPath(sop);
    OFCondition c = Base::handleSTORERequestFile(presID, OFString(part.c_str()), rq);
    if (c.bad()) {
      // An object broken off by a cancel is not a failure to list.
      sink->Failed(part, cancel && cancel->load() ? "" : sop);
      return c;
    }
    // An object that arrived but could not be filed (listed as failed by the sink) is
    // answered with a failure status, and the retrieve goes on with the others: an
    // error here would end the whole session.
    if (!sink->Finish(part, sop)) filingFailed_ = true;
    if (cancel && cancel->load()) SendCancelOnce();
    return EC_Normal;
  }

  OFCondition sendSTOREResponse(T_ASC_PresentationContextID presID, Uint16 status,
                                const T_DIMSE_C_StoreRQ& request) override {
    if (filingFailed_ && status == STATUS_Success) status = STATUS_STORE_Refused_OutOfResources;
    filingFailed_ = false;
    return Base::sendSTOREResponse(presID, status, request);
  }

 private:
  bool filingFailed_ = false;
};

class DimseTransport final : public Transport {
 public:
  explicit DimseTransport(const Node& node) : node_(node) { QuietNetworkLog(); }

  FindResult Find(Level level, const std::vector<Key>& keys, const std::function<void(const Answer&)>& onAnswer,
                  int cap) override {
    return node_.tls ? FindWith<Scu<DcmTLSSCU>>(level, keys, onAnswer, cap)
                     : FindWith<Scu<DcmSCU>>(level, keys, onAnswer, cap);
  }

  RetrieveResult Retrieve(const RetrieveRequest& request, const RetrieveHooks& hooks) override {
    if (SafeUid(request.studyUid)) RemoveParts(request);
    if (!request.sopInstanceUid.empty() && request.seriesUid.empty()) {
      // One object whose series is not known (the archive reports failed objects by
      // their SOP instance only): an image-level request must name the series too.
      RetrieveRequest named = request;
      named.seriesUid = SeriesOfInstance(request.studyUid, request.sopInstanceUid);
      if (!named.seriesUid.empty()) return RetrieveOne(named, hooks);
    }
    // A whole study by C-GET is fetched series by series on two associations at
    // once. Not with C-MOVE, nor when C-GET may turn into C-MOVE: there is one
    // receiver port, and a C-MOVE already takes two associations.
    if (request.movePort == 0 && request.moveFallbackPort == 0 && request.seriesUid.empty() &&
        request.sopInstanceUid.empty() && !cancel_) {
      const std::vector<std::string> series = SeriesOf(request.studyUid);
      if (series.size() >= 2) return RetrieveSeriesInParallel(request, series, hooks);
    }
    return RetrieveOne(request, hooks);
  }

  void Cancel() override {
    cancel_ = true;
    std::lock_guard<std::mutex> l(watchM_);
    for (CancelWatch* w : watches_) w->Cancel();
  }

 private:
  RetrieveResult RetrieveOne(const RetrieveRequest& request, const RetrieveHooks& hooks) {
    return node_.tls ? RetrieveWith<Scu<DcmTLSSCU>>(request, hooks) : RetrieveWith<Scu<DcmSCU>>(request, hooks);
  }

  // The series UIDs of a study, in the archive's order (empty when the search fails).
  std::vector<std::string> SeriesOf(const std::string& studyUid) {
    std::vector<std::string> out;
    if (!SafeUid(studyUid)) return out;
    std::vector<Key> keys{{DCM_StudyInstanceUID.getGroup(), DCM_StudyInstanceUID.getElement(), studyUid},
                          {DCM_SeriesInstanceUID.getGroup(), DCM_SeriesInstanceUID.getElement(), ""}};
    const FindResult r = Find(Level::kSeries, keys, [&](const Answer& a) {
      const std::string uid = ValueOf(a, DCM_SeriesInstanceUID.getGroup(), DCM_SeriesInstanceUID.getElement());
      if (SafeUid(uid) && std::find(out.begin(), out.end(), uid) == out.end()) out.push_back(uid);
    }, 0);
    if (!r.ok) out.clear();
    return out;
  }

  // The series UID of one object of a study ("" when the search fails).
  std::string SeriesOfInstance(const std::string& studyUid, const std::string& sopUid) {
    std::string out;
    if (!SafeUid(studyUid) || !SafeUid(sopUid)) return out;
    std::vector<Key> keys{{DCM_StudyInstanceUID.getGroup(), DCM_StudyInstanceUID.getElement(), studyUid},
                          {DCM_SeriesInstanceUID.getGroup(), DCM_SeriesInstanceUID.getElement(), ""},
                          {DCM_SOPInstanceUID.getGroup(), DCM_SOPInstanceUID.getElement(), sopUid}};
    Find(Level::kImage, keys, [&](const Answer& a) {
      const std::string uid = ValueOf(a, DCM_SeriesInstanceUID.getGroup(), DCM_SeriesInstanceUID.getElement());
      if (out.empty() && SafeUid(uid)) out = uid;
    }, 0);
    return out;
  }

  // Two lanes take the series one after the other, each on its own association. The
  // hooks are called under one lock (never two at once); progress is the sum of the
  // lanes'. A lane that fails stops both from taking further series.
  RetrieveResult RetrieveSeriesInParallel(const RetrieveRequest& request, const std::vector<std::string>& series,
                                          const RetrieveHooks& hooks) {
    std::mutex m;
    size_t next = 0;
    bool failed = false;
    RetrieveResult total;
    total.ok = true;
    Progress lanes[2];
    auto lane = [&](int index) {
      RetrieveHooks laneHooks;
      laneHooks.stored = [&](const StoredFile& f) {
        std::lock_guard<std::mutex> l(m);
        if (hooks.stored) hooks.stored(f);
      };
      laneHooks.seriesDone = [&](const std::string& study, const std::string& done) {
        std::lock_guard<std::mutex> l(m);
        if (hooks.seriesDone) hooks.seriesDone(study, done);
      };
      for (;;) {
        RetrieveRequest one = request;
        Progress base;  // this lane's earlier series stay counted
        {
          std::lock_guard<std::mutex> l(m);
          if (failed || next >= series.size()) return;
          one.seriesUid = series[next++];
          base = lanes[index];
        }
        laneHooks.progress = [&, base](const Progress& p) {
          std::lock_guard<std::mutex> l(m);
          Progress now = base;
          now.completed += p.completed;
          now.failed += p.failed;
          now.warning += p.warning;
          now.remaining = p.remaining;
          lanes[index] = now;
          Progress sum;
          for (const Progress& x : lanes) {
            sum.completed += x.completed;
            sum.remaining += x.remaining;
            sum.failed += x.failed;
            sum.warning += x.warning;
          }
          total.last = sum;
          if (hooks.progress) hooks.progress(sum);
        };
        RetrieveResult r = RetrieveOne(one, laneHooks);
        std::lock_guard<std::mutex> l(m);
        lanes[index].remaining = 0;
        total.files.insert(total.files.end(), r.files.begin(), r.files.end());
        total.failedInstances.insert(total.failedInstances.end(), r.failedInstances.begin(), r.failedInstances.end());
        total.cancelled |= r.cancelled;
        if (!r.ok) {
          failed = true;
          if (total.ok) total.error = r.error;
          total.ok = false;
        }
      }
    };
    std::thread second(lane, 1);
    lane(0);
    second.join();
    return total;
  }

  // A CancelWatch for the duration of one request, reachable from Cancel.
  class Watched {
   public:
    explicit Watched(DimseTransport& t) : t_(t), watch_(t.cancel_) {
      std::lock_guard<std::mutex> l(t_.watchM_);
      t_.watches_.insert(&watch_);
    }
    ~Watched() {
      std::lock_guard<std::mutex> l(t_.watchM_);
      t_.watches_.erase(&watch_);
    }
    CancelWatch& operator*() { return watch_; }
    CancelWatch* operator->() { return &watch_; }

   private:
    DimseTransport& t_;
    CancelWatch watch_;
  };

  // Registers the association of `scu` with the watch; Close ends it (released, or
  // aborted) and unregisters it.
  template <class S>
  struct Association {
    S& scu;
    CancelWatch& watch;
    int fd = -1;
    Association(S& s, CancelWatch& w) : scu(s), watch(w) { fd = watch.Add(DupSocketOf(scu.*MemberOf(ScuAssociation{}))); }
    void Close(bool abort) {
      if (abort) scu.abortAssociation();
      else scu.releaseAssociation();
      watch.Remove(fd);
      fd = -1;
    }
    ~Association() { watch.Remove(fd); }
  };

  template <class S>
  FindResult FindWith(Level level, const std::vector<Key>& keys, const std::function<void(const Answer&)>& onAnswer,
                      int cap) {
    FindResult r;
    if (cancel_) {
      r.error = SJ("検索を中止しました");
      return r;
    }
    S scu;
    Configure(scu);
    OFList<OFString> ts;
    ts.push_back(UID_LittleEndianExplicitTransferSyntax);
    ts.push_back(UID_LittleEndianImplicitTransferSyntax);
    scu.addPresentationContext(UID_FINDStudyRootQueryRetrieveInformationModel, ts);
    Watched watch(*this);
    if (!Connect(scu, r.error)) return r;
    Association<S> assoc(scu, *watch);
    T_ASC_PresentationContextID pid = scu.findPresentationContextID(UID_FINDStudyRootQueryRetrieveInformationModel, "");
    if (pid == 0) {
      r.error = SJ("検索 (C-FIND) が受け入れられませんでした");
      assoc.Close(false);
      return r;
    }
    DcmDataset q;
    q.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
    q.putAndInsertString(DCM_QueryRetrieveLevel, LevelKeyword(level));
    bool hasStudyUid = false, hasSeriesUid = false, hasSopUid = false;
    for (const Key& k : keys) {
      const DcmTagKey t(k.group, k.element);
      if (t == DCM_SpecificCharacterSet || t == DCM_QueryRetrieveLevel) continue;
      hasStudyUid |= t == DCM_StudyInstanceUID;
      hasSeriesUid |= t == DCM_SeriesInstanceUID;
      hasSopUid |= t == DCM_SOPInstanceUID;
      std::string v = k.value;
      if (t == DCM_PatientName) v = NameSearchValue(v);
      q.putAndInsertString(t, v.c_str());
    }
    // The unique keys of the level and above identify each answer.
    if (!hasStudyUid) q.putAndInsertString(DCM_StudyInstanceUID, "");
    if (level != Level::kStudy && !hasSeriesUid) q.putAndInsertString(DCM_SeriesInstanceUID, "");
    if (level == Level::kImage && !hasSopUid) q.putAndInsertString(DCM_SOPInstanceUID, "");
    scu.cancel = &cancel_;
    scu.onAnswer = &onAnswer;
    scu.cap = cap;
    scu.requestPresId = pid;
    OFCondition c = scu.sendFINDRequest(pid, &q, nullptr);
    r.answers = scu.answers;
    r.capped = scu.capped;
    if (c.bad() && watch->Cut()) {
      // The archive did not end the search on C-CANCEL in time: the association was cut.
      assoc.Close(true);
      if (scu.capped) r.ok = true;
      else r.error = SJ("検索を中止しました");
      return r;
    }
    if (c == DUL_PEERABORTEDASSOCIATION && scu.answers == 0) {
      // The archive accepted the association and then refused the request: it does
      // not know our AE title (or address).
      r.error = SJ("アーカイブが検索を拒否しました。自局 AE \"") + node_.callingAe +
                SJ("\" がアーカイブに登録されているか確認してください");
      return r;
    }
    if (c.bad()) {
      r.error = SJ("検索中に通信が途切れました: ") + std::string(c.text());
      assoc.Close(true);
      return r;
    }
    const Uint16 st = scu.lastStatus;
    if (st != STATUS_Success && st != STATUS_FIND_Cancel_MatchingTerminatedDueToCancelRequest) {
      r.error = SJ("検索が拒否されました (状態 0x") + Hex4(st) + ")";
      assoc.Close(false);
      return r;
    }
    assoc.Close(false);
    r.ok = true;
    return r;
  }

  template <class S>
  RetrieveResult RetrieveWith(const RetrieveRequest& request, const RetrieveHooks& hooks) {
    RetrieveResult r;
    if (cancel_) {
      r.cancelled = true;
      r.error = SJ("取得を中止しました");
      return r;
    }
    if (!SafeUid(request.studyUid) || (!request.seriesUid.empty() && !SafeUid(request.seriesUid)) ||
        (!request.sopInstanceUid.empty() && !SafeUid(request.sopInstanceUid))) {
      r.error = SJ("UID が正しくありません");
      return r;
    }
    const bool move = request.movePort != 0;
    const char* model = move ? UID_MOVEStudyRootQueryRetrieveInformationModel : UID_GETStudyRootQueryRetrieveInformationModel;
    S scu;
    Configure(scu);
    scu.setStorageMode(DCMSCU_STORAGE_BIT_PRESERVING);
    scu.setStorageDir(request.destination.c_str());
    OFList<OFString> qts;
    qts.push_back(UID_LittleEndianExplicitTransferSyntax);
    qts.push_back(UID_LittleEndianImplicitTransferSyntax);
    scu.addPresentationContext(model, qts);
    OFList<OFString> sts;
    for (const char* t : kStorageSyntaxes) sts.push_back(t);
    // With C-GET the archive sends each object back on this association, on a
    // context where Velmo plays the storage SCP role: one per storage class, up to
    // the 128 contexts an association may carry.
    const int classes = std::min(numberOfDcmLongSCUStorageSOPClassUIDs, 120);
    if (!move)
      for (int i = 0; i < classes; ++i) scu.addPresentationContext(dcmLongSCUStorageSOPClassUIDs[i], sts, ASC_SC_ROLE_SCP);
    std::error_code ec;
    fs::create_directories(request.destination, ec);
    StoreSink sink(request, hooks, r);
    Watched watch(*this);
    // With C-MOVE the archive opens its own association to our receiver.
    MoveReceiver receiver;
    std::thread receiverThread;
    auto stopReceiver = [&] {
      receiver.stop = true;
      if (!receiverThread.joinable()) return;
      WakeReceiver(request.movePort);
      receiverThread.join();
    };
    if (move) {
      receiver.sink = &sink;
      receiver.watch = &*watch;
      receiver.ourAe = node_.callingAe;
      receiver.archiveAe = node_.calledAe;
      receiver.archiveHost = node_.host;
      receiver.setPort(request.movePort);
      receiver.setAETitle(node_.callingAe.c_str());
      receiver.setConnectionBlockingMode(DUL_NOBLOCK);
      receiver.setConnectionTimeout(1);
      receiver.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
      receiver.setDIMSETimeout(node_.timeoutSeconds);
      receiver.setACSETimeout(node_.timeoutSeconds);
      receiver.setDatasetStorageMode(DcmStorageSCP::DGM_StoreBitPreserving);
      receiver.setOutputDirectory(request.destination.c_str());
      receiver.setHostLookupEnabled(OFFalse);
      receiver.setVerbosePCMode(OFFalse);
      for (int i = 0; i < classes; ++i) receiver.addPresentationContext(dcmLongSCUStorageSOPClassUIDs[i], sts);
      OFCondition c = receiver.openListenPort();
      if (c.bad()) {
        r.error = SJ("受信ポート ") + std::to_string(request.movePort) + SJ(" を開けません: ") + std::string(c.text());
        return r;
      }
      receiverThread = std::thread([&receiver] { receiver.acceptAssociations(); });
    }
    if (!Connect(scu, r.error)) {
      stopReceiver();
      return r;
    }
    Association<S> assoc(scu, *watch);
    T_ASC_PresentationContextID pid = scu.findPresentationContextID(model, "");
    if (pid == 0) {
      assoc.Close(false);
      stopReceiver();
      if (!move && request.moveFallbackPort != 0) {
        // The archive does not do C-GET: ask it to send to our receiver instead.
        RetrieveRequest viaMove = request;
        viaMove.movePort = request.moveFallbackPort;
        RetrieveResult moved = RetrieveWith<S>(viaMove, hooks);
        moved.viaMove = true;
        return moved;
      }
      r.error = move ? SJ("取得 (C-MOVE) が受け入れられませんでした") : SJ("取得 (C-GET) が受け入れられませんでした");
      return r;
    }
    DcmDataset q;
    const char* level = !request.sopInstanceUid.empty() ? "IMAGE" : request.seriesUid.empty() ? "STUDY" : "SERIES";
    q.putAndInsertString(DCM_QueryRetrieveLevel, level);
    q.putAndInsertString(DCM_StudyInstanceUID, request.studyUid.c_str());
    if (!request.seriesUid.empty() || !request.sopInstanceUid.empty())
      q.putAndInsertString(DCM_SeriesInstanceUID, request.seriesUid.c_str());
    if (!request.sopInstanceUid.empty()) q.putAndInsertString(DCM_SOPInstanceUID, request.sopInstanceUid.c_str());
    scu.cancel = &cancel_;
    scu.sink = &sink;
    scu.requestPresId = pid;
    OFCondition c = move ? scu.sendMOVERequest(pid, node_.callingAe.c_str(), &q, nullptr)
                         : scu.sendCGETRequest(pid, &q, nullptr);
    const bool cut = watch->Cut();
    // A request cut after its cancel went unanswered: A-ABORT before the receiver is
    // stopped, so the archive stops sending to it as well.
    if (cut) assoc.Close(true);
    stopReceiver();
    sink.End();
    r.cancelled = scu.cancelSent || cut;
    if (cut) {
      r.error = SJ("取得を中止しました");
      return r;
    }
    // An archive that does not do C-GET for us may accept the association and then
    // abort it, or answer the request with a failure before sending anything: with a
    // receiver port configured, ask for a C-MOVE to it instead.
    const Uint16 finalStatus = scu.lastStatus;
    const bool refusedBeforeAnything =
        r.files.empty() && r.failedInstances.empty() && !scu.cancelSent && r.last.completed == 0 &&
        (c == DUL_PEERABORTEDASSOCIATION ||
         (c.good() && ((finalStatus & 0xF000) == 0xA000 || (finalStatus & 0xF000) == 0xC000)));
    if (!move && request.moveFallbackPort != 0 && refusedBeforeAnything) {
      if (c.good()) assoc.Close(false);
      RetrieveRequest viaMove = request;
      viaMove.movePort = request.moveFallbackPort;
      RetrieveResult moved = RetrieveWith<S>(viaMove, hooks);
      moved.viaMove = true;
      return moved;
    }
    if (c == DUL_PEERABORTEDASSOCIATION && r.files.empty() && !scu.cancelSent) {
      r.error = SJ("アーカイブが取得を拒否しました。自局 AE \"") + node_.callingAe +
                SJ("\" がアーカイブに登録されているか確認してください");
      return r;
    }
    if (c.bad()) {
      r.error = SJ("取得中に通信が途切れました: ") + std::string(c.text());
      assoc.Close(true);
      return r;
    }
    const Uint16 st = scu.lastStatus;
    if (st == STATUS_GET_Cancel_SubOperationsTerminatedDueToCancelIndication) r.cancelled = true;
    assoc.Close(false);
    if (r.cancelled) {
      r.error = SJ("取得を中止しました");
      return r;
    }
    if (st == STATUS_MOVE_Failed_MoveDestinationUnknown) {
      r.error = SJ("アーカイブが転送先 AE \"") + node_.callingAe + SJ("\" を知りません (C-MOVE の転送先として登録してください)");
      return r;
    }
    if (st != STATUS_Success && st != STATUS_GET_Warning_SubOperationsCompleteOneOrMoreFailures) {
      r.error = SJ("取得が拒否されました (状態 0x") + Hex4(st) + ")";
      return r;
    }
    r.ok = true;
    return r;
  }

  template <class S>
  void Configure(S& scu) {
    scu.setAETitle(node_.callingAe.c_str());
    scu.setPeerHostName(node_.host.c_str());
    scu.setPeerPort(node_.port);
    scu.setPeerAETitle(node_.calledAe.c_str());
    scu.setConnectionTimeout(static_cast<Sint32>(node_.timeoutSeconds));
    scu.setACSETimeout(node_.timeoutSeconds);
    scu.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    scu.setDIMSETimeout(node_.timeoutSeconds);
    scu.setMaxReceivePDULength(ASC_DEFAULTMAXPDU);
    if constexpr (std::is_base_of_v<DcmTLSSCU, S>) {
      // TLS 1.2 or later with the archive's certificate checked against the CA file;
      // our own certificate only when the node names one.
      if (!node_.caFile.empty()) scu.addTrustedCertFile(node_.caFile.c_str());
      scu.setPeerCertVerification(DCV_requireCertificate);
      if (!node_.certFile.empty() && !node_.keyFile.empty())
        scu.enableAuthentication(node_.keyFile.c_str(), node_.certFile.c_str(), "");
      else
        scu.disableAuthentication();
    }
  }

  template <class S>
  bool Connect(S& scu, std::string& error) {
    if (!NoDelayEnabled()) {
      error = SJ("TCP_NODELAY が設定されていません");
      return false;
    }
    OFCondition c = scu.initNetwork();
    if constexpr (std::is_base_of_v<DcmTLSSCU, S>) {
      if (c.good()) c = scu.setTLSProfile(TSP_Profile_BCP195);
    }
    if (c.bad()) {
      error = SJ("通信の準備ができません: ") + std::string(c.text());
      return false;
    }
    c = scu.negotiateAssociation();
    if (c == DUL_ASSOCIATIONREJECTED) {
      error = SJ("アーカイブが接続を拒否しました。呼出先 AE \"") + node_.calledAe + SJ("\" と自局 AE \"") +
              node_.callingAe + SJ("\" の設定を確認してください");
      return false;
    }
    if (c.bad()) {
      error = SJ("アーカイブ ") + node_.host + ":" + std::to_string(node_.port) + SJ(" に接続できません: ") +
              std::string(c.text());
      return false;
    }
    return true;
  }

  // `.part` files a run that was stopped mid-transfer (the process killed) left in the
  // study's folder, removed before a new retrieve of the study starts.
  static void RemoveParts(const RetrieveRequest& request) {
    std::error_code ec;
    const fs::path dir = fs::path(request.destination) / request.studyUid;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
      if (it->path().extension() == ".part") fs::remove(it->path(), ec);
  }

  Node node_;
  std::atomic<bool> cancel_{false};
  std::mutex watchM_;
  std::set<CancelWatch*> watches_;
};

}  // namespace

bool ParseKey(std::string_view text, Key& out, std::string* why) {
  const size_t eq = text.find('=');
  const std::string name(text.substr(0, eq));
  out.value = eq == std::string_view::npos ? "" : std::string(text.substr(eq + 1));
  if (name.size() == 9 && name[4] == ',' && ParseHex4(std::string_view(name).substr(0, 4), out.group) &&
      ParseHex4(std::string_view(name).substr(5, 4), out.element))
    return true;
  DcmTagKey k;
  if (!name.empty() && TagFromName(name, k)) {
    out.group = k.getGroup();
    out.element = k.getElement();
    return true;
  }
  if (why) *why = "unknown key '" + name + "'";
  return false;
}

std::vector<Key> DefaultKeys(Level level) {
  std::vector<Key> k;
  auto add = [&](const DcmTagKey& t) { k.push_back({t.getGroup(), t.getElement(), ""}); };
  add(DCM_PatientName);
  add(DCM_PatientID);
  add(DCM_StudyDate);
  if (level == Level::kStudy) {
    add(DCM_AccessionNumber);
    add(DCM_ModalitiesInStudy);
    add(DCM_StudyDescription);
    add(DCM_NumberOfStudyRelatedInstances);
    add(DCM_StudyInstanceUID);
  } else if (level == Level::kSeries) {
    add(DCM_StudyInstanceUID);
    add(DCM_SeriesNumber);
    add(DCM_Modality);
    add(DCM_SeriesDescription);
    add(DCM_NumberOfSeriesRelatedInstances);
    add(DCM_SeriesInstanceUID);
  } else {
    add(DCM_StudyInstanceUID);
    add(DCM_SeriesInstanceUID);
    add(DCM_InstanceNumber);
    add(DCM_SOPInstanceUID);
  }
  return k;
}

std::string KeyName(const Key& key) {
  const DcmTagKey t(key.group, key.element);
  const DcmDataDictionary& dict = dcmDataDict.rdlock();
  const DcmDictEntry* e = dict.findEntry(t, nullptr);
  std::string name = e && e->getTagName() ? e->getTagName() : "";
  dcmDataDict.rdunlock();
  if (name.empty() || name == "Unknown Tag & Data") name = Hex4(key.group) + "," + Hex4(key.element);
  return name;
}

}  // namespace velmo::pacs

// The entry points of the archive module (libvelmo_dimse.so), which programs load on
// first use through dimse_loader.cpp, so that starting them never pays for loading
// the network library.
#define VELMO_MODULE_EXPORT extern "C" __attribute__((visibility("default")))
VELMO_MODULE_EXPORT velmo::pacs::Transport* VelmoDimseMakeTransport(const velmo::pacs::Node& node) {
  return new velmo::pacs::DimseTransport(node);
}
VELMO_MODULE_EXPORT bool VelmoDimseParseKey(std::string_view text, velmo::pacs::Key& out, std::string* why) {
  return velmo::pacs::ParseKey(text, out, why);
}
VELMO_MODULE_EXPORT void VelmoDimseKeyName(const velmo::pacs::Key& key, std::string& name) {
  name = velmo::pacs::KeyName(key);
}
VELMO_MODULE_EXPORT void VelmoDimseDefaultKeys(velmo::pacs::Level level, std::vector<velmo::pacs::Key>& keys) {
  keys = velmo::pacs::DefaultKeys(level);
}
