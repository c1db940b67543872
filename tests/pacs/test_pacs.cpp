// Archive query and retrieve: the text helpers, and C-FIND / C-GET against a real
// archive server started on loopback for each test, compared with DCMTK's own
// findscu and getscu on the same archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <regex>
#include <set>
#include <thread>

#include "fake_archive.h"
#include "support/archive.h"
#include "base/ini.h"
#include "base/log.h"
#include "base/text.h"
#include "browser/list_reader.h"
#include "pacs/pacs.h"
#include "pacs/pacs_settings.h"

namespace fs = std::filesystem;
using namespace velmo;
using namespace velmo::test;

namespace {

// UTF-8 text -> ISO 2022 JIS bytes: each Japanese run in ESC $ B ... ESC ( B.
std::string Jis(std::string_view utf8) {
  const std::string sj = SjisFromUtf8(utf8);
  std::string out;
  bool two = false;
  for (size_t i = 0; i < sj.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(sj[i]);
    if (IsSjisLeadByte(b) && i + 1 < sj.size()) {
      uint8_t j1, j2;
      SjisToJis(b, static_cast<uint8_t>(sj[i + 1]), &j1, &j2);
      if (!two) out += "\x1b$B";
      two = true;
      out += static_cast<char>(j1);
      out += static_cast<char>(j2);
      ++i;
    } else {
      if (two) out += "\x1b(B";
      two = false;
      out += static_cast<char>(b);
    }
  }
  if (two) out += "\x1b(B";
  return out;
}

const char kStudyA[] = "1.2.392.99.1.1";
const char kSeriesA1[] = "1.2.392.99.1.1.1";
const char kSeriesA2[] = "1.2.392.99.1.1.2";
const char kStudyB[] = "1.2.392.99.1.2";
const char kSeriesB1[] = "1.2.392.99.1.2.1";

// An archive holding two patients: 山田 (ISO 2022 JIS, two series) and Suzuki
// (UTF-8, one series). Skips the test when the archive server is not installed.
struct Seeded {
  std::unique_ptr<Archive> archive;
  TempDir seeds;
  std::vector<SeedImage> images;
  bool Start(int extraImagesInB = 0, const std::string& config = "", const std::string& seedArgs = "") {
    if (!Archive::Installed()) return false;
    archive = std::make_unique<Archive>(config);
    if (!archive->ok()) return false;
    auto add = [&](std::vector<SeedImage> v) { images.insert(images.end(), v.begin(), v.end()); };
    add(MakeSeries(seeds.path(), kStudyA, kSeriesA1, 3, "Yamada^Tarou=" + Jis("山田^太郎") + "=" + Jis("やまだ^たろう"),
                   "\\ISO 2022 IR 87", "P001"));
    add(MakeSeries(seeds.path(), kStudyA, kSeriesA2, 2, "Yamada^Tarou=" + Jis("山田^太郎") + "=" + Jis("やまだ^たろう"),
                   "\\ISO 2022 IR 87", "P001"));
    add(MakeSeries(seeds.path(), kStudyB, kSeriesB1, 2 + extraImagesInB, "Suzuki^Hanako", "ISO_IR 192", "P002"));
    std::vector<std::string> files;
    for (const SeedImage& s : images) files.push_back(s.path);
    return archive->Seed(files, seedArgs);
  }
  pacs::Node Node(const std::string& calling = "VELMO", const std::string& called = "TESTPACS") const {
    pacs::Node n;
    n.port = archive->dicomPort();
    n.callingAe = calling;
    n.calledAe = called;
    n.timeoutSeconds = 10;
    return n;
  }
  std::string NodeArgs() const {
    return " --host 127.0.0.1 --port " + std::to_string(archive->dicomPort()) + " --called TESTPACS";
  }
};

#define START_ARCHIVE(seeded, ...)                                                              \
  if (!Archive::Installed()) GTEST_SKIP() << "the archive server (Debian package orthanc) is not installed"; \
  ASSERT_TRUE(seeded.Start(__VA_ARGS__)) << (seeded.archive ? seeded.archive->error() : "")

std::vector<fs::path> FilesBelow(const std::string& dir, const std::string& ext = "") {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file() && (ext.empty() || it->path().extension() == ext)) out.push_back(it->path());
  std::sort(out.begin(), out.end());
  return out;
}

// The values of one tag in findscu's printed answers.
std::set<std::string> FindscuValues(const std::string& output, const std::string& tagLower) {
  std::set<std::string> out;
  const std::regex line("\\(" + tagLower + "\\) [A-Z][A-Z] \\[([^\\]]*)\\]");
  for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it) {
    std::string v = (*it)[1];
    while (!v.empty() && (v.back() == ' ' || v.back() == '\0')) v.pop_back();
    out.insert(v);
  }
  return out;
}

}  // namespace

