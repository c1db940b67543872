#pragma once
// A stand-in archive on loopback for what the real archive server will not do on
// request. Its AE title is FAKEPACS. It accepts C-GET and C-MOVE requests, then:
//   kSilent          answers nothing, and ignores C-CANCEL, until it is destroyed;
//   kSendThenAnswer  (C-MOVE) stores each given file at the move destination with
//                    the given calling AE title, one association each, then answers
//                    with success;
//   kSendThenStall   (C-MOVE) stores the first given file at the move destination
//                    and then keeps that association open without sending anything.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace velmo::test {

class FakeArchive {
 public:
  enum class Mode { kSilent, kSendThenAnswer, kSendThenStall };
  struct Send {
    std::string callingAe, file;
  };

  // destinationPort: where the C-MOVE destination (AE title VELMO) listens.
  explicit FakeArchive(Mode mode, std::vector<Send> sends = {}, uint16_t destinationPort = 0);
  ~FakeArchive();
  FakeArchive(const FakeArchive&) = delete;
  FakeArchive& operator=(const FakeArchive&) = delete;

  bool ok() const { return port_ != 0; }
  uint16_t port() const { return port_; }
  // The C-GET and C-MOVE requests received so far.
  int requests() const { return requests_.load(); }
  // Per given file: whether the destination accepted and stored it (valid once a
  // C-MOVE was answered).
  std::vector<bool> sent() const;

  class Scp;

 private:
  std::unique_ptr<Scp> scp_;
  std::thread thread_;
  uint16_t port_ = 0;
  std::atomic<int> requests_{0};
};

}  // namespace velmo::test
