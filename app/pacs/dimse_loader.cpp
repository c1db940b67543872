// The programs reach the DICOM network library only through the archive module
// libvelmo_dimse.so, loaded the first time a transport or a key name is needed.
// Linking the library into the programs would make every start load and initialise
// it (about 5 ms of CPU and its dictionary read from disk), also for a command that
// never talks to an archive.
#include <dlfcn.h>

#include <mutex>

#include "base/install.h"
#include "base/text.h"
#include "pacs/pacs.h"

namespace velmo::pacs {

namespace {

struct Module {
  Transport* (*makeTransport)(const Node&) = nullptr;
  bool (*parseKey)(std::string_view, Key&, std::string*) = nullptr;
  void (*keyName)(const Key&, std::string&) = nullptr;
  void (*defaultKeys)(Level, std::vector<Key>&) = nullptr;
  std::string error;  // why it could not be loaded (empty when loaded)
};

constexpr const char* kModuleName = "libvelmo_dimse.so";

const Module& Load() {
  static Module module;
  static std::once_flag once;
  std::call_once(once, [] {
    // The programs' RUNPATH (the build's lib folder, or the installed program's own
    // folder), then beside the program and in ../lib.
    void* handle = dlopen(kModuleName, RTLD_NOW | RTLD_LOCAL);
    std::string firstError = handle ? "" : dlerror();
    const std::string folder = ProgramFolder();
    for (const std::string& p : {folder + kModuleName, folder + "../lib/" + kModuleName}) {
      if (handle != nullptr || folder.empty()) break;
      handle = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (handle == nullptr) {
      module.error = firstError;
      return;
    }
    module.makeTransport = reinterpret_cast<Transport* (*)(const Node&)>(dlsym(handle, "VelmoDimseMakeTransport"));
    module.parseKey = reinterpret_cast<bool (*)(std::string_view, Key&, std::string*)>(dlsym(handle, "VelmoDimseParseKey"));
    module.keyName = reinterpret_cast<void (*)(const Key&, std::string&)>(dlsym(handle, "VelmoDimseKeyName"));
    module.defaultKeys = reinterpret_cast<void (*)(Level, std::vector<Key>&)>(dlsym(handle, "VelmoDimseDefaultKeys"));
    if (!module.makeTransport || !module.parseKey || !module.keyName || !module.defaultKeys) {
      module = Module{};
      module.error = std::string(kModuleName) + ": an entry point is missing";
    }
  });
  return module;
}

// What the programs get when the module is missing: every call fails with the reason.
class UnavailableTransport : public Transport {
 public:
  explicit UnavailableTransport(std::string why) : why_(std::move(why)) {}
  FindResult Find(Level, const std::vector<Key>&, const std::function<void(const Answer&)>&, int) override {
    FindResult r;
    r.error = why_;
    return r;
  }
  RetrieveResult Retrieve(const RetrieveRequest&, const RetrieveHooks&) override {
    RetrieveResult r;
    r.error = why_;
    return r;
  }
  void Cancel() override {}

 private:
  std::string why_;
};

std::string Unavailable(const Module& m) {
  return SJ("PACS通信モジュールを読み込めません: ") + m.error;
}

}  // namespace

std::unique_ptr<Transport> MakeDimseTransport(const Node& node) {
  const Module& m = Load();
  if (!m.makeTransport) return std::make_unique<UnavailableTransport>(Unavailable(m));
  return std::unique_ptr<Transport>(m.makeTransport(node));
}

bool ParseKey(std::string_view text, Key& out, std::string* why) {
  const Module& m = Load();
  if (m.parseKey) return m.parseKey(text, out, why);
  if (why) *why = Unavailable(m);
  return false;
}

std::string KeyName(const Key& key) {
  const Module& m = Load();
  std::string name;
  if (m.keyName) m.keyName(key, name);
  return name;
}

std::vector<Key> DefaultKeys(Level level) {
  const Module& m = Load();
  std::vector<Key> keys;
  if (m.defaultKeys) m.defaultKeys(level, keys);
  return keys;
}

}  // namespace velmo::pacs
