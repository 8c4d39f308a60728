#include "platform/office/office_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/BrokenPackageRequest.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XSingleServiceFactory.hpp>
#include <com/sun/star/loader/XImplementationLoader.hpp>
#include <com/sun/star/registry/XRegistryKey.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/ucb/InteractiveAugmentedIOException.hpp>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/exc_hlp.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "platform/errors.h"
#include "platform/office/office_uno.h"
#include "platform/textcodec.h"

extern char** environ;

namespace pw {

using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

std::string Describe(const std::string& action, const std::string& file) {
  return file.empty() ? action : action + "“" + DisplayText(file) + "”";
}

std::string ProgramFolder() {
  return PW_LO_PROGRAM;
}

// The process-wide UNO context that talks to the server. Bootstrapped once.
Reference<css::uno::XComponentContext> LocalContext() {
  static Reference<css::uno::XComponentContext> context = [] {
    const std::string rc = "vnd.sun.star.pathname:" + ProgramFolder() + "/fundamentalrc";
    ::setenv("URE_BOOTSTRAP", rc.c_str(), 1);
    try {
      return cppu::defaultBootstrap_InitialComponentContext();
    } catch (const css::uno::Exception& e) {
      throw OfficeError({}, "启动 LibreOffice", "无法初始化 UNO 组件：" + FromOU(e.Message));
    }
  }();
  return context;
}

// The first value of `key` in an installation file, or "".
std::string InstallationValue(const std::string& file, const std::string& key,
                              const std::string& before, const std::string& after) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t at = text.find(key);
  if (at == std::string::npos) return {};
  at = text.find(before, at + key.size());
  if (at == std::string::npos) return {};
  at += before.size();
  const std::size_t end = text.find(after, at);
  if (end == std::string::npos || end - at > 64) return {};
  return text.substr(at, end - at);
}

// Writes into a fresh profile what a first start would otherwise work out at
// length: the version last run (else every start runs the graphics self-tests,
// some three seconds) and the build the extension cache belongs to (else the
// first start rebuilds it and exits asking for a restart). Best effort: a
// profile left unseeded only starts slower.
void SeedProfile(const std::string& profile) {
  // Read once per process: the registry file is some megabytes.
  static const std::string version =
      InstallationValue(ProgramFolder() + "/../share/registry/main.xcd",
                        "oor:name=\"ooSetupVersion\">", "<value>", "</value>");
  static const std::string build =
      InstallationValue(ProgramFolder() + "/versionrc", "buildid=", "", "\n");
  std::error_code ec;
  std::filesystem::create_directories(profile + "/user/extensions", ec);
  if (ec) return;
  if (!version.empty() && version.find_first_not_of("0123456789.") == std::string::npos) {
    std::ofstream(profile + "/user/registrymodifications.xcu")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
           "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
           "oor:op=\"fuse\"><value>"
        << version << "</value></prop></item>\n</oor:items>\n";
  }
  if (!build.empty()) std::ofstream(profile + "/user/extensions/buildid") << build;
}

// The agent component, loaded into the office process from the library built
// beside this program; empty when that fails, which only makes steps slower.
Reference<css::task::XJob> LoadAgent(const Reference<css::uno::XComponentContext>& remote) {
  std::string library = PW_OFFICE_AGENT;
  std::error_code ec;
  if (!std::filesystem::exists(library, ec)) {
    const std::filesystem::path beside =
        std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() /
        std::filesystem::path(library).filename();
    if (ec || !std::filesystem::exists(beside, ec)) return {};
    library = beside.string();
  }
  try {
    Reference<css::loader::XImplementationLoader> loader(
        remote->getServiceManager()->createInstanceWithContext("com.sun.star.loader.SharedLibrary",
                                                               remote),
        UNO_QUERY_THROW);
    Reference<css::lang::XSingleServiceFactory> factory(
        loader->activate("org.plinthwick.OfficeAgent", "", FileUrl(library), {}), UNO_QUERY_THROW);
    return Reference<css::task::XJob>(factory->createInstance(), UNO_QUERY);
  } catch (const css::uno::Exception&) {
    return {};
  }
}

std::string RandomTag() {
  std::random_device rd;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%08x%08x", rd(), rd());
  return buf;
}

