#include "cli/options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "batch/contract.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::cli {

namespace {

// An option of one kind (or of all kinds). Options sharing a `group` exclude
// each other.
struct OptionSpec {
  const char* name;
  const char* valueName;  // nullptr for a switch
  const char* help;
  bool merge;  // taken by the merge
  bool split;  // taken by the split
  const char* group;
  void (*apply)(TaskOptions& options, const std::string& value);
};

struct KindSpec {
  const char* word;
  TaskKind kind;
  const char* title;
  bool available;
  bool splitWritesToOutput;  // the split writes into the output folder, not beside each source
  std::vector<OptionSpec> options;
};

// A positive whole number in 32-bit range, as the count boxes take.
std::string PositiveCount(const std::string& option, const std::string& value) {
  const std::string text = TrimText(value);
  char* end = nullptr;
  errno = 0;
  const long long n = text.empty() ? 0 : std::strtoll(text.c_str(), &end, 10);
  const bool digitsOnly =
      !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  if (!digitsOnly || errno == ERANGE || n > INT_MAX || n <= 0)
    throw UsageError(
        Arg(Translate("cli", "%1 需要一个大于 0 的整数（只接受阿拉伯数字），而不是“%2”"),
            {option, DisplayText(value)}));
  return text;
}

const std::vector<KindSpec>& Kinds() {
  using Way = TextSplitOptions::Way;
  static const std::vector<KindSpec> kinds = {
      {"doc",
       TaskKind::Document,
       PW_TR_NOOP("cli", "Word文档（.doc .docx）"),
       true,
       true,
       {
           {"--page-break", nullptr, PW_TR_NOOP("cli", "每个文档之后插入分页符（默认）"), true,
            false, "break",
            [](TaskOptions& o, const std::string&) { o.documentMerge.pageBreak = true; }},
           {"--no-page-break", nullptr, PW_TR_NOOP("cli", "不插入分页符"), true, false, "break",
            [](TaskOptions& o, const std::string&) { o.documentMerge.pageBreak = false; }},
           {"--paragraph", nullptr, PW_TR_NOOP("cli", "每个文档之后插入回车符"), true, false,
            "paragraph",
            [](TaskOptions& o, const std::string&) { o.documentMerge.paragraph = true; }},
           {"--no-paragraph", nullptr, PW_TR_NOOP("cli", "不插入回车符（默认）"), true, false,
            "paragraph",
            [](TaskOptions& o, const std::string&) { o.documentMerge.paragraph = false; }},
           {"--parts", "N", PW_TR_NOOP("cli", "平均分割，共分 N 个文档（默认方式，N 默认 2）"),
            false, true, "way",
            [](TaskOptions& o, const std::string& v) {
              o.documentSplit.way = DocumentSplitOptions::Way::Parts;
              o.documentSplit.partsText = PositiveCount("--parts", v);
            }},
           {"--pages", "P", PW_TR_NOOP("cli", "按页数分，每文档 P 页（默认 5）"), false, true,
            "way",
            [](TaskOptions& o, const std::string& v) {
              o.documentSplit.way = DocumentSplitOptions::Way::Pages;
              o.documentSplit.pagesText = PositiveCount("--pages", v);
            }},
           {"--chars", "W", PW_TR_NOOP("cli", "按字数分，每文档 W 个字（默认 500）"), false, true,
            "way",
            [](TaskOptions& o, const std::string& v) {
              o.documentSplit.way = DocumentSplitOptions::Way::Characters;
              o.documentSplit.charactersText = PositiveCount("--chars", v);
            }},
       }},
      {"xls",
       TaskKind::Workbook,
       PW_TR_NOOP("cli", "Excel文档（.xls .xlsx）"),
       true,
       false,
       {
           {"--match", "any|name|position",
            PW_TR_NOOP(
                "cli",
                "工作表的合并方式：无条件合并到一个表 / 按相同页签名（默认）/ 按相同页签顺序"),
            true, false, nullptr,
            [](TaskOptions& o, const std::string& v) {
              using Match = WorkbookMergeOptions::Match;
              if (v == "any")
                o.workbookMerge.match = Match::Any;
              else if (v == "name")
                o.workbookMerge.match = Match::Name;
              else if (v == "position")
                o.workbookMerge.match = Match::Position;
              else
                throw UsageError(
                    Arg(Translate("cli", "--match 应为 any、name 或 position，而不是“%1”"),
                        {DisplayText(v)}));
            }},
           {"--headers", "keep|auto|ROW",
            PW_TR_NOOP("cli",
                       "后续工作表的标题和表头：保留 / 自动剔除（默认）/ 剔除到第 ROW 行为止"),
            true, false, nullptr,
            [](TaskOptions& o, const std::string& v) {
              using Headers = WorkbookMergeOptions::Headers;
              if (v == "keep")
                o.workbookMerge.headers = Headers::Keep;
              else if (v == "auto")
                o.workbookMerge.headers = Headers::Auto;
              else {
                o.workbookMerge.headers = Headers::Row;
                o.workbookMerge.headerRowText = PositiveCount("--headers", v);
              }
            }},
           {"--source-column", nullptr,
            PW_TR_NOOP("cli", "添加来源列：第一列写明每个数据行来自的文件和工作表"), true, false,
            nullptr,
            [](TaskOptions& o, const std::string&) { o.workbookMerge.sourceColumn = true; }},
           {"--match-columns", "position|header",
            PW_TR_NOOP("cli", "列的对应方式：按位置（默认）/ 按表头文字（忽略首尾空白和大小写）"),
            true, false, nullptr,
            [](TaskOptions& o, const std::string& v) {
              using Columns = WorkbookMergeOptions::Columns;
              if (v == "position")
                o.workbookMerge.columns = Columns::Position;
              else if (v == "header")
                o.workbookMerge.columns = Columns::Header;
              else
                throw UsageError(
                    Arg(Translate("cli", "--match-columns 应为 position 或 header，而不是“%1”"),
                        {DisplayText(v)}));
            }},
           {"--parts", "N",
            PW_TR_NOOP("cli", "平均分割，每个工作簿分成 N 个文件（默认方式，N 默认 2）"), false,
            true, "way",
            [](TaskOptions& o, const std::string& v) {
              o.workbookSplit.way = WorkbookSplitOptions::Way::Parts;
              o.workbookSplit.partsText = PositiveCount("--parts", v);
            }},
           {"--rows", "P", PW_TR_NOOP("cli", "按行数分割，每文件 P 个数据行（默认 2）"), false,
            true, "way",
            [](TaskOptions& o, const std::string& v) {
              o.workbookSplit.way = WorkbookSplitOptions::Way::Rows;
              o.workbookSplit.rowsText = PositiveCount("--rows", v);
            }},
           {"--per-sheet", nullptr, PW_TR_NOOP("cli", "每个工作表成一个文件"), false, true, "way",
            [](TaskOptions& o, const std::string&) {
              o.workbookSplit.way = WorkbookSplitOptions::Way::PerSheet;
            }},
           {"--by-column", "NAME|LETTER",
            PW_TR_NOOP("cli", "按列值拆分：该列每个不同的值成一个文件"), false, true, "way",
            [](TaskOptions& o, const std::string& v) {
              if (TrimText(v).empty())
                throw UsageError(Translate("cli", "--by-column 需要表头文字或列字母"));
              o.workbookSplit.way = WorkbookSplitOptions::Way::PerValue;
              o.workbookSplit.column = v;
            }},
           {"--sheet", "NAME", PW_TR_NOOP("cli", "只分割名为 NAME 的工作表"), false, true, nullptr,
            [](TaskOptions& o, const std::string& v) {
              o.workbookSplit.singleSheet = true;
              o.workbookSplit.sheetName = v;
            }},
           {"--no-repeat-title", nullptr, PW_TR_NOOP("cli", "不在每个文件开头重复标题和表头行"),
            false, true, nullptr,
            [](TaskOptions& o, const std::string&) { o.workbookSplit.repeatTitle = false; }},
       }},
      {"mdb",
       TaskKind::Database,
       PW_TR_NOOP("cli", "Access文档（.mdb）"),
       true,
       false,
       {
           {"--into-table", "NAME",
            PW_TR_NOOP("cli", "所有表合并到同一个名为 NAME 的表（默认按表名合并）"), true, false,
            nullptr,
            [](TaskOptions& o, const std::string& v) {
              if (TrimText(v).empty())
                throw UsageError(Translate("cli", "--into-table 的表名不能为空"));
              o.databaseMerge.intoOneTable = true;
              o.databaseMerge.newTableName = v;
            }},
           {"--no-new-fields", nullptr, PW_TR_NOOP("cli", "不自动添加新字段"), true, false, nullptr,
            [](TaskOptions& o, const std::string&) { o.databaseMerge.addNewFields = false; }},
           {"--format", "accdb|mdb",
            PW_TR_NOOP("cli", "新数据库的格式：Access 2007（.accdb，默认）或 Access 2000（.mdb）"),
            true, false, nullptr,
            [](TaskOptions& o, const std::string& v) {
              if (v == "accdb")
                o.databaseMerge.access2007 = true;
              else if (v == "mdb")
                o.databaseMerge.access2007 = false;
              else
                throw UsageError(Arg(Translate("cli", "--format 应为 accdb 或 mdb，而不是“%1”"),
                                     {DisplayText(v)}));
            }},
           {"--keep-types", nullptr,
            PW_TR_NOOP("cli", "保留字段类型：数字、货币、日期/时间、是/否等字段不再存为文本"), true,
            true, nullptr,
            [](TaskOptions& o, const std::string&) {
              o.databaseMerge.keepTypes = true;
              o.databaseSplit.keepTypes = true;
            }},
           {"--parts", "N",
            PW_TR_NOOP("cli", "平均分割数据库，分成 N 个文件（默认方式，N 默认 2）"), false, true,
            "way",
            [](TaskOptions& o, const std::string& v) {
              o.databaseSplit.way = DatabaseSplitOptions::Way::Parts;
              o.databaseSplit.partsText = PositiveCount("--parts", v);
            }},
           {"--rows", "N", PW_TR_NOOP("cli", "按数据行数分割，每文件每表 N 条记录（默认 10）"),
            false, true, "way",
            [](TaskOptions& o, const std::string& v) {
              o.databaseSplit.way = DatabaseSplitOptions::Way::Rows;
              o.databaseSplit.rowsText = PositiveCount("--rows", v);
            }},
           {"--per-table", nullptr, PW_TR_NOOP("cli", "每个表成一个数据库"), false, true, "way",
            [](TaskOptions& o, const std::string&) {
              o.databaseSplit.way = DatabaseSplitOptions::Way::PerTable;
            }},
           {"--table", "NAME", PW_TR_NOOP("cli", "只分割名为 NAME 的数据表"), false, true, nullptr,
            [](TaskOptions& o, const std::string& v) {
              o.databaseSplit.singleTable = true;
              o.databaseSplit.tableName = v;
            }},
       }},
      {"txt",
       TaskKind::Text,
       PW_TR_NOOP("cli", "纯文本文件（.txt）"),
       true,
       false,
       {
           {"--parts", "N", PW_TR_NOOP("cli", "平均分割，共分 N 个文件（默认方式，N 默认 2）"),
            false, true, "way",
            [](TaskOptions& o, const std::string& v) {
              o.textSplit.way = Way::Parts;
              o.textSplit.partsText = PositiveCount("--parts", v);
            }},
           {"--lines", "R", PW_TR_NOOP("cli", "按行数分，每文件 R 行（默认 25）"), false, true,
            "way",
            [](TaskOptions& o, const std::string& v) {
              o.textSplit.way = Way::Lines;
              o.textSplit.linesText = PositiveCount("--lines", v);
            }},
           {"--size", "KB",
            PW_TR_NOOP("cli", "按大小分，每文件约 KB×1000 字节（默认 10），按整行切分"), false,
            true, "way",
            [](TaskOptions& o, const std::string& v) {
              o.textSplit.way = Way::Size;
              o.textSplit.sizeText = PositiveCount("--size", v);
            }},
           {"--no-repeat-title", nullptr,
            PW_TR_NOOP("cli",
                       "不在第二个及以后的文件开头重复标题行（默认重复：标题行即第一个非空行）"),
            false, true, nullptr,
            [](TaskOptions& o, const std::string&) { o.textSplit.repeatTitle = false; }},
       }},
  };
  return kinds;
}

const std::vector<OptionSpec>& CommonSpecs() {
  static const std::vector<OptionSpec> common = {
      {"--delete-sources", nullptr,
       PW_TR_NOOP("cli", "每个文件完全处理好之后，把源文件移到回收站（没有回收站时直接删除）"),
       true, true, nullptr,
       [](TaskOptions& o, const std::string&) { o.common.deleteSources = true; }},
  };
  return common;
}

std::string WorkingFolder(const std::string& given) {
  if (!given.empty()) return given;
  std::string buf(4096, '\0');
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) throw UsageError(Translate("cli", "无法确定当前文件夹"));
    buf.resize(buf.size() * 2);
  }
  return buf.c_str();
}

