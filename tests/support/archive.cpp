#include "support/archive.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

#include "support/dicom_writer.h"

namespace velmo::test {

bool Archive::Installed() { return access("/usr/sbin/Orthanc", X_OK) == 0; }

namespace {

// True when nothing holds the TCP port on loopback (listening or connected).
bool PortIsFree(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool free = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return free;
}

// The next block of three ports of this process: from the process id, so suites
// running side by side do not collide, all below the kernel's range of ephemeral
// ports (32768 and up), where any outgoing connection may hold one.
int NextPortBlock() {
  static int instance = 0;
  return 20000 + (getpid() % 400) * 30 + (instance++ % 10) * 3;
}

}  // namespace

uint16_t FreePortBlock() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int base = NextPortBlock();
    if (PortIsFree(static_cast<uint16_t>(base)) && PortIsFree(static_cast<uint16_t>(base + 1)) &&
        PortIsFree(static_cast<uint16_t>(base + 2)))
      return static_cast<uint16_t>(base);
  }
  return 0;
}

Archive::Archive(const std::string& extraConfig, const std::string& modalityConfig) {
  // A port taken by something else makes the server stop at once: try other ports.
  for (int attempt = 0; attempt < 8 && !ok_; ++attempt) Start(extraConfig, modalityConfig);
}

void Archive::Start(const std::string& extraConfig, const std::string& modalityConfig) {
  // Three ports: DICOM, HTTP, the C-MOVE destination.
  const int base = NextPortBlock();
  dicomPort_ = static_cast<uint16_t>(base);
  httpPort_ = static_cast<uint16_t>(base + 1);
  error_.clear();
  if (!PortIsFree(dicomPort_) || !PortIsFree(httpPort_) || !PortIsFree(movePort())) {
    error_ = "ports " + std::to_string(base) + " to " + std::to_string(base + 2) + " are taken";
    return;
  }
  const std::string cfg = dir_.File("cfg.json");
  WriteText(cfg, "{\"Name\":\"test\",\"StorageDirectory\":\"" + dir_.File("db") + "\",\"IndexDirectory\":\"" +
                     dir_.File("db") + "\",\"DicomAet\":\"TESTPACS\",\"DicomPort\":" + std::to_string(dicomPort_) +
                     ",\"HttpPort\":" + std::to_string(httpPort_) +
                     ",\"RemoteAccessAllowed\":false,\"DicomCheckCalledAet\":true,\"DefaultEncoding\":\"Utf8\","
                     "\"DicomModalities\":{\"velmo\":{\"AET\":\"VELMO\",\"Host\":\"127.0.0.1\",\"Port\":" +
                     std::to_string(movePort()) + modalityConfig + "}}" + extraConfig + "}");
  const std::string log = dir_.File("orthanc.log");
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    execl("/usr/sbin/Orthanc", "Orthanc", cfg.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid_ < 0) {
    error_ = "fork failed";
    return;
  }
  // Ready when the HTTP side answers (0.3-0.5 s); at most 20 s.
  const std::string probe = "curl -sf -o /dev/null http://127.0.0.1:" + std::to_string(httpPort_) + "/system";
  for (int i = 0; i < 200; ++i) {
    if (RunCommand(probe).status == 0) {
      ok_ = true;
      return;
    }
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      const std::vector<uint8_t> text = ReadBytes(log);
      error_ = "the archive server stopped at start: " + std::string(text.begin(), text.end());
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Kill();
  error_ = "the archive server did not come up within 20 s";
}

Archive::~Archive() { Kill(); }

void Archive::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int st = 0;
  waitpid(pid_, &st, 0);
  pid_ = -1;
}

bool Archive::Seed(const std::vector<std::string>& files, const std::string& extraArgs) {
  std::string cmd = "storescu " + extraArgs + " -aec TESTPACS 127.0.0.1 " + std::to_string(dicomPort_);
  for (const std::string& f : files) cmd += " " + ShellQuote(f);
  CommandResult r = RunCommand("TCP_NODELAY=1 timeout 60 " + cmd);
  if (r.status != 0) error_ = r.err;
  return r.status == 0;
}

std::vector<SeedImage> MakeSeries(const std::string& folder, const std::string& studyUid,
                                  const std::string& seriesUid, int count, const std::string& patientName,
                                  const std::string& charset, const std::string& patientId, int size) {
  std::vector<SeedImage> out;
  for (int i = 1; i <= count; ++i) {
    SeedImage s;
    s.studyUid = studyUid;
    s.seriesUid = seriesUid;
    s.sopUid = seriesUid + "." + std::to_string(i);
    DicomWriter w(1);
    if (!charset.empty()) w.Text(0x0008, 0x0005, "CS", charset);
    w.Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.2")
        .Text(0x0008, 0x0018, "UI", s.sopUid)
        .Text(0x0008, 0x0020, "DA", "20240105")
        .Text(0x0008, 0x0050, "SH", "ACC" + patientId)
        .Text(0x0008, 0x0060, "CS", "CT")
        .Text(0x0008, 0x1030, "LO", "CHEST")
        .Text(0x0010, 0x0010, "PN", patientName)
        .Text(0x0010, 0x0020, "LO", patientId)
        .Text(0x0020, 0x000D, "UI", studyUid)
        .Text(0x0020, 0x000E, "UI", seriesUid)
        .Text(0x0020, 0x0011, "IS", "1")
        .Text(0x0020, 0x0013, "IS", std::to_string(i))
        .U16(0x0028, 0x0002, 1)
        .Text(0x0028, 0x0004, "CS", "MONOCHROME2")
        .U16(0x0028, 0x0010, static_cast<uint16_t>(size))
        .U16(0x0028, 0x0011, static_cast<uint16_t>(size))
        .U16(0x0028, 0x0100, 16)
        .U16(0x0028, 0x0101, 12)
        .U16(0x0028, 0x0102, 11)
        .U16(0x0028, 0x0103, 0);
    Bytes px(static_cast<size_t>(size) * size * 2);
    for (size_t k = 0; k < px.size(); ++k) px[k] = static_cast<uint8_t>((k * 7 + i) & 0x0F);
    w.PixelData(px);
    s.path = folder + "/" + s.sopUid + ".dcm";
    WriteBytes(s.path, MakeFile("1.2.840.10008.1.2.1", w.bytes()));
    out.push_back(s);
  }
  return out;
}

}  // namespace velmo::test
