#include "platform/office/office_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <rtl/digest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/BrokenPackageRequest.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XTypeDetection.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XModel.hpp>
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

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>

#include "platform/errors.h"
#include "platform/office/office_uno.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

extern char** environ;

namespace pw {

using css::uno::Any;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

std::string Describe(const std::string& action, const std::string& file) {
  return file.empty() ? action
                      : Arg(pw::Translate("office", "%1“%2”"), {action, DisplayText(file)});
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
      throw OfficeError(
          {}, PW_TR_NOOP("office", "启动 LibreOffice"),
          Arg(pw::Translate("office", "无法初始化 UNO 组件：%1"), {FromOU(e.Message)}));
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

// One setting of the profile, as the office's registry writes it.
std::string Setting(const char* path, const char* name, const std::string& value) {
  return std::string("<item oor:path=\"") + path + "\"><prop oor:name=\"" + name +
         "\" oor:op=\"fuse\"><value>" + value + "</value></prop></item>\n";
}

// Writes into a fresh profile what a first start would otherwise work out at
// length: the version last run (else every start runs the graphics self-tests,
// some three seconds) and the build the extension cache belongs to (else the
// first start rebuilds it and exits asking for a restart). Best effort: a
// profile left unseeded only starts slower.
//
// It also keeps the server off the network: nothing a document links to
// (pictures, style sheets, linked sections, other files) is fetched, links
// are never updated, and no macro runs. Documents come from anywhere.
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
  std::string items;
  if (!version.empty() && version.find_first_not_of("0123456789.") == std::string::npos)
    items += Setting("/org.openoffice.Setup/Product", "ooSetupLastVersion", version);
  const char* security = "/org.openoffice.Office.Common/Security/Scripting";
  items += Setting(security, "BlockUntrustedRefererLinks", "true");
  items += Setting(security, "MacroSecurityLevel", "3");
  items += Setting(security, "DisableMacrosExecution", "true");
  items += Setting(security, "ExecutePlugins", "false");
  // No content provider for remote places: a link to a web or file-sharing
  // address cannot even be opened, whatever part of the office follows it.
  for (const char* provider : {"Provider3", "Provider4", "Provider4a", "Provider12", "Provider12a",
                               "Provider12b", "Provider6", "Provider43"})
    items += std::string(
                 "<item oor:path=\"/org.openoffice.ucb.Configuration/ContentProviders/"
                 "org.openoffice.ucb.Configuration:ContentProvidersDataPrimaryKeys['Local']/"
                 "SecondaryKeys/org.openoffice.ucb.Configuration:"
                 "ContentProvidersDataSecondaryKeys['Office']/ProviderData\"><node oor:name=\"") +
             provider + "\" oor:op=\"remove\"/></item>\n";
  // Link updates: Writer counts 0 as never, Calc counts 1.
  items += Setting("/org.openoffice.Office.Writer/Content/Update", "Link", "0");
  items += Setting("/org.openoffice.Office.Calc/Content/Update", "Link", "1");
  std::ofstream(profile + "/user/registrymodifications.xcu")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
         "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
      << items << "</oor:items>\n";
  if (!build.empty()) std::ofstream(profile + "/user/extensions/buildid") << build;
}

// The agent component, loaded into the office process from our helper folder
// (or the build's); empty when that fails, which only makes steps slower.
Reference<css::task::XJob> LoadAgent(const Reference<css::uno::XComponentContext>& remote) {
  const std::string library =
      HelperFile(std::filesystem::path(PW_OFFICE_AGENT).filename().string(), PW_OFFICE_AGENT);
  std::error_code ec;
  if (!std::filesystem::exists(library, ec)) return {};
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

// When process `pid` started, in clock ticks since boot; 0 when there is no
// such process. With the pid it names a process for good: pids are reused.
unsigned long long StartTime(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(in, text);
  const std::size_t close = text.rfind(')');  // the name may hold anything
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i)  // fields counted from 1
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  return 0;
}

// "<pid>-<start time>" of this process: what the names of its profile
// folders and pipes begin with, so a later run can tell whether their owner
// still lives.
const std::string& OwnerTag() {
  static const std::string tag =
      std::to_string(::getpid()) + "-" + std::to_string(StartTime(::getpid()));
  return tag;
}

// Whether the owner named at the start of `rest` ("<pid>-<start>-...") is gone.
bool OwnerGone(const char* rest) {
  char* end = nullptr;
  const long pid = std::strtol(rest, &end, 10);
  if (pid <= 0 || *end != '-') return false;
  const unsigned long long start = std::strtoull(end + 1, &end, 10);
  if (*end != '-') return false;
  return StartTime(pid) != start;
}

// The sockets of the office pipe `name`, in each folder the office may keep
// its pipes in.
std::vector<std::string> PipeFiles(const std::string& name) {
  const std::string file = "/OSL_PIPE_" + std::to_string(::getuid()) + "_" + name;
  return {"/tmp" + file, "/var/tmp" + file};
}

// The sockets of the office's single-instance pipe for `profile`, named after the MD5 of the
// profile's URL as UTF-16 code units, each byte in hexadecimal without
// leading zeros.
std::vector<std::string> InstancePipes(const std::string& profile) {
  const OUString url = FileUrl(profile);
  sal_uInt8 md5[RTL_DIGEST_LENGTH_MD5];
  if (rtl_digest_MD5(url.getStr(), static_cast<sal_uInt32>(url.getLength()) * sizeof(sal_Unicode),
                     md5, sizeof md5) != rtl_Digest_E_None)
    return {};
  std::string hash;
  char hex[4];
  for (sal_uInt8 b : md5) {
    std::snprintf(hex, sizeof hex, "%x", b);
    hash += hex;
  }
  return PipeFiles("SingleOfficeIPC_" + hash);
}

void RemoveOwnSocket(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid())
    ::unlink(path.c_str());
}