// An absolute path with "." parts and doubled slashes gone; ".." is left to
// the file system, which knows where links lead.
std::string Absolute(const std::string& path, const std::string& cwd) {
  std::string full = path.starts_with('/') ? path : cwd + "/" + path;
  std::string out;
  std::size_t pos = 0;
  while (pos <= full.size()) {
    std::size_t next = full.find('/', pos);
    if (next == std::string::npos) next = full.size();
    const std::string part = full.substr(pos, next - pos);
    if (!part.empty() && part != ".") out += "/" + part;
    pos = next + 1;
  }
  if (out.empty()) out = "/";
  if (full.ends_with('/') && out != "/") out += '/';
  return out;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FolderPart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

const OptionSpec* FindOption(const KindSpec& kind, const std::string& name) {
  for (const OptionSpec& entry : CommonSpecs())
    if (name == entry.name) return &entry;
  for (const OptionSpec& entry : kind.options)
    if (name == entry.name) return &entry;
  return nullptr;
}

}  // namespace

bool KindAvailable(TaskKind kind) {
  for (const KindSpec& entry : Kinds())
    if (entry.kind == kind) return entry.available;
  return false;
}

CommandLine ParseCommandLine(int argc, const char* const argv[], const std::string& workingFolder) {
  CommandLine cl;
  std::vector<std::string> args;
  // Switches of the run as a whole go anywhere before "--".
  bool ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    ended = ended || a == "--";
    if (!ended && (a == "-h" || a == "--help")) {
      cl.help = true;
      return cl;
    }
    bool* runSwitch = ended                         ? nullptr
                      : a == "--dry-run"            ? &cl.dryRun
                      : a == "--json"               ? &cl.json
                      : a == "-q" || a == "--quiet" ? &cl.quiet
                                                    : nullptr;
    if (runSwitch != nullptr)
      *runSwitch = true;
    else
      args.push_back(a);
  }
  if (args.empty()) throw UsageError(Translate("cli", "缺少操作：merge 或 split"));
  if (args[0] == "merge")
    cl.mode = TaskMode::Merge;
  else if (args[0] == "split")
    cl.mode = TaskMode::Split;
  else
    throw UsageError(
        Arg(Translate("cli", "未知的操作“%1”：应为 merge 或 split"), {DisplayText(args[0])}));
  const char* modeWord = cl.mode == TaskMode::Merge ? "merge" : "split";
  if (args.size() < 2) throw UsageError(Translate("cli", "缺少文件类型：doc、xls、mdb 或 txt"));
  const KindSpec* kind = nullptr;
  for (const KindSpec& entry : Kinds())
    if (args[1] == entry.word) kind = &entry;
  if (kind == nullptr)
    throw UsageError(Arg(Translate("cli", "未知的文件类型“%1”：应为 doc、xls、mdb 或 txt"),
                         {DisplayText(args[1])}));
  cl.kind = kind->kind;

  const std::string cwd = WorkingFolder(workingFolder);
  std::string output;
  bool outputGiven = false;
  std::set<std::string> given, groups;
  bool optionsEnded = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || !arg.starts_with('-')) {
      cl.files.push_back(Absolute(arg, cwd));
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg, value;
    bool inlineValue = false;
    if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    } else if (arg.starts_with("-o") && arg.size() > 2) {
      name = "-o";
      value = arg.substr(2);
      inlineValue = true;
    }
    if (name == "-o" || name == "--output") {
      if (cl.mode == TaskMode::Split && !kind->splitWritesToOutput)
        throw UsageError(
            Arg(Translate("cli", "split %1 不接受 -o：分割出的文件总是写在各自的源文件旁边"),
                {kind->word}));
      if (outputGiven) throw UsageError(Translate("cli", "-o 只能给出一次"));
      if (!inlineValue) {
        if (++i >= args.size()) throw UsageError(Translate("cli", "-o 后面缺少输出文件"));
        value = args[i];
      }
      if (value.empty()) throw UsageError(Translate("cli", "-o 的输出文件不能为空"));
      output = value;
      outputGiven = true;
      continue;
    }
    const OptionSpec* entry = FindOption(*kind, name);
    if (entry == nullptr)
      throw UsageError(Arg(Translate("cli", "未知的选项“%1”（%2 %3）"),
                           {DisplayText(name), modeWord, kind->word}));
    if (!(cl.mode == TaskMode::Merge ? entry->merge : entry->split))
      throw UsageError(Arg(Translate("cli", "%1 只用于 %2，不能用于 %3"),
                           {name, entry->merge ? "merge" : "split", modeWord}));
    if (!given.insert(name).second)
      throw UsageError(Arg(Translate("cli", "%1 只能给出一次"), {name}));
    if (entry->group != nullptr && !groups.insert(entry->group).second) {
      std::string members;
      for (const OptionSpec& other : kind->options)
        if (other.group != nullptr && std::string(other.group) == entry->group)
          members += (members.empty() ? "" : Translate("cli", "、")) + std::string(other.name);
      throw UsageError(
          Arg(Translate("cli", "%1 不能与同类的其他选项同时使用（%2 选其一）"), {name, members}));
    }
    if (entry->valueName != nullptr && !inlineValue) {
      if (++i >= args.size())
        throw UsageError(Arg(Translate("cli", "%1 后面缺少 %2"), {name, entry->valueName}));
      value = args[i];
    } else if (entry->valueName == nullptr && inlineValue) {
      throw UsageError(Arg(Translate("cli", "%1 不带参数"), {name}));
    }
    entry->apply(cl.options, value);
  }
  if (cl.files.empty()) throw UsageError(Translate("cli", "没有给出要处理的文件"));

  if (outputGiven) {
    const std::string out = Absolute(output, cwd);
    if (out.ends_with('/') || IsFolder(out)) {
      cl.outputFolder = out.ends_with('/') && out != "/" ? out.substr(0, out.size() - 1) : out;
      cl.newDocumentName = cl.mode == TaskMode::Merge ? Translate("cli", "新文档") : "";
    } else {
      cl.outputFolder = FolderPart(out);
      cl.newDocumentName = FileNamePart(out);
    }
  } else {
    cl.outputFolder = FolderPart(cl.files.front());
    cl.newDocumentName = cl.mode == TaskMode::Merge ? Translate("cli", "新文档") : "";
  }
  return cl;
}