std::string ErrnoCause(int err) {
  return DescribeErrno(err);
}

// Answers every question of a load with "abort" and remembers what was asked,
// so a document that does not open can be explained.
class LoadQuestions : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
 public:
  void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override {
    const Any what = request->getRequest();
    std::lock_guard<std::mutex> lock(mutex_);
    css::task::PasswordRequest password;
    css::document::BrokenPackageRequest broken;
    css::ucb::InteractiveAugmentedIOException io;
    if (what >>= password)
      cause_ = "文件有密码保护";
    else if (what >>= broken)
      cause_ = "文件已损坏";
    else if ((what >>= io) && cause_.empty())
      cause_ = "无法读取文件";
    for (const auto& c : request->getContinuations()) {
      Reference<css::task::XInteractionAbort> abort(c, UNO_QUERY);
      if (abort.is()) {
        abort->select();
        break;
      }
    }
  }
  std::string Cause() {
    std::lock_guard<std::mutex> lock(mutex_);
    return cause_;
  }

 private:
  std::mutex mutex_;
  std::string cause_;
};

}  // namespace

OfficeError::OfficeError(std::string file, std::string action, std::string cause)
    : std::runtime_error("无法" + Describe(action, file) + "：" + cause),
      file_(std::move(file)),
      action_(std::move(action)),
      cause_(std::move(cause)) {}

OUString ToOU(const std::string& utf8) {
  return OUString(utf8.data(), static_cast<sal_Int32>(utf8.size()), RTL_TEXTENCODING_UTF8);
}

std::string FromOU(const OUString& text) {
  const OString s = OUStringToOString(text, RTL_TEXTENCODING_UTF8);
  return std::string(s.getStr(), static_cast<std::size_t>(s.getLength()));
}

OUString FileUrl(const std::string& path) {
  std::string abs = path;
  if (abs.empty() || abs[0] != '/') {
    std::error_code ec;
    abs = std::filesystem::current_path(ec).string() + "/" + path;
  }
  static const char hex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : abs) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
        c == '-' || c == '.' || c == '_' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return OUString::createFromAscii(url.c_str());
}

Sequence<css::beans::PropertyValue> Props(std::initializer_list<css::beans::PropertyValue> list) {
  return Sequence<css::beans::PropertyValue>(list.begin(), static_cast<sal_Int32>(list.size()));
}

css::beans::PropertyValue Prop(const char* name, const Any& value) {
  css::beans::PropertyValue p;
  p.Name = OUString::createFromAscii(name);
  p.Value = value;
  return p;
}

// ---- watchdog -------------------------------------------------------------

void OfficeServer::Impl::Arm(std::chrono::milliseconds timeout) {
  std::lock_guard<std::mutex> lock(mutex);
  armed = true;
  deadline = std::chrono::steady_clock::now() + timeout;
  wake.notify_all();
}

void OfficeServer::Impl::Disarm() {
  std::lock_guard<std::mutex> lock(mutex);
  armed = false;
}

void OfficeServer::Impl::WatchLoop() {
  std::unique_lock<std::mutex> lock(mutex);
  while (!quitting) {
    if (!armed) {
      wake.wait(lock);
      continue;
    }
    if (wake.wait_until(lock, deadline) == std::cv_status::timeout && armed &&
        std::chrono::steady_clock::now() >= deadline) {
      armed = false;
      killed = true;
      if (pid > 0) ::kill(pid, SIGKILL);
    }
  }
}

void OfficeServer::Impl::Kill() {
  if (pid <= 0) return;
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
}

bool OfficeServer::Impl::Alive() {
  if (pid <= 0) return false;
  int status = 0;
  if (::waitpid(pid, &status, WNOHANG) == pid) {
    pid = -1;
    return false;
  }
  return !killed;
}

void OfficeServer::Impl::EnsureAlive(const std::string& file, const std::string& action) {
  if (desktop.is() && Alive()) return;
  throw OfficeError(file, action,
                    killed ? "LibreOffice 之前没有响应，已被强制结束" : "LibreOffice 没有在运行");
}