TEST(PacsText, NamesAreSearchedAnywhereInTheValue) {
  const struct { const char* typed; const char* sent; } cases[] = {
      {"山田", "*山田*"}, {"  Yamada ", "*Yamada*"}, {"Yama*", "Yama*"}, {"Y?mada", "Y?mada"}, {"", ""}, {"   ", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(pacs::NameSearchValue(c.typed), c.sent) << c.typed;
}

TEST(PacsText, AnswersDecodeFromUtf8AndIso2022Alike) {
  const std::string want = SjisFromUtf8("Yamada^Tarou=山田^太郎=やまだ^たろう");
  EXPECT_EQ(pacs::DecodeValue("Yamada^Tarou=山田^太郎=やまだ^たろう ", "ISO_IR 192"), want);
  EXPECT_EQ(pacs::DecodeValue("Yamada^Tarou=" + Jis("山田^太郎") + "=" + Jis("やまだ^たろう"), "\\ISO 2022 IR 87"), want);
  EXPECT_EQ(pacs::DecodeValue(std::string("CT\0", 3), ""), "CT");
}

TEST(PacsText, KeysAndUidsAreChecked) {
  pacs::Key k;
  ASSERT_TRUE(pacs::ParseKey("PatientName=*Y*", k, nullptr));
  EXPECT_EQ(k.group, 0x0010);
  EXPECT_EQ(k.element, 0x0010);
  EXPECT_EQ(k.value, "*Y*");
  ASSERT_TRUE(pacs::ParseKey("0020,000d", k, nullptr));
  EXPECT_EQ(k.element, 0x000D);
  EXPECT_EQ(k.value, "");
  EXPECT_EQ(pacs::KeyName(k), "StudyInstanceUID");
  std::string why;
  EXPECT_FALSE(pacs::ParseKey("NoSuchKeyword=1", k, &why));
  EXPECT_NE(why.find("NoSuchKeyword"), std::string::npos);
  EXPECT_FALSE(pacs::ParseKey("00x0,0010=1", k, nullptr));
  for (const char* bad : {"", "..", "1.2/3", "../1", "1.2 3", "1.2.3\\4"}) EXPECT_FALSE(pacs::SafeUid(bad)) << bad;
  EXPECT_TRUE(pacs::SafeUid("1.2.840.10008.1"));
}

TEST(PacsText, NagleIsTurnedOffWhateverTheEnvironmentSaid) {
  setenv("TCP_NODELAY", "0", 1);
  EXPECT_FALSE(pacs::NoDelayEnabled());
  // Without it no association is opened at all (no network is touched here).
  auto t = pacs::MakeDimseTransport(pacs::Node{"127.0.0.1", 9, "X", "VELMO", 1});
  pacs::FindResult r = t->Find(pacs::Level::kStudy, {}, nullptr);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("TCP_NODELAY"), std::string::npos);
  pacs::EnableNoDelay();
  EXPECT_TRUE(pacs::NoDelayEnabled());
}

TEST(PacsArchive, FindAgreesWithFindscuAtEveryLevel) {
  pacs::EnableNoDelay();
  Seeded s;
  START_ARCHIVE(s);
  const struct {
    pacs::Level level;
    const char* levelName;
    std::vector<std::string> keys;  // -k arguments
    const char* uidTag;             // the level's unique key, as findscu prints it
    size_t expected;
  } cases[] = {
      {pacs::Level::kStudy, "STUDY", {"PatientName=山田", "StudyInstanceUID"}, "0020,000d", 1},
      {pacs::Level::kStudy, "STUDY", {"ModalitiesInStudy=CT", "StudyDate=20240101-20240131", "StudyInstanceUID"},
       "0020,000d", 2},
      {pacs::Level::kSeries, "SERIES", {std::string("StudyInstanceUID=") + kStudyA, "SeriesInstanceUID"},
       "0020,000e", 2},
      {pacs::Level::kImage, "IMAGE",
       {std::string("StudyInstanceUID=") + kStudyA, std::string("SeriesInstanceUID=") + kSeriesA1, "SOPInstanceUID"},
       "0008,0018", 3},
  };
  for (const auto& c : cases) {
    std::vector<pacs::Key> keys;
    std::string findscuKeys;
    for (const std::string& a : c.keys) {
      pacs::Key k;
      ASSERT_TRUE(pacs::ParseKey(a, k, nullptr)) << a;
      keys.push_back(k);
      // findscu gets what Velmo sends: a name typed without wildcards as *name*.
      std::string sent = a;
      if (a.rfind("PatientName=", 0) == 0) sent = "PatientName=" + pacs::NameSearchValue(k.value);
      findscuKeys += " -k " + ShellQuote(sent);
    }
    std::set<std::string> mine;
    auto t = pacs::MakeDimseTransport(s.Node());
    const pacs::FindResult r = t->Find(c.level, keys, [&](const pacs::Answer& a) {
      const unsigned g = std::stoul(std::string(c.uidTag).substr(0, 4), nullptr, 16);
      const unsigned e = std::stoul(std::string(c.uidTag).substr(5, 4), nullptr, 16);
      mine.insert(pacs::ValueOf(a, static_cast<uint16_t>(g), static_cast<uint16_t>(e)));
    });
    ASSERT_TRUE(r.ok) << Utf8FromSjis(r.error);
    const CommandResult f = RunCommand("TCP_NODELAY=1 timeout 20 findscu -S -aet VELMO -aec TESTPACS 127.0.0.1 " +
                                       std::to_string(s.archive->dicomPort()) + " -k QueryRetrieveLevel=" +
                                       c.levelName + " -k 'SpecificCharacterSet=ISO_IR 192'" + findscuKeys);
    EXPECT_EQ(mine, FindscuValues(f.err, c.uidTag)) << c.levelName << findscuKeys;
    EXPECT_EQ(mine.size(), c.expected) << c.levelName << findscuKeys;
    EXPECT_EQ(r.answers, static_cast<int>(c.expected));
  }
  // A cap ends the search early with a cancel, and the association stays usable.
  auto t = pacs::MakeDimseTransport(s.Node());
  int seen = 0;
  const pacs::FindResult capped = t->Find(pacs::Level::kImage, {}, [&](const pacs::Answer&) { ++seen; }, 2);
  EXPECT_TRUE(capped.ok) << Utf8FromSjis(capped.error);
  EXPECT_TRUE(capped.capped);
  EXPECT_EQ(seen, 2);
}

TEST(PacsArchive, KanjiNameIsFoundAndShownByTheCli) {
  pacs::EnableNoDelay();
  Seeded s;
  START_ARCHIVE(s);
  const CommandResult r =
      RunCommand(CliPath() + " query" + s.NodeArgs() + " -k PatientName=山田 -k PatientID -k StudyInstanceUID");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string("PatientName\tPatientID\tStudyInstanceUID\n") +
                       "Yamada^Tarou=山田^太郎=やまだ^たろう\tP001\t" + kStudyA + "\n");
  const CommandResult none = RunCommand(CliPath() + " query" + s.NodeArgs() + " -k PatientName=佐藤");
  ASSERT_EQ(none.status, 0) << none.err;
  EXPECT_EQ(none.out, "PatientName\n");
}

