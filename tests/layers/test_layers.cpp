// The layer order of the source tree. Every quoted #include of scanner/, rewrite/
// and app/ is resolved to the file it names; a file may include only its own
// layer and the layers below it, the core (everything outside ui/ folders) never
// includes Qt, and app/base includes nothing of the project but app/base.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The one table of the order: a folder, its rank, and whether it stands on the
// buffer libraries (scanner, rewrite) or on app/base. A file may include a
// folder of the same chain with a rank not above its own; app folders above
// app/base may also include the libraries. Folders of equal rank may include
// each other. Longer prefixes are matched first; "app/*/ui" stands for the ui/
// folder of every subsystem except the shell's.
struct Layer {
  const char* folder;
  int rank;
  bool library;  // scanner/rewrite chain
};
const Layer kLayers[] = {
    {"scanner", 0, true},       {"rewrite", 1, true},
    {"app/base", 0, false},     {"app/dicom", 1, false},
    {"app/render", 2, false},   {"app/measure", 2, false},
    {"app/header", 2, false},   {"app/browser", 2, false},
    {"app/pacs", 2, false},     {"app/shell", 3, false},
    {"app/*/ui", 4, false},     {"app/shell/ui", 5, false},
};

// The layer a source path (relative to the repository, '/'-separated) belongs to.
std::optional<Layer> LayerOf(const std::string& rel) {
  auto under = [&](const std::string& folder) {
    return rel.compare(0, folder.size() + 1, folder + "/") == 0;
  };
  if (under("app/shell/ui")) return kLayers[11];
  static const std::regex subsystemUi("^app/[a-z]+/ui/.*");
  if (std::regex_match(rel, subsystemUi)) return kLayers[10];
  for (const Layer& l : kLayers) {
    const std::string f = l.folder;
    if (f.find('*') == std::string::npos && under(f)) return l;
  }
  return std::nullopt;
}

// May a file of layer `from` include a file of layer `to`?
bool MayInclude(const Layer& from, const Layer& to) {
  if (from.library) return to.library && to.rank <= from.rank;
  if (to.library) return from.rank >= 1;  // app/base stands on nothing
  return to.rank <= from.rank;
}

struct Include {
  std::string file;  // the including file, relative
  int line;
  std::string target;  // what the directive names
};

std::string Rel(const fs::path& root, const fs::path& p) {
  return fs::relative(p, root).generic_string();
}

// Quoted includes resolve like the build: the including file's folder, then the
// repository root, then app/. Unresolved names are system or generated headers.
std::optional<std::string> Resolve(const fs::path& root, const fs::path& file,
                                   const std::string& name) {
  for (const fs::path& base : {file.parent_path(), root, root / "app"}) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(base / name, ec);
    if (!ec && fs::is_regular_file(p, ec)) return Rel(root, p);
  }
  return std::nullopt;
}