OfficeError OfficeServer::Impl::Translate(const std::string& file, const std::string& action,
                                          const css::uno::Exception& e) {
  if (killed) {
    const long long secs =
        std::chrono::duration_cast<std::chrono::seconds>(options.callTimeout).count();
    return OfficeError(file, action,
                       "LibreOffice 超过 " + std::to_string(secs) + " 秒没有响应，已被强制结束");
  }
  const Any any = cppu::getCaughtException();
  if (any.isExtractableTo(cppu::UnoType<css::lang::DisposedException>::get()) || !Alive())
    return OfficeError(file, action, "LibreOffice 意外退出");
  std::string detail = FromOU(e.Message);
  if (const std::size_t nl = detail.find('\n'); nl != std::string::npos) detail.resize(nl);
  return OfficeError(file, action,
                     detail.empty() ? "LibreOffice 报告错误" : "LibreOffice 报告：" + detail);
}

// ---- process --------------------------------------------------------------

void OfficeServer::Impl::Spawn() {
  const std::string program =
      options.program.empty() ? ProgramFolder() + "/soffice.bin" : options.program;
  const std::string profileUrl = "-env:UserInstallation=" + FromOU(FileUrl(profile));
  const std::string accept = "--accept=pipe,name=" + pipe + ";urp;StarOffice.ComponentContext";
  const std::string log = profile + "/office.log";
  std::vector<std::string> args = {
      program,           profileUrl,      "--headless", "--invisible",
      "--nocrashreport", "--nodefault",   "--nologo",   "--nofirststartwizard",
      "--norestore",     "--nolockcheck", accept};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t child = -1;
  const int rc = ::posix_spawn(&child, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0)
    throw OfficeError({}, "启动 LibreOffice",
                      "找不到或无法运行 " + program + "：" + ErrnoCause(rc));
  pid = child;
}