TEST(PacsArchive, WrongAeTitlesGiveClearMessages) {
  pacs::EnableNoDelay();
  Seeded s;
  START_ARCHIVE(s);
  const struct { const char* args; const char* says; } cases[] = {
      {" --called NOPE", "呼出先 AE \"NOPE\""},
      {" --called TESTPACS --calling STRANGER", "自局 AE \"STRANGER\" がアーカイブに登録されているか"},
  };
  const std::string where = " --host 127.0.0.1 --port " + std::to_string(s.archive->dicomPort());
  for (const auto& c : cases) {
    for (const std::string& cmd : {" query" + where + c.args,
                                  " retrieve" + where + c.args + " --study " + kStudyA + " --to " + s.seeds.File("o")}) {
      const CommandResult r = RunCommand(CliPath() + cmd);
      EXPECT_EQ(r.status, 1) << cmd;
      EXPECT_NE(r.err.find(c.says), std::string::npos) << cmd << "\n" << r.err;
    }
  }
}

TEST(PacsArchive, GetIsByteIdenticalToGetscu) {
  pacs::EnableNoDelay();
  Seeded s;
  START_ARCHIVE(s);
  const std::string mineDir = s.seeds.File("velmo"), theirs = s.seeds.File("getscu");
  fs::create_directories(theirs);
  const CommandResult g = RunCommand("TCP_NODELAY=1 timeout 30 getscu -aet VELMO -aec TESTPACS +B -od " + theirs +
                                     " -k QueryRetrieveLevel=STUDY -k StudyInstanceUID=" + kStudyA + " 127.0.0.1 " +
                                     std::to_string(s.archive->dicomPort()));
  ASSERT_EQ(g.status, 0) << g.err;
  const CommandResult r =
      RunCommand(CliPath() + " retrieve" + s.NodeArgs() + " --study " + kStudyA + " --to " + mineDir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("5 stored, 0 skipped"), std::string::npos) << r.err;
  // getscu names a file by its SOP instance; Velmo files it by study and series.
  std::map<std::string, std::vector<uint8_t>> want;
  for (const fs::path& p : FilesBelow(theirs)) want[p.filename().string()] = ReadBytes(p.string());
  ASSERT_EQ(want.size(), 5u);
  size_t compared = 0;
  for (const SeedImage& im : s.images) {
    if (im.studyUid != kStudyA) continue;
    const std::string path = mineDir + "/" + im.studyUid + "/" + im.seriesUid + "/" + im.sopUid + ".dcm";
    ASSERT_TRUE(fs::exists(path)) << path;
    const auto it = std::find_if(want.begin(), want.end(),
                                 [&](const auto& w) { return w.first.find(im.sopUid) != std::string::npos; });
    ASSERT_NE(it, want.end()) << im.sopUid;
    EXPECT_EQ(ReadBytes(path), it->second) << path;
    ++compared;
  }
  EXPECT_EQ(compared, 5u);
  EXPECT_TRUE(FilesBelow(mineDir, ".part").empty());

  // The whole study through the core, into a fresh folder: its two series come on
  // two associations at once; each series is reported finished once, the hooks are
  // never run two at once, and the progress adds up over both.
  {
    const std::string both = s.seeds.File("both");
    std::vector<std::string> done;
    std::atomic<int> inside{0};
    bool overlapped = false;
    pacs::Progress last;
    pacs::RetrieveHooks hooks;
    auto enter = [&] {
      if (inside.fetch_add(1) != 0) overlapped = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      inside.fetch_sub(1);
    };
    hooks.stored = [&](const pacs::StoredFile&) { enter(); };
    hooks.progress = [&](const pacs::Progress& p) {
      enter();
      last = p;
    };
    hooks.seriesDone = [&](const std::string&, const std::string& series) {
      enter();
      done.push_back(series);
    };
    const pacs::RetrieveResult r = pacs::MakeDimseTransport(s.Node())->Retrieve({kStudyA, "", both}, hooks);
    ASSERT_TRUE(r.ok) << Utf8FromSjis(r.error);
    EXPECT_EQ(r.files.size(), 5u);
    EXPECT_EQ(FilesBelow(both, ".dcm").size(), 5u);
    std::sort(done.begin(), done.end());
    EXPECT_EQ(done, (std::vector<std::string>{kSeriesA1, kSeriesA2}));
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(last.completed, 5);
    EXPECT_EQ(last.remaining, 0);
  }

  // Again, one series through the core: every object is already there, and the
  // series is reported finished once.
  auto t = pacs::MakeDimseTransport(s.Node());
  std::vector<std::string> done;
  pacs::RetrieveHooks hooks;
  hooks.seriesDone = [&](const std::string&, const std::string& series) { done.push_back(series); };
  const pacs::RetrieveResult again = t->Retrieve({kStudyA, kSeriesA2, mineDir}, hooks);
  ASSERT_TRUE(again.ok) << Utf8FromSjis(again.error);
  ASSERT_EQ(again.files.size(), 2u);
  for (const pacs::StoredFile& f : again.files) EXPECT_TRUE(f.duplicate) << f.path;
  EXPECT_EQ(done, std::vector<std::string>{kSeriesA2});
  EXPECT_EQ(FilesBelow(mineDir).size(), 5u);

  // One object alone, as the window tries a failed one again: known by its SOP
  // instance only, its series is looked up.
  const std::string oneDir = s.seeds.File("one");
  pacs::RetrieveRequest one{kStudyA, "", oneDir};
  one.sopInstanceUid = std::string(kSeriesA1) + ".2";
  const pacs::RetrieveResult single = pacs::MakeDimseTransport(s.Node())->Retrieve(one, {});
  ASSERT_TRUE(single.ok) << Utf8FromSjis(single.error);
  const std::vector<fs::path> oneFiles = FilesBelow(oneDir);
  ASSERT_EQ(oneFiles.size(), 1u);
  EXPECT_EQ(oneFiles[0].filename(), one.sopInstanceUid + ".dcm");
  EXPECT_EQ(oneFiles[0].parent_path().filename(), kSeriesA1);
}