std::vector<fs::path> Sources(const fs::path& root) {
  std::vector<fs::path> out;
  for (const char* top : {"scanner", "rewrite", "app", "cli"}) {
    const fs::path dir = root / top;
    if (!fs::is_directory(dir)) continue;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
      const auto ext = e.path().extension();
      if (e.is_regular_file() && (ext == ".h" || ext == ".cpp")) out.push_back(e.path());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Every layer and Qt violation of the tree under `root`, one line each. cli/ is
// checked for Qt only: it stands above the core and below nothing.
std::vector<std::string> Violations(const fs::path& root) {
  static const std::regex quoted(R"(^\s*#\s*include\s*"([^"]+)\")");
  static const std::regex qt(R"(^\s*#\s*include\s*[<"](Q[A-Za-z]|qt))");
  std::vector<std::string> out;
  for (const fs::path& file : Sources(root)) {
    const std::string rel = Rel(root, file);
    const auto from = LayerOf(rel);
    const bool isUi = rel.find("/ui/") != std::string::npos;
    std::ifstream in(file);
    std::string text;
    for (int n = 1; std::getline(in, text); ++n) {
      std::smatch m;
      if (!isUi && std::regex_search(text, m, qt)) {
        out.push_back(rel + ":" + std::to_string(n) + ": Qt header in core code: " + text);
        continue;
      }
      if (!from || !std::regex_search(text, m, quoted)) continue;
      const auto target = Resolve(root, file, m[1].str());
      if (!target) continue;
      const auto to = LayerOf(*target);
      if (!to) {
        out.push_back(rel + ":" + std::to_string(n) + ": includes " + *target +
                      ", which is outside the layered folders");
      } else if (!MayInclude(*from, *to)) {
        out.push_back(rel + ":" + std::to_string(n) + ": " + from->folder +
                      " may not include " + *target + " (layer " + to->folder + ")");
      }
    }
  }
  return out;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::ostringstream s;
  for (const auto& l : lines) s << l << "\n";
  return s.str();
}

TEST(Layers, SourceTreeFollowsTheLayerOrder) {
  const auto v = Violations(VELMO_SOURCE_DIR);
  EXPECT_TRUE(v.empty()) << Joined(v);
}

// A small tree with one allowed and several forbidden includes of each kind.
TEST(Layers, WrongIncludesAreNamedWithFileAndLine) {
  const fs::path root = fs::temp_directory_path() / ("velmo-layers-" + std::to_string(::getpid()));
  fs::remove_all(root);
  auto write = [&](const std::string& rel, const std::string& body) {
    fs::create_directories((root / rel).parent_path());
    std::ofstream(root / rel) << body;
  };
  write("scanner/sifton.h", "#pragma once\n");
  write("rewrite/corvel.h", "#include \"scanner/sifton.h\"\n");
  write("app/base/text.h", "#pragma once\n#include <string>\n");
  write("app/base/log.h", "#include \"base/text.h\"\n#include \"scanner/sifton.h\"\n");
  write("app/dicom/load.h", "#include \"base/text.h\"\n#include \"scanner/sifton.h\"\n"
                            "\n#include \"render/convert.h\"\n");
  write("app/render/convert.h", "#include \"dicom/load.h\"\n#include \"header/rows.h\"\n");
  write("app/header/rows.h", "#include \"render/convert.h\"\n#include \"render/ui/pane.h\"\n"
                             "#include <QString>\n");
  write("app/render/ui/pane.h", "#include <QWidget>\n#include \"shell/ui/main.h\"\n"
                                "#include \"header/ui/list.h\"\n");
  write("app/header/ui/list.h", "#include \"render/ui/pane.h\"\n");
  write("app/shell/ui/main.h", "#include \"render/ui/pane.h\"\n#include \"shell/app.h\"\n");
  write("app/shell/app.h", "#include \"browser/tree.h\"\n");
  write("app/browser/tree.h", "#include \"shell/app.h\"\n");
  write("scanner/bad.h", "#include \"rewrite/corvel.h\"\n#include \"base/text.h\"\n");
  const auto v = Violations(root);
  fs::remove_all(root);
  const std::vector<std::string> expected = {
      "app/base/log.h:2: app/base may not include scanner/sifton.h (layer scanner)",
      "app/browser/tree.h:1: app/browser may not include app/shell/app.h (layer app/shell)",
      "app/dicom/load.h:4: app/dicom may not include app/render/convert.h (layer app/render)",
      "app/header/rows.h:2: app/header may not include app/render/ui/pane.h (layer app/*/ui)",
      "app/header/rows.h:3: Qt header in core code: #include <QString>",
      "app/render/ui/pane.h:2: app/*/ui may not include app/shell/ui/main.h (layer app/shell/ui)",
      "scanner/bad.h:1: scanner may not include rewrite/corvel.h (layer rewrite)",
      "scanner/bad.h:2: scanner may not include app/base/text.h (layer app/base)",
  };
  EXPECT_EQ(Joined(v), Joined(expected));
}

}  // namespace
