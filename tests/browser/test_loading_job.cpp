// The loading job: compaction of good records, cancel, single-record re-reads and the
// progress counters the progress window polls.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "browser/loading_job.h"
#include "dicom/file_source.h"
#include "test_intake_files.h"

namespace velmo {
namespace {

using test::ListFile;
using test::MakeListFile;

ListFile Numbered(int n) {
  ListFile f;
  f.sopUid = "1.2.3.1.1." + std::to_string(n);
  f.instanceNumber = std::to_string(n);
  return f;
}

// A memory file source that stops inside the Stat of one chosen path until released,
// so a test can cancel while that file is being read.
class GateSource final : public FileSource {
 public:
  MemoryFileSource inner;
  std::string gatePath;
  FileStatus Stat(const std::string& path, uint64_t* size) override {
    if (path == gatePath) {
      std::unique_lock<std::mutex> lock(m_);
      reached_ = true;
      cv_.notify_all();
      cv_.wait(lock, [&] { return open_; });
    }
    return inner.Stat(path, size);
  }
  int64_t ReadPrefix(const std::string& path, uint8_t* out, uint64_t count) override {
    return inner.ReadPrefix(path, out, count);
  }
  void WaitReached() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return reached_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(m_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool reached_ = false, open_ = false;
};

TEST(LoadingJob, BadFilesLeaveNoGapAndAppendAfterExistingRecords) {
  MemoryFileSource files;
  FileTable table;
  ASSERT_TRUE(table.Allocate(20));
  // Two records already listed from an earlier intake.
  test::AddRecord(table, Numbered(100), "/old/a");
  test::AddRecord(table, Numbered(101), "/old/b");

  table.BeginIntake();
  EXPECT_EQ(table.pendingStart.load(), 2);
  const char* names[] = {"/new/1", "/new/junk", "/new/2", "/new/empty", "/new/missing", "/new/3"};
  files.Add("/new/1", MakeListFile(Numbered(1)));
  files.Add("/new/junk", std::vector<uint8_t>(300, 'x'));
  files.Add("/new/2", MakeListFile(Numbered(2)));
  files.Add("/new/empty", {});
  files.Add("/new/3", MakeListFile(Numbered(3)));
  for (const char* n : names) ASSERT_TRUE(table.Append(n));
  table.entries[4].status = 7;  // travels with its record ("/new/2")

  LoadingJob job;
  ASSERT_TRUE(job.Start(table, nullptr, &files));
  while (!job.Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  job.Finish();

  EXPECT_EQ(table.validCount.load(), 5);
  EXPECT_EQ(table.pendingEnd.load(), 5);
  EXPECT_EQ(table.Record(0).filePath, "/old/a");
  EXPECT_EQ(table.Record(1).filePath, "/old/b");
  EXPECT_EQ(table.Record(2).filePath, "/new/1");
  EXPECT_EQ(table.Record(3).filePath, "/new/2");
  EXPECT_EQ(table.entries[3].status, 7);
  EXPECT_EQ(table.Record(4).filePath, "/new/3");
  EXPECT_EQ(table.Record(4).instanceNumber.str(), "3 ");  // padded to even length
  EXPECT_EQ(table.Record(2).patientId.str(), "P1");
  const JobProgress p = job.Progress();
  EXPECT_EQ(p.position, 3);
  EXPECT_EQ(p.range, 3);
  EXPECT_EQ(job.ProgressText(), "3 / 3");
  EXPECT_FALSE(job.Running());
}

TEST(LoadingJob, CancelStopsAfterTheFileBeingReadAndKeepsWhatWasRead) {
  GateSource files;
  FileTable table;
  ASSERT_TRUE(table.Allocate(0));  // <= 0: the default capacity
  EXPECT_EQ(table.capacity, 5000);
  for (int i = 0; i < 6; ++i) {
    const std::string path = "/f/" + std::to_string(i);
    files.inner.Add(path, MakeListFile(Numbered(i)));
    ASSERT_TRUE(table.Append(path));
  }
  files.gatePath = "/f/2";

  LoadingJob job;
  ASSERT_TRUE(job.Start(table, nullptr, &files));
  files.WaitReached();  // the worker is inside file 2
  EXPECT_TRUE(job.Running());
  EXPECT_FALSE(job.Start(table, nullptr, &files));  // one job at a time
  const JobProgress during = job.Progress();
  EXPECT_EQ(during.position, 2);
  EXPECT_EQ(during.range, 6);
  job.Cancel();
  files.Open();
  job.Finish();

  EXPECT_TRUE(job.Done());
  EXPECT_EQ(table.validCount.load(), 3);  // files 0, 1 and the one being read
  EXPECT_EQ(table.pendingEnd.load(), 3);
  EXPECT_EQ(table.Record(2).filePath, "/f/2");
}

TEST(LoadingJob, SingleRecordModeRereadsInPlaceAndKeepsTheRecordOnFailure) {
  MemoryFileSource files;
  FileTable table;
  ASSERT_TRUE(table.Allocate(10));
  for (int i = 0; i < 3; ++i) {
    const std::string path = "/s/" + std::to_string(i);
    files.Add(path, MakeListFile(Numbered(i)));
    table.Append(path);
  }
  ASSERT_TRUE(LoadingJob::RunToEnd(table, Log::Null(), &files));
  ASSERT_EQ(table.validCount.load(), 3);

  // The file behind record 1 was edited: its series number changed.
  ListFile edited = Numbered(1);
  edited.seriesNumber = "42";
  files.Add("/s/1", MakeListFile(edited));
  LoadingJob job;
  ASSERT_TRUE(job.Start(table, nullptr, &files, LoadingJob::kModeSingle, 1));
  job.Finish();
  EXPECT_EQ(table.Record(1).seriesNumber.str(), "42");
  EXPECT_EQ(table.Record(1).filePath, "/s/1");
  EXPECT_EQ(table.validCount.load(), 3);
  EXPECT_EQ(table.Record(2).filePath, "/s/2");

  // A re-read that fails leaves the record as it was.
  files.Add("/s/1", std::vector<uint8_t>(100, 0));
  ASSERT_TRUE(LoadingJob::RunToEnd(table, Log::Null(), &files, LoadingJob::kModeSingle, 1));
  EXPECT_EQ(table.Record(1).seriesNumber.str(), "42");
  EXPECT_EQ(table.Record(1).sopInstanceUid.str(), "1.2.3.1.1.1");
  // An index outside the valid records reads nothing.
  ASSERT_TRUE(LoadingJob::RunToEnd(table, Log::Null(), &files, LoadingJob::kModeSingle, 3));
  EXPECT_EQ(table.validCount.load(), 3);
}

TEST(LoadingJob, DestroyingARunningJobStopsIt) {
  GateSource files;
  FileTable table;
  ASSERT_TRUE(table.Allocate(10));
  for (int i = 0; i < 4; ++i) {
    const std::string path = "/d/" + std::to_string(i);
    files.inner.Add(path, MakeListFile(Numbered(i)));
    table.Append(path);
  }
  files.gatePath = "/d/1";
  std::thread opener;
  {
    LoadingJob job;
    ASSERT_TRUE(job.Start(table, nullptr, &files));
    files.WaitReached();
    opener = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      files.Open();
    });
    // The destructor cancels and joins; the opener lets the worker leave the gate.
  }
  opener.join();
  EXPECT_EQ(table.validCount.load(), 2);
}

}  // namespace
}  // namespace velmo