// A retrieve broken off (the archive killed, or the user's cancel) leaves only
// whole files that Velmo reads, and no `.part`.
TEST(PacsArchive, KilledArchiveAndCancelLeaveAUsablePartialStudy) {
  pacs::EnableNoDelay();
  for (const bool kill : {true, false}) {
    Seeded s;
    START_ARCHIVE(s, 60);
    auto t = pacs::MakeDimseTransport(s.Node());
    const std::string dest = s.seeds.File(kill ? "killed" : "cancelled");
    // A `.part` left by an earlier run that was killed goes too.
    fs::create_directories(dest + "/" + kStudyB);
    WriteText(dest + "/" + kStudyB + "/" + kSeriesB1 + ".9-1.part", "half an object");
    pacs::RetrieveHooks hooks;
    int stored = 0;
    std::chrono::steady_clock::time_point cancelledAt;
    hooks.stored = [&](const pacs::StoredFile&) {
      if (++stored != 3) return;
      cancelledAt = std::chrono::steady_clock::now();
      if (kill) s.archive->Kill();
      else t->Cancel();
    };
    const pacs::RetrieveResult r = t->Retrieve({kStudyB, "", dest}, hooks);
    std::printf("[ figure ] %s after the third object: retrieve returned %.3f s later\n",
                kill ? "archive killed" : "cancel", std::chrono::duration<double>(std::chrono::steady_clock::now() - cancelledAt).count());
    EXPECT_FALSE(r.ok) << (kill ? "killed" : "cancelled");
    if (!kill) {
      EXPECT_TRUE(r.cancelled) << Utf8FromSjis(r.error);
    }
    EXPECT_FALSE(r.error.empty());
    const std::vector<fs::path> files = FilesBelow(dest);
    EXPECT_GE(files.size(), 3u);
    EXPECT_LT(files.size(), 62u);
    EXPECT_EQ(files.size(), r.files.size());
    Log log;
    ListEntryReader reader(log);
    for (const fs::path& p : files) {
      EXPECT_EQ(p.extension(), ".dcm") << p;
      ListRecord rec;
      EXPECT_TRUE(reader.Read(p.string(), rec)) << p;
      EXPECT_EQ(rec.seriesInstanceUid.view(), kSeriesB1);
    }
  }
}