std::string UsageText() {
  std::string text = Translate("cli",
                               "用法：\n"
                               "  plinthwick-cli merge KIND [-o OUTPUT] [选项] FILE...\n"
                               "  plinthwick-cli split KIND [选项] FILE...\n"
                               "\n"
                               "merge 按给出的顺序把所有文件合并成一个新文件；split "
                               "把每个文件分割成几个新文件。\n"
                               "\n"
                               "KIND：\n");
  for (const KindSpec& kind : Kinds()) {
    text += "  " + std::string(kind.word) + "  " + Translate("cli", kind.title);
    if (!kind.available) text += Translate("cli", "（尚未提供）");
    text += "\n";
  }
  const auto describe = [&text](const OptionSpec& entry) {
    std::string head = std::string("  ") + entry.name;
    if (entry.valueName != nullptr) head += std::string(" ") + entry.valueName;
    // A long head puts its help on the next line.
    head = head.size() < 24 ? head + std::string(24 - head.size(), ' ')
                            : head + "\n" + std::string(24, ' ');
    text += head + Translate("cli", entry.help);
    if (!entry.merge) text += Translate("cli", "；仅 split");
    if (!entry.split) text += Translate("cli", "；仅 merge");
    text += "\n";
  };
  text += Translate(
      "cli",
      "\n"
      "通用选项：\n"
      "  -o, --output OUTPUT   合并生成的新文件。默认是第一个文件所在文件夹中的“新文档”；\n"
      "                        扩展名由操作决定（文本合并为 .txt）；给出已有的文件夹或以 /\n"
      "                        结尾时，在其中生成“新文档”。输出不能是待合并的源文件之一\n");
  for (const OptionSpec& entry : CommonSpecs()) describe(entry);
  text += Translate(
      "cli",
      "  --dry-run             "
      "试运行：检查输入，列出将写出的每个文件（文本给出行数；其他类型的份数、\n"
      "                        页数、行数和记录数要由引擎读取后才知道，会注明），不写任何文件\n"
      "  --json                结束时在标准输出打印一行 JSON "
      "摘要：输出文件、完成的文件数、未能导入\n"
      "                        的记录、删除的源文件和错误\n"
      "  -q, --quiet           只显示警告和错误\n"
      "  -h, --help            显示本说明\n");
  for (const KindSpec& kind : Kinds()) {
    if (kind.options.empty()) continue;
    text += "\n" + Arg(Translate("cli", "%1 的选项："), {kind.word}) + "\n";
    for (const OptionSpec& entry : kind.options) describe(entry);
  }
  text += Translate(
      "cli",
      "\n"
      "文本分割：每行以 CR LF 结尾写出，第 k 份写在源文件旁边，名为源文件名去掉扩展名加 k 和\n"
      ".txt（day.txt → day1.txt、day2.txt…）；同名的已有文件会被替换，但绝不覆盖本次的源文件。\n"
      "\n"
      "进度和结果写到标准错误：在终端上是一行不断刷新的进度（第 i 个文件，共 n "
      "个，和当前文件名），\n"
      "否则每条进度一行。按 Ctrl-C 请求停止：正在处理的文件写出的内容会被撤销，已完成的\n"
      "文件保留；再按一次立即退出。\n"
      "\n"
      "数据库合并和分割中无法写入的记录记在错误日志 Error.txt 中，每次运行开始时清空。运行写了\n"
      "日志时，最后一行给出未能导入的记录数和日志的位置。日志在 $XDG_DATA_HOME/plinthwick/\n"
      "（默认 ~/.local/share/plinthwick/）；从构建目录运行、或程序旁有名为 portable 的文件时，\n"
      "在程序旁边。\n"
      "\n"
      "退出码：0 成功；1 某个文件无法处理（消息给出文件和原因），或有记录未能导入（见错误日志）；\n"
      "2 用法错误；130 被中止。\n");
  return text;
}

}  // namespace pw::cli