// Removes what servers of runs that were killed left in the temporary
// folder: their profiles (with the office's lock and temporary files inside)
// and their pipes. Only this user's, and only those whose owner is gone;
// another running instance's are never touched.
void ClearLeftovers(const std::string& tmp) {
  DIR* dir = ::opendir(tmp.c_str());
  if (dir == nullptr) return;
  const std::string pipePrefix = "OSL_PIPE_" + std::to_string(::getuid()) + "_pw-office-";
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind("pw-office-", 0) == 0 ? OwnerGone(name.c_str() + 10)
        : name.rfind(pipePrefix, 0) == 0 ? OwnerGone(name.c_str() + pipePrefix.size())
                                         : false)
      stale.push_back(tmp + "/" + name);
  }
  ::closedir(dir);
  for (const std::string& path : stale) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || st.st_uid != ::getuid()) continue;
    if (S_ISDIR(st.st_mode))
      for (const std::string& pipe : InstancePipes(path)) RemoveOwnSocket(pipe);
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
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
      cause_ = PW_TR_NOOP("office", "文件有密码保护");
    else if (what >>= broken)
      cause_ = PW_TR_NOOP("office", "文件已损坏");
    else if ((what >>= io) && cause_.empty())
      cause_ = PW_TR_NOOP("office", "无法读取文件");
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
    : std::runtime_error(Arg(pw::Translate("office", "无法%1：%2"),
                             {Describe(pw::Translate("office", action.c_str()), file),
                              pw::Translate("office", cause.c_str())})),
      file_(std::move(file)),
      action_(pw::Translate("office", action.c_str())),
      cause_(pw::Translate("office", cause.c_str())) {}

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
    if (spawnWanted) {
      spawnWanted = false;
      lock.unlock();
      const int err = ForkServer();
      lock.lock();
      spawnError = err;
      spawnDone = true;
      wake.notify_all();
      continue;
    }
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
  ::kill(-pid, SIGKILL);  // its process group: anything it started goes too
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
  return !killed && !lost;
}