// C-MOVE to Velmo's own receiver gives the files movescu receives, byte for byte.
TEST(PacsArchive, MoveIsByteIdenticalToMovescu) {
  pacs::EnableNoDelay();
  Seeded s;
  START_ARCHIVE(s);
  const std::string port = std::to_string(s.archive->dicomPort()), movePort = std::to_string(s.archive->movePort());
  const std::string mineDir = s.seeds.File("velmo"), theirs = s.seeds.File("movescu");
  fs::create_directories(theirs);
  // movescu writes bit-preserved files into its working folder whatever -od says.
  const CommandResult m = RunCommand("cd " + theirs + " && TCP_NODELAY=1 timeout 30 movescu -S -aet VELMO -aem VELMO -aec TESTPACS +P " +
                                     movePort + " +B -od " + theirs + " -k QueryRetrieveLevel=SERIES -k StudyInstanceUID=" +
                                     kStudyA + " -k SeriesInstanceUID=" + kSeriesA1 + " 127.0.0.1 " + port);
  ASSERT_EQ(m.status, 0) << m.err;
  const CommandResult r = RunCommand(CliPath() + " retrieve" + s.NodeArgs() + " --study " + kStudyA + " --series " +
                                     kSeriesA1 + " --move " + movePort + " --to " + mineDir);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<fs::path> want = FilesBelow(theirs), got = FilesBelow(mineDir);
  ASSERT_EQ(want.size(), 3u) << m.err;
  ASSERT_EQ(got.size(), 3u);
  for (const fs::path& w : want) {
    const auto it = std::find_if(got.begin(), got.end(), [&](const fs::path& g) {
      return w.filename().string().find(g.stem().string()) != std::string::npos;
    });
    ASSERT_NE(it, got.end()) << w;
    EXPECT_EQ(ReadBytes(it->string()), ReadBytes(w.string())) << *it;
    EXPECT_EQ(it->parent_path().filename(), kSeriesA1);
  }
  // Again through the core: the whole study, series by series.
  auto t = pacs::MakeDimseTransport(s.Node());
  std::vector<std::string> done;
  pacs::RetrieveHooks hooks;
  hooks.seriesDone = [&](const std::string&, const std::string& series) { done.push_back(series); };
  const pacs::RetrieveResult moved = t->Retrieve({kStudyA, "", mineDir, s.archive->movePort()}, hooks);
  ASSERT_TRUE(moved.ok) << Utf8FromSjis(moved.error);
  EXPECT_EQ(moved.files.size(), 5u);
  EXPECT_EQ(FilesBelow(mineDir).size(), 5u);
  std::sort(done.begin(), done.end());
  EXPECT_EQ(done, (std::vector<std::string>{kSeriesA1, kSeriesA2}));
}

