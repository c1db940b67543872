// velmo-cli query | retrieve: C-FIND and C-GET against an archive.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <thread>
#include <string>
#include <vector>

#include "base/numbers.h"
#include "cli_common.h"
#include "pacs/pacs.h"

namespace velmo::cli {

namespace {

struct NodeArgs {
  pacs::Node node;
  bool hasHost = false, hasPort = false, hasCalled = false;
};

// Takes a node option at args[i]: 1 taken, 0 not one, -1 bad usage.
int ParseNodeOption(const std::vector<std::string>& args, size_t& i, NodeArgs& n, std::string* why) {
  const std::string& a = args[i];
  if (a == "--tls") {
    n.node.tls = true;
    return 1;
  }
  if (a != "--host" && a != "--port" && a != "--called" && a != "--calling" && a != "--timeout" && a != "--ca" &&
      a != "--cert" && a != "--key")
    return 0;
  if (i + 1 >= args.size()) {
    *why = a + " needs a value";
    return -1;
  }
  const std::string& v = args[++i];
  if (a == "--host") {
    n.node.host = v;
    n.hasHost = true;
  } else if (a == "--called") {
    n.node.calledAe = v;
    n.hasCalled = true;
  } else if (a == "--calling") {
    n.node.callingAe = v;
  } else if (a == "--ca") {
    n.node.caFile = v;
  } else if (a == "--cert") {
    n.node.certFile = v;
  } else if (a == "--key") {
    n.node.keyFile = v;
  } else {
    char* end = nullptr;
    const long x = std::strtol(v.c_str(), &end, 10);
    if (!end || *end || x < 1 || x > 65535) {
      *why = a + ": not a number in 1..65535";
      return -1;
    }
    if (a == "--port") {
      n.node.port = static_cast<uint16_t>(x);
      n.hasPort = true;
    } else {
      n.node.timeoutSeconds = static_cast<uint32_t>(x);
    }
  }
  if ((a == "--called" || a == "--calling") && (v.empty() || v.size() > 16)) {
    *why = a + ": an AE title has 1 to 16 characters";
    return -1;
  }
  return 1;
}

bool NodeComplete(const NodeArgs& n) { return n.hasHost && n.hasPort && n.hasCalled; }

std::string KeyTitle(const pacs::Key& k) { return pacs::KeyName(k); }

}  // namespace

int RunQuery(const std::vector<std::string>& args) {
  NodeArgs n;
  pacs::Level level = pacs::Level::kStudy;
  std::vector<pacs::Key> keys;
  int cap = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string why;
    const int t = ParseNodeOption(args, i, n, &why);
    if (t < 0) {
      std::cerr << "velmo-cli query: " << why << "\n";
      return kExitUsage;
    }
    if (t > 0) continue;
    const std::string& a = args[i];
    if (a == "--level" && i + 1 < args.size()) {
      const std::string& v = args[++i];
      if (v == "study") level = pacs::Level::kStudy;
      else if (v == "series") level = pacs::Level::kSeries;
      else if (v == "image") level = pacs::Level::kImage;
      else {
        std::cerr << "velmo-cli query: --level study|series|image\n";
        return kExitUsage;
      }
    } else if (a == "-k" && i + 1 < args.size()) {
      pacs::Key k;
      if (!pacs::ParseKey(args[++i], k, &why)) {
        std::cerr << "velmo-cli query: " << why << "\n";
        return kExitUsage;
      }
      keys.push_back(k);
    } else if (a == "--max" && i + 1 < args.size()) {
      cap = std::atoi(args[++i].c_str());
    } else {
      std::cerr << "velmo-cli query: unexpected argument '" << a << "'\n";
      return kExitUsage;
    }
  }
  if (!NodeComplete(n)) {
    std::cerr << "usage: velmo-cli query --host H --port N --called AE [--calling AE] "
                 "[--level study|series|image] [-k KEY=VALUE]... [--max N] [--tls --ca FILE [--cert FILE --key FILE]]\n";
    return kExitUsage;
  }
  // Columns: the keys given (with or without a value), else the level's usual ones.
  std::vector<pacs::Key> columns = keys;
  if (columns.empty()) columns = keys = pacs::DefaultKeys(level);
  std::string title;
  for (size_t c = 0; c < columns.size(); ++c) title += (c ? "\t" : "") + KeyTitle(columns[c]);
  std::cout << title << "\n";
  auto t = pacs::MakeDimseTransport(n.node);
  pacs::FindResult r = t->Find(level, keys, [&](const pacs::Answer& a) {
    std::string line;
    for (size_t c = 0; c < columns.size(); ++c)
      line += (c ? "\t" : "") + CleanText(pacs::ValueOf(a, columns[c].group, columns[c].element));
    std::cout << line << "\n" << std::flush;
  }, cap);
  if (!r.ok) {
    PrintError(r.error);
    return kExitFailed;
  }
  std::cerr << r.answers << " answer(s)" << (r.capped ? " (cap reached, rest cancelled)" : "") << "\n";
  return kExitOk;
}