void OfficeServer::Impl::EnsureAlive(const std::string& file, const std::string& action) {
  if (desktop.is() && Alive()) return;
  throw OfficeError(file, action,
                    killed ? PW_TR_NOOP("office", "LibreOffice 之前没有响应，已被强制结束")
                    : lost ? PW_TR_NOOP("office", "LibreOffice 意外退出")
                           : PW_TR_NOOP("office", "LibreOffice 没有在运行"));
}

OfficeError OfficeServer::Impl::Translate(const std::string& file, const std::string& action,
                                          const css::uno::Exception& e) {
  if (killed) {
    const long long secs =
        std::chrono::duration_cast<std::chrono::seconds>(options.callTimeout).count();
    return OfficeError(
        file, action,
        Arg(pw::Translate("office", "LibreOffice 超过 %1 秒没有响应，已被强制结束"), {secs}));
  }
  const Any any = cppu::getCaughtException();
  if (any.isExtractableTo(cppu::UnoType<css::lang::DisposedException>::get()) || !Alive()) {
    lost = true;
    return OfficeError(file, action, PW_TR_NOOP("office", "LibreOffice 意外退出"));
  }
  std::string detail = FromOU(e.Message);
  if (const std::size_t nl = detail.find('\n'); nl != std::string::npos) detail.resize(nl);
  return OfficeError(file, action,
                     detail.empty()
                         ? PW_TR_NOOP("office", "LibreOffice 报告错误")
                         : Arg(pw::Translate("office", "LibreOffice 报告：%1"), {detail}));
}

// ---- process --------------------------------------------------------------

void OfficeServer::Impl::Spawn() {
  std::unique_lock<std::mutex> lock(mutex);
  spawnWanted = true;
  spawnDone = false;
  wake.notify_all();
  wake.wait(lock, [this] { return spawnDone; });
  if (spawnError != 0) {
    const std::string program =
        options.program.empty() ? ProgramFolder() + "/soffice.bin" : options.program;
    throw OfficeError(
        {}, PW_TR_NOOP("office", "启动 LibreOffice"),
        Arg(pw::Translate("office", "找不到或无法运行 %1：%2"), {program, ErrnoCause(spawnError)}));
  }
}

int OfficeServer::Impl::ForkServer() {
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
  // Its temporary files go into the profile, which goes with the run.
  std::string tmp = "TMPDIR=" + profile + "/tmp";
  std::filesystem::create_directories(profile + "/tmp");
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "TMPDIR=", 7) != 0) envp.push_back(*e);
  envp.push_back(tmp.data());
  envp.push_back(nullptr);

  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  int report[2] = {-1, -1};  // the child's errno when exec fails
  if (in < 0 || out < 0 || ::pipe2(report, O_CLOEXEC) != 0) {
    const int err = errno;
    for (int fd : {in, out, report[0], report[1]})
      if (fd >= 0) ::close(fd);
    return err;
  }
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    // Only system calls from here on: this is a copy of a threaded process.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the program died before the line above
    ::setpgid(0, 0);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(program.c_str(), argv.data(), envp.data());
    const int err = errno;
    if (::write(report[1], &err, sizeof err) < 0) ::_exit(127);
    ::_exit(127);
  }
  const int forkErr = errno;
  ::close(in);
  ::close(out);
  ::close(report[1]);
  if (child < 0) {
    ::close(report[0]);
    return forkErr;
  }
  int err = 0;
  ssize_t n;
  do n = ::read(report[0], &err, sizeof err);
  while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof err)) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return err != 0 ? err : ENOEXEC;
  }
  std::lock_guard<std::mutex> lock(mutex);
  pid = child;
  return 0;
}