// DICOM TLS against an archive that requires it and a client certificate: the
// right CA and certificate find and retrieve; a missing certificate, another CA or
// a plain association are refused.
TEST(PacsArchive, TlsNeedsTheRightCertificates) {
  pacs::EnableNoDelay();
  if (!Archive::Installed()) GTEST_SKIP() << "the archive server (Debian package orthanc) is not installed";
  TempDir certs;
  auto ssl = [&](const std::string& args) { return RunCommand("cd " + certs.path() + " && openssl " + args).status; };
  auto selfSigned = [&](const std::string& name) {
    return ssl("req -x509 -newkey rsa:2048 -nodes -keyout " + name + ".key -out " + name + ".crt -days 2 -subj /CN=" + name);
  };
  auto signedBy = [&](const std::string& name) {
    return ssl("req -newkey rsa:2048 -nodes -keyout " + name + ".key -out " + name + ".csr -subj /CN=" + name) ||
           ssl("x509 -req -in " + name + ".csr -CA ca.crt -CAkey ca.key -CAcreateserial -out " + name + ".crt -days 2");
  };
  if (RunCommand("command -v openssl").status != 0) GTEST_SKIP() << "openssl is not installed";
  ASSERT_EQ(selfSigned("ca"), 0);
  ASSERT_EQ(selfSigned("other"), 0);
  ASSERT_EQ(signedBy("server"), 0);
  ASSERT_EQ(signedBy("client"), 0);
  const std::string dir = certs.path() + "/";
  Seeded s;
  const std::string config = ",\"DicomTlsEnabled\":true,\"DicomTlsCertificate\":\"" + dir + "server.crt\"," +
                             "\"DicomTlsPrivateKey\":\"" + dir + "server.key\",\"DicomTlsTrustedCertificates\":\"" + dir +
                             "ca.crt\",\"DicomTlsRemoteCertificateRequired\":true";
  START_ARCHIVE(s, 0, config, "+tls " + dir + "client.key " + dir + "client.crt +cf " + dir + "ca.crt");
  const struct {
    bool tls;
    const char *ca, *cert;
    bool works;
  } cases[] = {
      {true, "ca", "client", true},
      {true, "ca", "", false},
      {true, "other", "client", false},
      {false, "", "", false},
  };
  for (const auto& c : cases) {
    pacs::Node n = s.Node();
    n.tls = c.tls;
    if (*c.ca) n.caFile = dir + c.ca + ".crt";
    if (*c.cert) {
      n.certFile = dir + c.cert + ".crt";
      n.keyFile = dir + c.cert + ".key";
    }
    pacs::Key name;
    ASSERT_TRUE(pacs::ParseKey("PatientName=山田", name, nullptr));
    const pacs::FindResult r = pacs::MakeDimseTransport(n)->Find(pacs::Level::kStudy, {name}, nullptr);
    EXPECT_EQ(r.ok, c.works) << c.tls << c.ca << c.cert << Utf8FromSjis(r.error);
    if (c.works) {
      EXPECT_EQ(r.answers, 1);
      const pacs::RetrieveResult got = pacs::MakeDimseTransport(n)->Retrieve({kStudyA, "", s.seeds.File("tls")}, {});
      EXPECT_TRUE(got.ok) << Utf8FromSjis(got.error);
      EXPECT_EQ(FilesBelow(s.seeds.File("tls"), ".dcm").size(), 5u);
    } else {
      EXPECT_FALSE(r.error.empty());
    }
  }
}

