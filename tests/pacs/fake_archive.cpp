#include "fake_archive.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scp.h>
#include <dcmtk/dcmnet/scu.h>
#include <dcmtk/oflog/oflog.h>

#include <chrono>
#include <mutex>

#include "support/archive.h"

namespace velmo::test {

namespace {

// Opens an association to the move destination as `callingAe` and stores `file`.
// The association is left open in `scu` (the caller releases or abandons it).
bool StoreTo(DcmSCU& scu, uint16_t port, const std::string& callingAe, const std::string& file) {
  scu.setAETitle(callingAe.c_str());
  scu.setPeerHostName("127.0.0.1");
  scu.setPeerPort(port);
  scu.setPeerAETitle("VELMO");
  scu.setACSETimeout(10);
  scu.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
  scu.setDIMSETimeout(10);
  OFList<OFString> ts;
  ts.push_back(UID_LittleEndianExplicitTransferSyntax);
  scu.addPresentationContext(UID_CTImageStorage, ts);
  if (scu.initNetwork().bad() || scu.negotiateAssociation().bad()) return false;
  const T_ASC_PresentationContextID pid = scu.findPresentationContextID(UID_CTImageStorage, "");
  Uint16 status = 0xFFFF;
  return pid != 0 && scu.sendSTORERequest(pid, file.c_str(), nullptr, status).good() && status == 0;
}

}  // namespace

class FakeArchive::Scp final : public DcmSCP {
 public:
  Scp(Mode mode, std::vector<Send> sends, uint16_t destination, std::atomic<int>& requests)
      : mode_(mode), sends_(std::move(sends)), destination_(destination), requests_(requests) {
    setAETitle("FAKEPACS");
    setConnectionBlockingMode(DUL_NOBLOCK);
    setConnectionTimeout(1);
    setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    setDIMSETimeout(30);
    setACSETimeout(10);
    setHostLookupEnabled(OFFalse);
    OFList<OFString> ts;
    ts.push_back(UID_LittleEndianExplicitTransferSyntax);
    ts.push_back(UID_LittleEndianImplicitTransferSyntax);
    addPresentationContext(UID_GETStudyRootQueryRetrieveInformationModel, ts);
    addPresentationContext(UID_MOVEStudyRootQueryRetrieveInformationModel, ts);
  }

  std::atomic<bool> stop{false};
  std::vector<bool> Sent() {
    std::lock_guard<std::mutex> l(m_);
    return sent_;
  }

 protected:
  OFCondition handleIncomingCommand(T_DIMSE_Message* msg, const DcmPresentationContextInfo& info) override {
    const bool get = msg->CommandField == DIMSE_C_GET_RQ, move = msg->CommandField == DIMSE_C_MOVE_RQ;
    if (!get && !move) return DcmSCP::handleIncomingCommand(msg, info);
    T_ASC_PresentationContextID pid = info.presentationContextID;
    DcmDataset* identifier = nullptr;
    OFCondition c = receiveDIMSEDataset(&pid, &identifier);
    delete identifier;
    if (c.bad()) return c;
    ++requests_;
    if (mode_ == Mode::kSilent || !move) {
      WaitForStop();
      return EC_Normal;
    }
    if (mode_ == Mode::kSendThenStall) {
      DcmSCU scu;
      if (!sends_.empty()) StoreTo(scu, destination_, sends_[0].callingAe, sends_[0].file);
      WaitForStop();
      scu.abortAssociation();
      return EC_Normal;
    }
    Uint16 done = 0, failed = 0;
    for (const Send& s : sends_) {
      DcmSCU scu;
      const bool ok = StoreTo(scu, destination_, s.callingAe, s.file);
      if (scu.isConnected()) scu.releaseAssociation();
      ok ? ++done : ++failed;
      std::lock_guard<std::mutex> l(m_);
      sent_.push_back(ok);
    }
    return sendMOVEResponse(pid, msg->msg.CMoveRQ.MessageID, msg->msg.CMoveRQ.AffectedSOPClassUID, nullptr,
                            failed ? STATUS_MOVE_Warning_SubOperationsCompleteOneOrMoreFailures : STATUS_Success,
                            nullptr, 0, done, failed);
  }
  OFBool stopAfterConnectionTimeout() override { return stop.load(); }
  OFBool stopAfterCurrentAssociation() override { return stop.load(); }

 private:
  void WaitForStop() {
    while (!stop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  Mode mode_;
  std::vector<Send> sends_;
  uint16_t destination_;
  std::atomic<int>& requests_;
  std::mutex m_;
  std::vector<bool> sent_;
};

FakeArchive::FakeArchive(Mode mode, std::vector<Send> sends, uint16_t destinationPort) {
  OFLog::configure(OFLogger::FATAL_LOG_LEVEL);  // the network library's console messages
  const uint16_t port = FreePortBlock();
  if (port == 0) return;
  scp_ = std::make_unique<Scp>(mode, std::move(sends), destinationPort, requests_);
  scp_->setPort(port);
  if (scp_->openListenPort().bad()) return;
  port_ = port;
  thread_ = std::thread([this] { scp_->acceptAssociations(); });
}

FakeArchive::~FakeArchive() {
  if (!scp_) return;
  scp_->stop = true;
  if (thread_.joinable()) thread_.join();
}

std::vector<bool> FakeArchive::sent() const { return scp_ ? scp_->Sent() : std::vector<bool>{}; }

}  // namespace velmo::test
