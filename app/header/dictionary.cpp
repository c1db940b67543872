#include "header/dictionary.h"

#include <cstring>

#include "base/file_io.h"
#include "base/numbers.h"
#include "base/text.h"
#include "dicom/person_name.h"

namespace velmo {

namespace {

uint64_t KeyOf(const char* group4, const char* element4) {
  uint64_t k = 0;
  std::memcpy(&k, group4, 4);
  uint64_t e = 0;
  std::memcpy(&e, element4, 4);
  return k | (e << 32);
}

// Offset just past the CR LF that ends the line starting at `pos`, or the size.
size_t NextLine(std::string_view s, size_t pos) {
  while (pos < s.size()) {
    const size_t cr = s.find('\r', pos);
    if (cr == std::string_view::npos || cr + 1 >= s.size()) return s.size();
    if (s[cr + 1] == '\n') return cr + 2;
    pos = cr + 1;
  }
  return s.size();
}
// End of the line starting at `pos`: the CR of its CR LF, or the size.
size_t LineEnd(std::string_view s, size_t pos) {
  const size_t next = NextLine(s, pos);
  if (next >= 2 && next <= s.size() && s[next - 2] == '\r' && s[next - 1] == '\n') return next - 2;
  return s.size();
}

bool LoadOne(const std::string& installFolder, const char* name, std::string& out, const Log& log, Notifier* notifier) {
  out.clear();
  const std::string path = installFolder + "Config/" + name;
  std::string bytes;
  const FileReadResult r = ReadWholeFile(path, &bytes);
  switch (r.status) {
    case FileReadStatus::kMissing: {
      const std::string msg = Format(SJ("設定ファイル(%s)が見つかりませんでした"), name);
      log.Write(msg, kLogError, 1);
      if (notifier) notifier->Show(SJ("エラー"), msg, NoticeIcon::Error);
      return true;
    }
    case FileReadStatus::kOpenFailed:
      log.Write(Format(SJ("設定ファイル(%s)のオープンに失敗しました"), name), kLogError, 1);
      return true;
    case FileReadStatus::kOutOfMemory: {
      const std::string msg = Format(SJ("%s用のメモリの確保に失敗しました。(%d)\r\nメモリ不足の可能性があります。"), name,
                                     static_cast<long long>(r.size));
      log.Write(msg, kLogWarning, 1);
      if (notifier) notifier->Show(SJ("警告"), msg, NoticeIcon::Warning);
      return false;
    }
    case FileReadStatus::kOk:
      break;
  }
  if (bytes.size() > 0x7FFFFFFFu) bytes.resize(0x7FFFFFFFu);  // lengths are signed 32-bit
  out = std::move(bytes);
  log.Write(Format(SJ("設定ファイル(%s)の読み込み"), name), kLogNormal, 2);
  return true;
}

}  // namespace

void IndexDictionaries(Dictionaries& dict) {
  dict.tags.firstLine.clear();
  const std::string_view t = dict.tags.bytes;
  dict.tags.firstLine.reserve(t.size() / 48 + 1);
  for (size_t pos = 0; pos < t.size(); pos = NextLine(t, pos)) {
    // A lookup compares the 4 bytes at the line start and the 4 at +5, wherever
    // they fall; keys that do not fit inside the file can never match.
    if (pos + 9 > t.size()) break;
    dict.tags.firstLine.emplace(KeyOf(t.data() + pos, t.data() + pos + 5), static_cast<uint32_t>(pos));
  }
  dict.vrs.lines.clear();
  const std::string_view v = dict.vrs.bytes;
  for (size_t pos = 0; pos < v.size(); pos = NextLine(v, pos)) {
    if (pos + 2 > v.size()) break;
    VrTable::Line line;
    line.code[0] = v[pos];
    line.code[1] = v[pos + 1];
    const size_t end = LineEnd(v, pos);
    // Column 3: after the third comma of the line, up to the next comma or line end.
    size_t p = pos;
    int commas = 0;
    while (p < end && commas < 3) {
      if (v[p] == ',') ++commas;
      ++p;
    }
    if (commas == 3) {
      size_t q = p;
      while (q < end && v[q] != ',') ++q;
      line.flag = CutSjis(v.substr(p, q - p), 15);
    }
    dict.vrs.lines.push_back(std::move(line));
  }
}

bool LoadDictionaries(const std::string& installFolder, Dictionaries& dict, const Log& log, Notifier* notifier) {
  FreeDictionaries(dict);
  if (!LoadOne(installFolder, "Tag.csv", dict.tags.bytes, log, notifier)) return false;
  if (!LoadOne(installFolder, "VR.csv", dict.vrs.bytes, log, notifier)) return false;
  IndexDictionaries(dict);
  return true;
}

void FreeDictionaries(Dictionaries& dict) {
  std::string().swap(dict.tags.bytes);
  dict.tags.firstLine = {};
  std::string().swap(dict.vrs.bytes);
  dict.vrs.lines = {};
}

bool LookupTag(const Dictionaries& dict, std::string_view group, std::string_view element, TagEntry* entry) {
  *entry = TagEntry{};
  if (group.size() != 4 || element.size() != 4) return false;
  const auto it = dict.tags.firstLine.find(KeyOf(group.data(), element.data()));
  if (it == dict.tags.firstLine.end()) return false;
  const std::string_view t = dict.tags.bytes;
  const size_t pos = it->second;
  const size_t end = LineEnd(t, pos);
  // Fields after the element: from byte 9 (the comma after it) to the line end.
  std::string* fields[4] = {&entry->japaneseName, &entry->englishName, &entry->vr, &entry->vm};
  const size_t limits[4] = {511, 511, 15, 15};
  size_t p = pos + 9;
  if (p < end && t[p] == ',') ++p;
  for (int f = 0; f < 4 && p <= end; ++f) {
    size_t q = p;
    while (q < end && t[q] != ',') ++q;
    *fields[f] = CutSjis(t.substr(p, q - p), limits[f]);
    if (q >= end) break;
    p = q + 1;
  }
  return true;
}

bool LookupVrFlag(const Dictionaries& dict, std::string_view vrField, std::string* code, std::string* flag) {
  code->clear();
  flag->clear();
  // The VR field is a C string: it ends at its first NUL.
  const size_t nul = vrField.find('\0');
  if (nul != std::string_view::npos) vrField = vrField.substr(0, nul);
  for (const VrTable::Line& line : dict.vrs.lines) {
    const std::string_view c(line.code, 2);
    if (c.find('\0') != std::string_view::npos) continue;
    if (vrField.find(c) != std::string_view::npos) {
      code->assign(c);
      *flag = line.flag;
      return true;
    }
  }
  return false;
}

const std::vector<VrDescription>& VrDescriptions() {
  static const std::vector<VrDescription> table = [] {
    struct Row { const char *code, *name, *definition, *repertoire, *length; };
    static const Row rows[] = {
        {"AE", "ｱﾌﾟﾘｹｰｼｮﾝｴﾝﾃｨﾃｨ", "文字列\r\n意味のない先頭と末尾の SPACE(20H)を持つ。", "半角英数字と記号(\\, LF, FF, CR, ESCは除く)", "最大 16 ﾊﾞｲﾄ"},
        {"AS", "年齢列", "文字列\r\nnnnD, nnnW, nnnM, nnnY\r\nDは日, Wは週, Mは月, Yは年\r\n例 012Y は12才を表す。", "0～9, D, W, M, Y", "4 ﾊﾞｲﾄ固定"},
        {"AT", "属性ﾀｸﾞ", "ﾃﾞｰﾀ要素ﾀｸﾞの値である16ﾋﾞｯﾄ符号なし整数", "", "4 ﾊﾞｲﾄ固定"},
        {"CS", "ｺｰﾄﾞ列", "文字列\r\n意味のない先頭と末尾の SPACE(20H)を持つ。", "半角英字(大文字), 0～9, 半角ｽﾍﾟｰｽ(20H), _(ｱﾝﾀﾞｰｽｺｱ)", "最大 16 ﾊﾞｲﾄ"},
        {"DA", "日付", "文字列\r\n書式 YYYYMMDD\r\nYYYYは年, MMは月, DDは日\r\n互換性のため書式 YYYY.MM.DDに対応することを推奨。", "0～9, .(ﾋﾟﾘｵﾄﾞ)", "8 ﾊﾞｲﾄ固定。10ﾊﾞｲﾄ固定。"},
        {"DS", "10進数列", "文字列\r\n固定小数点か浮動小数点数を表現する\r\n先頭あるいは末尾に SPACE(20H)が入ることもある。途中の SPACE(20H)は許されない。", "0～9, +, -, E, e, .(ﾋﾟﾘｵﾄﾞ)", "最大 16 ﾊﾞｲﾄ"},
        {"DT", "日時", "文字列\r\n書式 YYYYMMDDHHMMSS.FFFFFF&&ZZZZ\r\nYYYYは年, MMは月, DDは日, HHは時間, MMは分, SSは秒, FFFFFFは秒の小数, &&は+-, ZZZZはｵﾌｾｯﾄの時間と分。\r\n末尾の SPACE(20H)は無視される。末尾以外の SPACE(20H)は許されない。", "0～9, +, -, .(ﾋﾟﾘｵﾄﾞ)", "最大 26 ﾊﾞｲﾄ"},
        {"FL", "単精度浮動小数点", "単精度の２進浮動小数点の数字", "", "4 ﾊﾞｲﾄ固定"},
        {"FD", "倍精度浮動小数点", "倍精度の２進浮動小数点の数字", "", "8 ﾊﾞｲﾄ固定"},
        {"IS", "整数列", "文字列\r\n整数(10 進数)を表わす\r\n先頭あるいは末尾に SPACE(20H)が入ることもある。途中の SPACE(20H)は許されない。", "0～9, +, -", "最大 12 ﾊﾞｲﾄ"},
        {"LO", "長列", "文字列\r\n先頭あるいは末尾に SPACE(20H)が入ることもある\r\n\\は複数値デ－タ要素の区切り記号として使用される。", "半角英数字と記号(LF, FF, CRは除く)。または(0008,0005)によって定義される。", "最大 64 文字"},
        {"LT", "長ﾃｷｽﾄ", "文字列\r\n一つ以上の段落を含むことがある\r\n先頭の SPACE(20H)は意味がある。末尾の SPACE(20H)は無視される。", "半角英数字と記号。または(0008,0005)によって定義される。", "最大 10240 文字"},
        {"OB", "その他のﾊﾞｲﾄ列", "ﾊﾞｲﾄ列\r\n偶数長にするために末尾をNULL(00H)で埋められる。", "", ""},
        {"OW", "その他のﾜｰﾄﾞ列", "16ﾋﾞｯﾄﾜｰﾄﾞ列", "", ""},
        {"PN", "人名", "文字列\r\n姓と名の区切り記号は ^(5EH)\r\n1ﾊﾞｲﾄ文字, 表意文字, 表音文字の区切り記号は =(3DH)\r\n\\は複数値デ－タ要素の区切り記号として使用される。\r\n末尾に SPACE(20H)が入ることもある", "半角英数字と記号(LF, FF, CRは除く)。または(0008,0005)によって定義される。", "構成要素ｸﾞﾙｰﾌﾟ毎に最大 64 文字"},
        {"SH", "短列", "文字列\r\n先頭あるいは末尾に SPACE(20H)が入ることもある\r\n\\は複数値デ－タ要素の区切り記号として使用される。", "半角英数字と記号(LF, FF, CRは除く)。または(0008,0005)によって定義される。", "最大 16 文字"},
        {"SL", "符号付長整数", "2の補数形式の32ﾋﾞｯﾄ長符号付き2進整数\r\n範囲 -2147483648～2147483647", "", "4 ﾊﾞｲﾄ固定"},
        {"SQ", "項目のｼｰｹﾝｽ", "", "", ""},
        {"SS", "符号付き短整数", "2の補数形式の16ﾋﾞｯﾄ長符号付き2進整数\r\n範囲 -32768～32767", "", "2 ﾊﾞｲﾄ固定"},
        {"ST", "短ﾃｷｽﾄ", "文字列\r\n一つ以上の段落を含むことがある。\r\n先頭の SPACE(20H)は意味がある。末尾の SPACE(20H)は無視される。", "半角英数字と記号。または(0008,0005)によって定義される。", "最大 1024 文字"},
        {"TM", "時間", "文字列\r\n書式 hhmmss.FFFFFF\r\nhhは時間, mmは分, ssは秒, FFFFFFは秒の小数。\r\n互換性のため書式 hh:mm:ss.fracに対応することを推奨。", "0～9, .(ﾋﾟﾘｵﾄﾞ)", "最大 16 ﾊﾞｲﾄ"},
        {"UI", "固有識別子", "文字列\r\n偶数長にするために末尾をNULL(00H)で埋められる。", "0～9, .(ﾋﾟﾘｵﾄﾞ)", "最大 64 ﾊﾞｲﾄ"},
        {"UL", "符号なし長整数", "符号無し32ﾋﾞｯﾄ長2進整数\r\n範囲 0～4294967295", "", "4 ﾊﾞｲﾄ固定"},
        {"UN", "未知", "符号化が不明なﾊﾞｲﾄ列", "", ""},
        {"US", "符号なし短整数", "符号無し16ﾋﾞｯﾄ長2進整数\r\n範囲 0～65535", "", "2 ﾊﾞｲﾄ固定"},
        {"UT", "無制限ﾃｷｽﾄ", "文字列\r\n一つ以上の段落を含むことがある。\r\n先頭の SPACE(20H)は意味がある。末尾の SPACE(20H)は無視される。", "半角英数字と記号。または(0008,0005)によって定義される。", ""},
    };
    std::vector<VrDescription> out;
    for (const Row& r : rows)
      out.push_back({r.code, SjisFromUtf8(r.name), SjisFromUtf8(r.definition), SjisFromUtf8(r.repertoire),
                     SjisFromUtf8(r.length)});
    return out;
  }();
  return table;
}

VrDescription DescribeVr(std::string_view code) {
  if (code.size() < 2) return {};
  for (const VrDescription& d : VrDescriptions())
    if (code.substr(0, 2) == d.code) return d;
  return {};
}

}  // namespace velmo