// Ctrl-C (SIGINT) or SIGTERM while a retrieve runs cancels it, so it ends with whole
// files only and no `.part` left. The signals are blocked in every thread and taken
// by a watcher thread, which may then call Cancel (a signal handler may not).
class CancelOnSignal {
 public:
  explicit CancelOnSignal(pacs::Transport& t) {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
    watcher_ = std::thread([this, &t] {
      const timespec tick{0, 100 * 1000 * 1000};
      while (!done_)
        if (sigtimedwait(&set_, nullptr, &tick) > 0) t.Cancel();
    });
  }
  ~CancelOnSignal() {
    done_ = true;
    watcher_.join();
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t set_, old_;
  std::atomic<bool> done_{false};
  std::thread watcher_;
};

int RunRetrieve(const std::vector<std::string>& args) {
  NodeArgs n;
  pacs::RetrieveRequest rq;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string why;
    const int t = ParseNodeOption(args, i, n, &why);
    if (t < 0) {
      std::cerr << "velmo-cli retrieve: " << why << "\n";
      return kExitUsage;
    }
    if (t > 0) continue;
    const std::string& a = args[i];
    if (a == "--study" && i + 1 < args.size()) rq.studyUid = args[++i];
    else if (a == "--series" && i + 1 < args.size()) rq.seriesUid = args[++i];
    else if (a == "--to" && i + 1 < args.size()) rq.destination = args[++i];
    else if (a == "--move" && i + 1 < args.size()) {
      const long x = std::strtol(args[++i].c_str(), nullptr, 10);
      if (x < 1 || x > 65535) {
        std::cerr << "velmo-cli retrieve: --move: not a port number\n";
        return kExitUsage;
      }
      rq.movePort = static_cast<uint16_t>(x);
    } else {
      std::cerr << "velmo-cli retrieve: unexpected argument '" << a << "'\n";
      return kExitUsage;
    }
  }
  if (!NodeComplete(n) || rq.studyUid.empty() || rq.destination.empty()) {
    std::cerr << "usage: velmo-cli retrieve --host H --port N --called AE [--calling AE] --study UID "
                 "[--series UID] --to DIR [--move PORT]\n";
    return kExitUsage;
  }
  auto t = pacs::MakeDimseTransport(n.node);
  pacs::RetrieveHooks hooks;
  hooks.stored = [](const pacs::StoredFile& f) {
    std::cout << (f.duplicate ? "skipped\t" : "stored\t") << f.path << "\n" << std::flush;
  };
  pacs::RetrieveResult r;
  {
    CancelOnSignal cancelOnSignal(*t);
    r = t->Retrieve(rq, hooks);
  }
  int stored = 0, skipped = 0;
  for (const pacs::StoredFile& f : r.files) (f.duplicate ? skipped : stored)++;
  for (const std::string& uid : r.failedInstances) std::cout << "failed\t" << uid << "\n";
  std::cerr << stored << " stored, " << skipped << " skipped (already there), " << r.failedInstances.size()
            << " failed\n";
  if (!r.ok) {
    PrintError(r.error);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace velmo::cli
