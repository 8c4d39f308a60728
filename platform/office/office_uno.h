#pragma once
// The UNO side of the office server, for the code in this folder only.

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/task/XJob.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/Sequence.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <initializer_list>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/office/office_server.h"

namespace pw {

namespace css = com::sun::star;
using css::uno::Reference;
using rtl::OString;
using rtl::OUString;

OUString ToOU(const std::string& utf8);
std::string FromOU(const OUString& text);

// A file URL for a byte path, every byte outside the plain set percent-encoded.
OUString FileUrl(const std::string& path);

css::beans::PropertyValue Prop(const char* name, const css::uno::Any& value);
css::uno::Sequence<css::beans::PropertyValue> Props(
    std::initializer_list<css::beans::PropertyValue> list);

struct OfficeServer::Impl {
  OfficeOptions options;
  pid_t pid = -1;
  std::string profile;  // private profile folder, removed at shutdown
  std::string pipe;
  Reference<css::uno::XComponentContext> remote;
  Reference<css::frame::XDesktop2> desktop;
  // The agent loaded into the office process; empty when it did not load,
  // and then every step goes call by call.
  Reference<css::task::XJob> agent;

  // Watchdog: while a call is armed and its deadline passes, the process is
  // killed, which makes the blocked call return with an exception. The
  // server process is started from this thread, which lives exactly as long
  // as the server: the process is told to die with the thread that made it,
  // so it never outlives this program, however the program ends.
  std::thread watchdog;
  std::mutex mutex;
  std::condition_variable wake;
  bool armed = false;
  bool quitting = false;
  std::chrono::steady_clock::time_point deadline;
  std::atomic<bool> killed{false};
  // The connection broke mid-call: the process is going even when it has
  // not been reaped yet.
  std::atomic<bool> lost{false};
  bool spawnWanted = false;  // Spawn asks the watchdog thread to start the process
  bool spawnDone = false;
  int spawnError = 0;  // errno of a failed start

  explicit Impl(OfficeOptions o) : options(std::move(o)) {}
  void Arm(std::chrono::milliseconds timeout);
  void Disarm();
  void WatchLoop();
  void Kill();
  bool Alive();

  // The error for an exception that ended a call.
  OfficeError Translate(const std::string& file, const std::string& action,
                        const css::uno::Exception& e);
  void EnsureAlive(const std::string& file, const std::string& action);

  // Runs `f` as one watched call; any office exception becomes an OfficeError.
  template <class F>
  auto Call(const std::string& file, const std::string& action, F&& f) -> decltype(f()) {
    EnsureAlive(file, action);
    struct Guard {
      Impl& impl;
      ~Guard() { impl.Disarm(); }
    };
    Arm(options.callTimeout);
    Guard guard{*this};
    try {
      return f();
    } catch (const css::uno::Exception& e) {
      throw Translate(file, action, e);
    }
  }

  // Loads `path` hidden, read-only, with macros off and nothing fetched from
  // elsewhere; throws OfficeError naming the file when it does not open.
  // With `accepted`, only a file the office reads with one of these import
  // filters is loaded; anything else is refused before it is opened.
  Reference<css::lang::XComponent> Load(const std::string& path,
                                        const std::vector<std::string>& accepted = {});
  Reference<css::lang::XComponent> Create(const char* factoryUrl);
  // Stores `doc` under `path` with `filter`, atomically: a temporary name in
  // the same folder, renamed at the end. A path that already is such a
  // temporary name (a pending output's) is written directly.
  void Store(const Reference<css::lang::XComponent>& doc, const std::string& path,
             const std::string& filter, const std::string& action);
  void CloseDocument(const Reference<css::lang::XComponent>& doc);

  // Starts the process (through the watchdog thread, see there).
  void Spawn();
  int ForkServer();  // on the watchdog thread; answers an errno value, or 0
};

}  // namespace pw