// An archive that ignores C-CANCEL (or has gone silent) is cut off half a second
// after the cancel: the retrieve returns cancelled long before the 20 s message
// timeout, with whole files only. With C-MOVE the receiver's association from the
// archive is cut too.
TEST(PacsFake, CancelEndsARetrieveTheArchiveIgnores) {
  pacs::EnableNoDelay();
  TempDir dir;
  const std::vector<SeedImage> image = MakeSeries(dir.path(), kStudyB, kSeriesB1, 1, "Fake^One", "", "P7");
  const uint16_t movePort = FreePortBlock();
  ASSERT_NE(movePort, 0);
  using Mode = FakeArchive::Mode;
  const struct {
    const char* name;
    Mode mode;
    bool move;
  } cases[] = {
      {"C-GET, silent", Mode::kSilent, false},
      {"C-MOVE, silent", Mode::kSilent, true},
      {"C-MOVE, receiver stalled after one object", Mode::kSendThenStall, true},
  };
  for (const auto& c : cases) {
    FakeArchive fake(c.mode, {{"FAKEPACS", image[0].path}}, movePort);
    ASSERT_TRUE(fake.ok()) << c.name;
    pacs::Node node;
    node.port = fake.port();
    node.calledAe = "FAKEPACS";
    node.timeoutSeconds = 20;
    auto t = pacs::MakeDimseTransport(node);
    const std::string dest = dir.File(std::string("out") + (c.move ? "m" : "g") + std::to_string(int(c.mode)));
    pacs::RetrieveRequest rq{kStudyB, "", dest, c.move ? movePort : uint16_t(0)};
    std::atomic<bool> stored{false};
    pacs::RetrieveHooks hooks;
    hooks.stored = [&](const pacs::StoredFile&) { stored = true; };
    auto running = std::async(std::launch::async, [&] { return t->Retrieve(rq, hooks); });
    // Cancel once the archive has the request (and, when it sends one, the object is in).
    const bool waitsForObject = c.mode == Mode::kSendThenStall;
    for (int i = 0; i < 500 && (fake.requests() == 0 || (waitsForObject && !stored)); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(fake.requests(), 1) << c.name;
    const auto start = std::chrono::steady_clock::now();
    t->Cancel();
    ASSERT_EQ(running.wait_for(std::chrono::seconds(5)), std::future_status::ready) << c.name;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("[ figure ] %s: retrieve returned %.3f s after the cancel\n", c.name, seconds);
    const pacs::RetrieveResult r = running.get();
    EXPECT_FALSE(r.ok) << c.name;
    EXPECT_TRUE(r.cancelled) << c.name << ": " << Utf8FromSjis(r.error);
    EXPECT_TRUE(r.failedInstances.empty()) << c.name;
    EXPECT_LT(seconds, 2.0) << c.name;
    EXPECT_TRUE(FilesBelow(dest, ".part").empty()) << c.name;
    EXPECT_EQ(FilesBelow(dest).size(), waitsForObject ? 1u : 0u) << c.name;
    EXPECT_EQ(r.files.size(), waitsForObject ? 1u : 0u) << c.name;
  }
}

// The C-MOVE receiver takes objects only from the archive's AE title and host.
TEST(PacsFake, MoveReceiverTakesObjectsOnlyFromTheArchive) {
  pacs::EnableNoDelay();
  TempDir dir;
  const std::vector<SeedImage> images = MakeSeries(dir.path(), kStudyB, kSeriesB1, 2, "Fake^Two", "", "P7");
  const uint16_t movePort = FreePortBlock();
  ASSERT_NE(movePort, 0);
  // Another AE title on the archive's host is refused; the archive's own is taken.
  FakeArchive fake(FakeArchive::Mode::kSendThenAnswer,
                   {{"STRANGER", images[0].path}, {"FAKEPACS", images[1].path}}, movePort);
  ASSERT_TRUE(fake.ok());
  pacs::Node node;
  node.port = fake.port();
  node.calledAe = "FAKEPACS";
  node.timeoutSeconds = 20;
  const std::string dest = dir.File("moved");
  const pacs::RetrieveResult r = pacs::MakeDimseTransport(node)->Retrieve({kStudyB, "", dest, movePort}, {});
  EXPECT_TRUE(r.ok) << Utf8FromSjis(r.error);
  EXPECT_EQ(fake.sent(), (std::vector<bool>{false, true}));
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_EQ(r.files[0].sopInstanceUid, images[1].sopUid);
  EXPECT_EQ(FilesBelow(dest).size(), 1u);
}

TEST(PacsArchive, MoveReceiverRefusesTheArchiveFromAnotherHost) {
  pacs::EnableNoDelay();
  Seeded s;
  START_ARCHIVE(s);
  // The archive is reached at 127.0.0.2 but sends from 127.0.0.1: not the node's host.
  pacs::Node node = s.Node();
  node.host = "127.0.0.2";
  const std::string dest = s.seeds.File("moved");
  const pacs::RetrieveResult r = pacs::MakeDimseTransport(node)->Retrieve({kStudyA, "", dest, s.archive->movePort()}, {});
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.error.empty());
  EXPECT_TRUE(r.files.empty());
  EXPECT_TRUE(FilesBelow(dest).empty());
  // From the node's own host the same move works.
  node.host = "127.0.0.1";
  const pacs::RetrieveResult again = pacs::MakeDimseTransport(node)->Retrieve({kStudyA, "", dest, s.archive->movePort()}, {});
  EXPECT_TRUE(again.ok) << Utf8FromSjis(again.error);
  EXPECT_EQ(FilesBelow(dest).size(), 5u);
}

// An archive that refuses C-GET to Velmo: with a receiver port configured the
// retrieve switches to C-MOVE by itself; without one it reports the refusal.
TEST(PacsArchive, RefusedGetSwitchesToMoveWhenAReceiverIsConfigured) {
  pacs::EnableNoDelay();
  Seeded s;
  if (!Archive::Installed()) GTEST_SKIP() << "the archive server (Debian package orthanc) is not installed";
  s.archive = std::make_unique<Archive>("", ",\"AllowGet\":false");
  ASSERT_TRUE(s.archive->ok()) << s.archive->error();
  const std::vector<SeedImage> images = MakeSeries(s.seeds.path(), kStudyA, kSeriesA1, 3, "Get^Refused", "", "P5");
  std::vector<std::string> files;
  for (const SeedImage& im : images) files.push_back(im.path);
  ASSERT_TRUE(s.archive->Seed(files)) << s.archive->error();

  const std::string plain = s.seeds.File("plain");
  const pacs::RetrieveResult refused = pacs::MakeDimseTransport(s.Node())->Retrieve({kStudyA, "", plain}, {});
  EXPECT_FALSE(refused.ok);
  EXPECT_FALSE(refused.error.empty());
  EXPECT_TRUE(FilesBelow(plain).empty());

  pacs::RetrieveRequest rq{kStudyA, "", s.seeds.File("fallback")};
  rq.moveFallbackPort = s.archive->movePort();
  const pacs::RetrieveResult moved = pacs::MakeDimseTransport(s.Node())->Retrieve(rq, {});
  EXPECT_TRUE(moved.ok) << Utf8FromSjis(moved.error);
  EXPECT_TRUE(moved.viaMove);
  EXPECT_EQ(moved.files.size(), 3u);
  EXPECT_EQ(FilesBelow(rq.destination, ".dcm").size(), 3u);
}