OfficeServer::OfficeServer(OfficeOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

OfficeServer::~OfficeServer() {
  try {
    Shutdown();
  } catch (...) {
  }
}

bool OfficeServer::Running() const {
  return impl_->desktop.is() && impl_->Alive();
}
pid_t OfficeServer::ProcessId() const {
  return impl_->pid;
}
const OfficeOptions& OfficeServer::Options() const {
  return impl_->options;
}
void OfficeServer::SetCallTimeout(std::chrono::milliseconds timeout) {
  impl_->options.callTimeout = timeout;
}

void OfficeServer::Start() {
  Impl& d = *impl_;
  if (d.desktop.is() && d.Alive()) return;
  Shutdown();
  const Reference<css::uno::XComponentContext> local = LocalContext();

  std::string base = std::filesystem::temp_directory_path().string() + "/pw-office-XXXXXX";
  if (::mkdtemp(base.data()) == nullptr)
    throw OfficeError({}, "启动 LibreOffice", "无法建立临时配置文件夹：" + ErrnoCause(errno));
  d.profile = base;
  SeedProfile(d.profile);
  d.pipe = "pw-office-" + std::to_string(::getpid()) + "-" + RandomTag();
  d.killed = false;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.quitting = false;
    d.armed = false;
  }
  d.watchdog = std::thread([&d] { d.WatchLoop(); });

  try {
    d.Spawn();
    Reference<css::bridge::XUnoUrlResolver> resolver = css::bridge::UnoUrlResolver::create(local);
    const OUString url = ToOU("uno:pipe,name=" + d.pipe + ";urp;StarOffice.ComponentContext");
    const auto deadline = std::chrono::steady_clock::now() + d.options.startTimeout;
    int restarts = 0;
    for (;;) {
      int status = 0;
      if (d.pid > 0 && ::waitpid(d.pid, &status, WNOHANG) == d.pid) {
        d.pid = -1;
        // A fresh profile makes the first start end with 81, asking for a restart.
        if (WIFEXITED(status) && WEXITSTATUS(status) == 81 && restarts++ < 3) {
          d.Spawn();
          continue;
        }
        throw OfficeError({}, "启动 LibreOffice",
                          "LibreOffice 启动后立即退出（退出状态 " + std::to_string(status) + "）");
      }
      try {
        d.Arm(d.options.startTimeout);
        Reference<css::uno::XInterface> found = resolver->resolve(url);
        d.Disarm();
        d.remote.set(found, UNO_QUERY_THROW);
        break;
      } catch (const css::connection::NoConnectException&) {
        d.Disarm();
      }
      if (std::chrono::steady_clock::now() > deadline) {
        d.Kill();
        throw OfficeError({}, "启动 LibreOffice", "LibreOffice 在规定时间内没有启动");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    d.desktop = css::frame::Desktop::create(d.remote);
    if (d.options.agent) d.agent = LoadAgent(d.remote);
  } catch (const css::uno::Exception& e) {
    OfficeError error = d.Translate({}, "启动 LibreOffice", e);
    Shutdown();
    throw error;
  } catch (...) {
    Shutdown();
    throw;
  }
}

void OfficeServer::Shutdown() {
  Impl& d = *impl_;
  if (d.desktop.is() && d.Alive()) {
    try {
      d.Arm(std::chrono::seconds(20));
      d.desktop->terminate();
    } catch (...) {
    }
    d.Disarm();
  }
  d.agent.clear();
  d.desktop.clear();
  d.remote.clear();
  if (d.pid > 0) {
    int status = 0;
    for (int i = 0; i < 200 && d.pid > 0; ++i) {
      if (::waitpid(d.pid, &status, WNOHANG) == d.pid)
        d.pid = -1;
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    d.Kill();
  }
  if (d.watchdog.joinable()) {
    {
      std::lock_guard<std::mutex> lock(d.mutex);
      d.quitting = true;
      d.wake.notify_all();
    }
    d.watchdog.join();
  }
  if (!d.profile.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(d.profile, ec);
    d.profile.clear();
  }
}

// ---- documents ------------------------------------------------------------

Reference<css::lang::XComponent> OfficeServer::Impl::Load(const std::string& path) {
  const std::string action = "打开";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw OfficeError(path, action, ErrnoCause(errno));
  if (S_ISDIR(st.st_mode)) throw OfficeError(path, action, ErrnoCause(EISDIR));
  if (::access(path.c_str(), R_OK) != 0) throw OfficeError(path, action, ErrnoCause(errno));
  if (st.st_size == 0) throw OfficeError(path, action, "文件是空的");

  rtl::Reference<LoadQuestions> questions = new LoadQuestions;
  Sequence<css::beans::PropertyValue> props = Props({
      Prop("Hidden", Any(true)),
      Prop("ReadOnly", Any(true)),
      Prop("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
      Prop("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)),
      Prop("InteractionHandler", Any(Reference<css::task::XInteractionHandler>(questions.get()))),
  });
  // The office handles only names it can spell: a file whose path is not
  // UTF-8 is opened from a link or copy in the private profile folder.
  std::string readFrom = path;
  if (!IsValidUtf8(path)) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    const std::size_t dot = name.find_last_of('.');
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    readFrom = profile + "/copy-" + RandomTag() + (IsValidUtf8(ext) ? ext : "");
    std::error_code ec;
    if (::link(path.c_str(), readFrom.c_str()) != 0 &&
        !std::filesystem::copy_file(path, readFrom, ec))
      throw OfficeError(path, action, ErrnoCause(ec.value() ? ec.value() : errno));
  }
  Reference<css::lang::XComponent> doc;
  try {
    doc = Call(path, action, [&] {
      return desktop->loadComponentFromURL(FileUrl(readFrom), "_blank", 0, props);
    });
  } catch (const OfficeError&) {
    if (killed || !Alive()) throw;
    const std::string cause = questions->Cause();
    throw OfficeError(path, action, cause.empty() ? "文件已损坏，或不是受支持的格式" : cause);
  }
  if (!doc.is()) {
    const std::string cause = questions->Cause();
    throw OfficeError(path, action, cause.empty() ? "文件已损坏，或不是受支持的格式" : cause);
  }
  return doc;
}

Reference<css::lang::XComponent> OfficeServer::Impl::Create(const char* factoryUrl) {
  Sequence<css::beans::PropertyValue> props = Props({Prop("Hidden", Any(true))});
  Reference<css::lang::XComponent> doc = Call({}, "新建文档", [&] {
    return desktop->loadComponentFromURL(OUString::createFromAscii(factoryUrl), "_blank", 0, props);
  });
  if (!doc.is()) throw OfficeError({}, "新建文档", "LibreOffice 没有建立文档");
  return doc;
}

namespace {

// Moves `from` over `to`; across file systems by a copy into `to`'s folder
// first, so `to` is only ever replaced whole. Answers an errno value.
int MoveFile(const std::string& from, const std::string& to, const std::string& folder) {
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  if (errno != EXDEV) return errno;
  const std::string temp = folder + "/.~pw-" + RandomTag();
  std::error_code ec;
  if (!std::filesystem::copy_file(from, temp, ec)) return ec.value() ? ec.value() : EIO;
  if (::rename(temp.c_str(), to.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return err;
  }
  ::unlink(from.c_str());
  return 0;
}

}  // namespace

void OfficeServer::Impl::Store(const Reference<css::lang::XComponent>& doc, const std::string& path,
                               const std::string& filter, const std::string& action) {
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string ext =
      name.find('.') == std::string::npos ? "" : name.substr(name.find_last_of('.'));
  // The office writes only names it can spell: a folder that is not UTF-8 gets
  // the file from the temporary folder instead.
  const std::string stage =
      IsValidUtf8(folder) ? folder : std::filesystem::temp_directory_path().string();
  std::string temp = stage + "/.~pw-" + RandomTag() + (IsValidUtf8(ext) ? ext : "");
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) throw OfficeError(path, action, ErrnoCause(errno));
  ::close(fd);
  struct Cleanup {
    std::string& file;
    ~Cleanup() {
      if (!file.empty()) ::unlink(file.c_str());
    }
  } cleanup{temp};

  Reference<css::frame::XStorable> storable(doc, UNO_QUERY_THROW);
  Sequence<css::beans::PropertyValue> props =
      Props({Prop("FilterName", Any(ToOU(filter))), Prop("Overwrite", Any(true))});
  Call(path, action, [&] { storable->storeToURL(FileUrl(temp), props); });
  if (const int err = MoveFile(temp, path, folder); err != 0)
    throw OfficeError(path, action, ErrnoCause(err));
  temp.clear();
}

void OfficeServer::Impl::CloseDocument(const Reference<css::lang::XComponent>& doc) {
  if (!doc.is() || !desktop.is() || !Alive()) return;
  Call({}, "关闭文档", [&] {
    Reference<css::util::XCloseable> closeable(doc, UNO_QUERY);
    try {
      if (closeable.is())
        closeable->close(true);
      else
        doc->dispose();
    } catch (const css::util::CloseVetoException&) {
      doc->dispose();
    }
  });
}

// ---- spreadsheets ---------------------------------------------------------

void OfficeServer::ConvertSpreadsheet(const std::string& from, const std::string& to,
                                      const std::string& filter) {
  Start();
  Impl& d = *impl_;
  Reference<css::lang::XComponent> doc = d.Load(from);
  struct Closer {
    Impl& d;
    Reference<css::lang::XComponent> doc;
    ~Closer() {
      try {
        d.CloseDocument(doc);
      } catch (...) {
      }
    }
  } closer{d, doc};

  Reference<css::sheet::XSpreadsheetDocument> book(doc, UNO_QUERY);
  if (!book.is()) throw OfficeError(from, "转换", "这不是电子表格文件");
  if (filter == "MS Excel 97") {
    d.Call(from, "转换", [&] {
      Reference<css::container::XIndexAccess> sheets(book->getSheets(), UNO_QUERY_THROW);
      for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
        Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(i), UNO_QUERY_THROW);
        Reference<css::sheet::XSheetCellCursor> cursor = sheet->createCursor();
        Reference<css::sheet::XUsedAreaCursor> used(cursor, UNO_QUERY_THROW);
        used->gotoEndOfUsedArea(false);
        const auto end = Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)
                             ->getRangeAddress();
        const std::string name =
            FromOU(Reference<css::container::XNamed>(sheet, UNO_QUERY_THROW)->getName());
        if (end.EndRow >= 65536)
          throw OfficeError(from, "保存为 .xls 文件",
                            "工作表“" + name + "”有 " + std::to_string(end.EndRow + 1) +
                                " 行，超过 .xls 格式最多 65536 行的限制");
        if (end.EndColumn >= 256)
          throw OfficeError(from, "保存为 .xls 文件",
                            "工作表“" + name + "”有 " + std::to_string(end.EndColumn + 1) +
                                " 列，超过 .xls 格式最多 256 列的限制");
      }
    });
  }
  d.Store(doc, to, filter, "保存");
}

}  // namespace pw