OfficeServer::OfficeServer(OfficeOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

OfficeServer::~OfficeServer() {
  try {
    Shutdown();
  } catch (...) {
  }
}

void OfficeServer::Abort() {
  Impl& d = *impl_;
  std::lock_guard<std::mutex> lock(d.mutex);
  d.killed = true;
  if (d.pid > 0) ::kill(d.pid, SIGKILL);
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
  // A server that dies mid-call closes the bridge's pipe under a write: that
  // must be an error of the call, not a signal that ends this program.
  static std::once_flag pipeSignal;
  std::call_once(pipeSignal, [] {
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
      ::signal(SIGPIPE, SIG_IGN);
  });
  Shutdown();
  const Reference<css::uno::XComponentContext> local = LocalContext();

  const std::string tmp = std::filesystem::temp_directory_path().string();
  ClearLeftovers(tmp);
  std::string base = tmp + "/pw-office-" + OwnerTag() + "-XXXXXX";
  if (::mkdtemp(base.data()) == nullptr)
    throw OfficeError(
        {}, PW_TR_NOOP("office", "启动 LibreOffice"),
        Arg(pw::Translate("office", "无法建立临时配置文件夹：%1"), {ErrnoCause(errno)}));
  d.profile = base;
  SeedProfile(d.profile);
  d.pipe = "pw-office-" + OwnerTag() + "-" + RandomTag();
  d.killed = false;
  d.lost = false;
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
        throw OfficeError(
            {}, PW_TR_NOOP("office", "启动 LibreOffice"),
            Arg(pw::Translate("office", "LibreOffice 启动后立即退出（退出状态 %1）"), {status}));
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
        throw OfficeError({}, PW_TR_NOOP("office", "启动 LibreOffice"),
                          PW_TR_NOOP("office", "LibreOffice 在规定时间内没有启动"));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    d.desktop = css::frame::Desktop::create(d.remote);
    if (d.options.agent) d.agent = LoadAgent(d.remote);
  } catch (const css::uno::Exception& e) {
    OfficeError error = d.Translate({}, PW_TR_NOOP("office", "启动 LibreOffice"), e);
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
    // A killed process leaves its pipes behind.
    for (const std::string& pipe : InstancePipes(d.profile)) RemoveOwnSocket(pipe);
    for (const std::string& pipe : PipeFiles(d.pipe)) RemoveOwnSocket(pipe);
    std::error_code ec;
    std::filesystem::remove_all(d.profile, ec);
    d.profile.clear();
  }
}

// ---- documents ------------------------------------------------------------

namespace {

// The import filter the office would read `url` with, "" when it knows none.
std::string DetectFilter(const Reference<css::uno::XComponentContext>& remote, const OUString& url,
                         const Reference<css::task::XInteractionHandler>& questions) {
  Reference<css::document::XTypeDetection> detection(
      remote->getServiceManager()->createInstanceWithContext("com.sun.star.document.TypeDetection",
                                                             remote),
      UNO_QUERY_THROW);
  Sequence<css::beans::PropertyValue> descriptor =
      Props({Prop("URL", Any(url)), Prop("InteractionHandler", Any(questions))});
  const OUString type = detection->queryTypeByDescriptor(descriptor, true);
  OUString filter;
  for (const auto& p : std::as_const(descriptor))
    if (p.Name == "FilterName") p.Value >>= filter;
  if (filter.isEmpty() && !type.isEmpty()) {
    Reference<css::container::XNameAccess> types(detection, UNO_QUERY_THROW);
    Sequence<css::beans::PropertyValue> props;
    if (types->hasByName(type)) types->getByName(type) >>= props;
    for (const auto& p : std::as_const(props))
      if (p.Name == "PreferredFilter") p.Value >>= filter;
  }
  return FromOU(filter);
}

// The import filter a loaded document was read with.
std::string LoadedFilter(const Reference<css::lang::XComponent>& doc) {
  Reference<css::frame::XModel> model(doc, UNO_QUERY);
  if (!model.is()) return {};
  OUString filter;
  for (const auto& p : model->getArgs())
    if (p.Name == "FilterName") p.Value >>= filter;
  return FromOU(filter);
}

bool Accepted(const std::vector<std::string>& accepted, const std::string& filter) {
  return accepted.empty() || std::find(accepted.begin(), accepted.end(), filter) != accepted.end();
}

// Why a file the office reads with `filter` is not taken for a document.
std::string RefusalCause(const std::string& path, const std::string& filter) {
  // A package or compound file the office makes nothing of but text is a
  // damaged document (or another program's), not a text file.
  std::ifstream in(path, std::ios::binary);
  char head[8] = {};
  in.read(head, sizeof head);
  if (std::memcmp(head, "PK\x03\x04", 4) == 0 ||
      std::memcmp(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) == 0)
    if (filter.rfind("Text", 0) == 0) return PW_TR_NOOP("office", "文件已损坏，或不是 Word 文档");
  for (const char* sheet : {"calc", "Calc", "Excel", "Spreadsheet"})
    if (filter.find(sheet) != std::string::npos)
      return PW_TR_NOOP("office", "不是 Word 文档（文件内容是电子表格）");
  return PW_TR_NOOP("office", "不是 Word 文档（无法识别的文件内容）");
}

}  // namespace