// Velmo.ini section "PACS": a file written with a single node reads as that node;
// a list of nodes is written and read back, the first node keeping the plain key
// names, and the keys of a node removed since are emptied.
TEST(PacsSettings, NodesRoundTripAndOldSingleNodeKeysStillRead) {
  TempDir dir;
  MakeInstallation(dir.path(),
                   "[PACS]\nAETitle=MYVIEW\nCalledAE=MAINPACS\nHost=10.0.0.5\nPort=11112\nTLS=1\nCAFile=/etc/ca.pem\n"
                   "MovePort=11113\nTimeout=7\n");
  pacs::Settings s = pacs::LoadSettings();
  ASSERT_EQ(s.nodes.size(), 1u);
  EXPECT_EQ(s.current, 0u);
  EXPECT_EQ(s.node().calledAe, "MAINPACS");
  EXPECT_EQ(s.node().host, "10.0.0.5");
  EXPECT_EQ(s.node().port, 11112);
  EXPECT_EQ(s.node().callingAe, "MYVIEW");
  EXPECT_EQ(s.node().timeoutSeconds, 7u);
  EXPECT_TRUE(s.node().tls);
  EXPECT_EQ(s.node().caFile, "/etc/ca.pem");
  EXPECT_EQ(s.movePort, 11113);

  pacs::Node second, third;
  second.calledAe = "SECOND";
  second.host = "10.0.0.6";
  second.port = 104;
  third.calledAe = "THIRD";
  third.certFile = "/home/証明書/client.pem";
  third.keyFile = "/home/client.key";
  third.callingAe = "OTHERAE";  // our AE title is one for all: the current node's is kept
  s.nodes.push_back(second);
  s.nodes.push_back(third);
  s.current = 2;
  ASSERT_TRUE(pacs::SaveSettings(s));
  pacs::Settings back = pacs::LoadSettings();
  ASSERT_EQ(back.nodes.size(), 3u);
  EXPECT_EQ(back.current, 2u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back.nodes[i].calledAe, s.nodes[i].calledAe) << i;
    EXPECT_EQ(back.nodes[i].host, s.nodes[i].host) << i;
    EXPECT_EQ(back.nodes[i].port, s.nodes[i].port) << i;
    EXPECT_EQ(back.nodes[i].tls, s.nodes[i].tls) << i;
    EXPECT_EQ(back.nodes[i].caFile, s.nodes[i].caFile) << i;
    EXPECT_EQ(back.nodes[i].certFile, s.nodes[i].certFile) << i;
    EXPECT_EQ(back.nodes[i].keyFile, s.nodes[i].keyFile) << i;
    EXPECT_EQ(back.nodes[i].callingAe, "OTHERAE") << i;
  }
  EXPECT_EQ(back.movePort, 11113);
  EXPECT_EQ(ProfileString("PACS", "CalledAE"), "MAINPACS");
  EXPECT_EQ(ProfileString("PACS", "CalledAE3"), "THIRD");

  back.nodes.pop_back();
  ASSERT_TRUE(pacs::SaveSettings(back));
  const pacs::Settings fewer = pacs::LoadSettings();
  EXPECT_EQ(fewer.nodes.size(), 2u);
  EXPECT_EQ(fewer.current, 1u);  // the chosen node went: the last one left
  EXPECT_EQ(ProfileString("PACS", "CalledAE3"), "");
}

// Ctrl-C during `velmo-cli retrieve` cancels the retrieve: the command ends at once
// with its message, whatever the archive does, and leaves no `.part`.
TEST(PacsFake, InterruptedCliRetrieveEndsCancelled) {
  pacs::EnableNoDelay();
  FakeArchive fake(FakeArchive::Mode::kSilent);
  ASSERT_TRUE(fake.ok());
  TempDir dir;
  const auto start = std::chrono::steady_clock::now();
  const CommandResult r = RunCommand("timeout --preserve-status -s INT 1 " + CliPath() +
                                     " retrieve --host 127.0.0.1 --port " + std::to_string(fake.port()) +
                                     " --called FAKEPACS --timeout 20 --study " + kStudyB + " --to " + dir.File("o"));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(fake.requests(), 1);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("取得を中止しました"), std::string::npos) << r.err;
  EXPECT_LT(seconds, 5.0);
  EXPECT_TRUE(FilesBelow(dir.File("o"), ".part").empty());
}