Reference<css::lang::XComponent> OfficeServer::Impl::Load(
    const std::string& path, const std::vector<std::string>& accepted) {
  const std::string action = PW_TR_NOOP("office", "打开");
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw OfficeError(path, action, ErrnoCause(errno));
  if (S_ISDIR(st.st_mode)) throw OfficeError(path, action, ErrnoCause(EISDIR));
  if (::access(path.c_str(), R_OK) != 0) throw OfficeError(path, action, ErrnoCause(errno));
  if (st.st_size == 0) throw OfficeError(path, action, PW_TR_NOOP("office", "文件是空的"));

  rtl::Reference<LoadQuestions> questions = new LoadQuestions;
  const Reference<css::task::XInteractionHandler> handler(questions.get());
  // Nothing the document points to is fetched or run: no links updated, no
  // macros, no repair (which asks), no web page loaded in place of a file.
  Sequence<css::beans::PropertyValue> props = Props({
      Prop("Hidden", Any(true)),
      Prop("ReadOnly", Any(true)),
      Prop("MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)),
      Prop("UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)),
      Prop("RepairPackage", Any(false)),
      Prop("InteractionHandler", Any(handler)),
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
  const auto unreadable = [&] {
    const std::string cause = questions->Cause();
    return OfficeError(
        path, action,
        cause.empty() ? PW_TR_NOOP("office", "文件已损坏，或不是受支持的格式") : cause);
  };
  // A file of another kind is refused before it is read: the office would
  // otherwise take any bytes for plain text and make pages of them.
  if (!accepted.empty()) {
    const std::string filter =
        Call(path, action, [&] { return DetectFilter(remote, FileUrl(readFrom), handler); });
    if (filter.empty()) throw unreadable();
    if (!Accepted(accepted, filter)) throw OfficeError(path, action, RefusalCause(path, filter));
  }
  Reference<css::lang::XComponent> doc;
  try {
    doc = Call(path, action, [&] {
      return desktop->loadComponentFromURL(FileUrl(readFrom), "_blank", 0, props);
    });
  } catch (const OfficeError&) {
    if (killed || !Alive()) throw;
    throw unreadable();
  }
  if (!doc.is()) throw unreadable();
  if (!accepted.empty()) {
    const std::string filter = Call(path, action, [&] { return LoadedFilter(doc); });
    if (!Accepted(accepted, filter)) {
      CloseDocument(doc);
      throw OfficeError(path, action, RefusalCause(path, filter));
    }
  }
  return doc;
}

Reference<css::lang::XComponent> OfficeServer::Impl::Create(const char* factoryUrl) {
  Sequence<css::beans::PropertyValue> props = Props({Prop("Hidden", Any(true))});
  Reference<css::lang::XComponent> doc = Call({}, PW_TR_NOOP("office", "新建文档"), [&] {
    return desktop->loadComponentFromURL(OUString::createFromAscii(factoryUrl), "_blank", 0, props);
  });
  if (!doc.is())
    throw OfficeError({}, PW_TR_NOOP("office", "新建文档"),
                      PW_TR_NOOP("office", "LibreOffice 没有建立文档"));
  return doc;
}

namespace {

// Moves `from` over `to`; across file systems by a copy into `to`'s folder
// first, so `to` is only ever replaced whole. Answers an errno value.
int MoveFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  if (errno != EXDEV) return errno;
  PendingOutput copy(to);  // removed unless renamed into place
  const std::string& temp = copy.tempPath();
  std::error_code ec;
  if (!std::filesystem::copy_file(from, temp, ec)) return ec.value() ? ec.value() : EIO;
  if (const int err = SyncFile(temp); err != 0) return err;
  if (::rename(temp.c_str(), to.c_str()) != 0) return errno;
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
  Reference<css::frame::XStorable> storable;
  Call(path, action, [&] { storable.set(doc, UNO_QUERY_THROW); });
  Sequence<css::beans::PropertyValue> props =
      Props({Prop("FilterName", Any(ToOU(filter))), Prop("Overwrite", Any(true))});
  // A pending output's temporary name is private and hidden already: the
  // caller renames it into place once the run may keep it.
  if (IsPendingOutputName(name) && IsValidUtf8(folder)) {
    Call(path, action, [&] { storable->storeToURL(FileUrl(path), props); });
    return;
  }
  // Otherwise a temporary name of the same kind beside the target, so the
  // next run writing there removes it should this one be killed meanwhile.
  // The office writes only names it can spell: a folder that is not UTF-8
  // gets the file from the private profile folder instead.
  PendingOutput pending(path);
  const std::string stage = IsValidUtf8(folder)
                                ? pending.tempPath()
                                : profile + "/save-" + RandomTag() + (IsValidUtf8(ext) ? ext : "");
  std::string temp = stage;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw OfficeError(path, action, ErrnoCause(errno));
  ::close(fd);
  struct Cleanup {
    std::string& file;
    ~Cleanup() {
      if (!file.empty()) ::unlink(file.c_str());
    }
  } cleanup{temp};

  Call(path, action, [&] { storable->storeToURL(FileUrl(temp), props); });
  if (const int err = SyncFile(temp); err != 0) throw OfficeError(path, action, ErrnoCause(err));
  if (const int err = MoveFile(temp, path); err != 0)
    throw OfficeError(path, action, ErrnoCause(err));
  temp.clear();
}

void OfficeServer::Impl::CloseDocument(const Reference<css::lang::XComponent>& doc) {
  if (!doc.is() || !desktop.is() || !Alive()) return;
  Call({}, PW_TR_NOOP("office", "关闭文档"), [&] {
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

  // Even asking the document what it is goes to the office: a server gone
  // meanwhile fails the file like any other call.
  Reference<css::sheet::XSpreadsheetDocument> book;
  d.Call(from, PW_TR_NOOP("office", "转换"), [&] { book.set(doc, UNO_QUERY); });
  if (!book.is())
    throw OfficeError(from, PW_TR_NOOP("office", "转换"),
                      PW_TR_NOOP("office", "这不是电子表格文件"));
  if (filter == "MS Excel 97") {
    d.Call(from, PW_TR_NOOP("office", "转换"), [&] {
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
          throw OfficeError(
              from, PW_TR_NOOP("office", "保存为 .xls 文件"),
              Arg(pw::Translate("office", "工作表“%1”有 %2 行，超过 .xls 格式最多 65536 行的限制"),
                  {name, end.EndRow + 1}));
        if (end.EndColumn >= 256)
          throw OfficeError(
              from, PW_TR_NOOP("office", "保存为 .xls 文件"),
              Arg(pw::Translate("office", "工作表“%1”有 %2 列，超过 .xls 格式最多 256 列的限制"),
                  {name, end.EndColumn + 1}));
      }
    });
  }
  d.Store(doc, to, filter, PW_TR_NOOP("office", "保存"));
}

}  // namespace pw
