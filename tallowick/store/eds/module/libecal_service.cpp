// The EDS service on libecal: the one file of tallowick-eds.so.
//
// Every call to EDS is made asynchronously on a main context of the service's
// own and waited for with a bound, because EDS's synchronous calls can wait
// for minutes on a service that is stuck. Past its bound a call is cancelled;
// one that does not even finish then is abandoned: the service is marked
// broken and never runs its context again, so the late reply is never
// delivered and the state it would write stays allocated.
//
// Only the standard library's types leave this file (eds_service.h).

#include <libecal/libecal.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tallowick/store/eds/eds_service.h"

namespace tallowick::eds {
namespace {

// Reaching the bus, the registry or one calendar: EDS answers these in well
// under a second, or a second or two when it has to be started first.
constexpr int connectBoundMs = 5000;
// A query or a write on an open calendar: reading a large calendar file takes
// EDS a second or two.
constexpr int callBoundMs = 30000;
// How long a cancelled call gets to finish before it is abandoned.
constexpr int cancelGraceMs = 500;

const char* const registryBusName = "org.gnome.evolution.dataserver.Sources5";

// GLib writes CRITICAL and WARNING lines (and, when G_MESSAGES_DEBUG asks,
// debug lines) to stderr, which must carry nothing but the one error line.
// What goes wrong reaches the program as errors of the calls instead.
void silenceGlib() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_log_set_writer_func([](GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; },
                          nullptr, nullptr);
    g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    g_set_print_handler([](const gchar*) {});
    g_set_printerr_handler([](const gchar*) {});
  });
}

struct Unref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using Ref = std::unique_ptr<T, Unref>;

struct Free {
  void operator()(gpointer memory) const { g_free(memory); }
};
using GText = std::unique_ptr<gchar, Free>;

// The error's message, and the error freed.
std::string messageOf(GError* error) {
  if (!error) return "unknown error";
  std::string text = error->message && *error->message ? error->message : "unknown error";
  g_error_free(error);
  return text;
}

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

// The iCalendar text of a component.
std::string textOf(ICalComponent* component) {
  GText text(i_cal_component_as_ical_string(component));
  return text ? text.get() : "";
}

// The component's UID and RECURRENCE-ID, without its text yet.
EdsComponent idOf(ICalComponent* component) {
  const gchar* uid = i_cal_component_get_uid(component);
  GText rid(e_cal_util_component_get_recurid_as_string(component));
  return {uid ? uid : "", rid ? rid.get() : "", ""};
}

// Asynchronous calls started together and waited for together. Each call is
// started with callback() and slot(); its result is result(i), in the order
// started.
class Batch {
 public:
  explicit Batch(GMainContext* context) : context_(context), cancellable_(g_cancellable_new()) {}
  ~Batch() {
    for (Call* call : calls_) {
      if (call->result) g_object_unref(call->result);
      delete call;
    }
  }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  GCancellable* cancellable() const { return cancellable_.get(); }
  static void callback(GObject*, GAsyncResult* result, gpointer data) {
    static_cast<Call*>(data)->result = G_ASYNC_RESULT(g_object_ref(result));
  }
  gpointer slot() {
    calls_.push_back(new Call);
    return calls_.back();
  }
  GAsyncResult* result(size_t i) const { return calls_[i]->result; }
  size_t size() const { return calls_.size(); }

  // Runs the context until every call has finished, for at most `boundMs`.
  // False when the bound passed first: the calls are then cancelled and,
  // if one does not finish even so, left to the end of the process (see the
  // file's comment).
  bool wait(int boundMs) {
    if (runUntilDone(boundMs)) return true;
    g_cancellable_cancel(cancellable_.get());
    if (!runUntilDone(cancelGraceMs)) calls_.clear();  // abandoned, never freed
    return false;
  }

 private:
  struct Call {
    GAsyncResult* result = nullptr;
  };

  bool done() const {
    for (const Call* call : calls_)
      if (!call->result) return false;
    return true;
  }

  bool runUntilDone(int boundMs) {
    bool expired = false;
    GSource* timer = g_timeout_source_new(static_cast<guint>(boundMs));
    g_source_set_callback(
        timer,
        [](gpointer flag) {
          *static_cast<bool*>(flag) = true;
          return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(timer, context_);
    while (!done() && !expired) g_main_context_iteration(context_, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
    return done();
  }

  GMainContext* context_;
  Ref<GCancellable> cancellable_;
  std::vector<Call*> calls_;
};

class LibecalService final : public EdsService {
 public:
  LibecalService() : context_(g_main_context_new()) {}

  // Nothing is closed or freed: closing a calendar is a call to EDS that
  // could wait on a stuck service, and EDS lets go of a client's calendars
  // by itself once the client's bus connection ends with the process. A
  // broken service may still have replies on their way into its state.
  ~LibecalService() override = default;

  EdsAnswer<EdsDone> connect() override {
    return guarded<EdsDone>(Needs::nothing, [&](EdsAnswer<EdsDone>& answer) {
      silenceGlib();
      if (reachBus(answer) && offeredOnBus(answer)) openRegistry(answer);
    });
  }

  EdsAnswer<std::vector<EdsSource>> sources(EdsSourceKind kind) override {
    return guarded<std::vector<EdsSource>>(Needs::registry, [&](EdsAnswer<std::vector<EdsSource>>& answer) {
      GList* list = e_source_registry_list_enabled(registry_, extensionOf(kind));
      for (GList* item = list; item; item = item->next) {
        ESource* source = E_SOURCE(item->data);
        GText title(e_source_dup_display_name(source));
        answer.value.push_back({e_source_get_uid(source), title ? title.get() : ""});
      }
      g_list_free_full(list, g_object_unref);
    });
  }

  EdsAnswer<std::string> defaultTaskList() override {
    return guarded<std::string>(Needs::registry, [&](EdsAnswer<std::string>& answer) {
      if (Ref<ESource> source{e_source_registry_ref_default_task_list(registry_)})
        answer.value = e_source_get_uid(source.get());
    });
  }

  EdsAnswer<std::vector<std::vector<EdsComponent>>> eventComponents(const std::vector<std::string>& sources,
                                                                    const std::string& startUtc,
                                                                    const std::string& endUtc) override {
    // Without the recurring ones, EDS would leave out rules that run for
    // ever from windows after 2038 (its own expansion decides which
    // occur); with them come every master, and every detached instance even
    // when moved out of the window. Two queries, not one (or ...): EDS
    // answers a bare time range from an index, in a fraction of the time.
    std::string window = "(occur-in-time-range? (make-time \"" + startUtc + "\") (make-time \"" + endUtc + "\"))";
    return componentsOf(sources, EdsSourceKind::calendar, {window, "(has-recurrences?)"}, I_CAL_VEVENT_COMPONENT);
  }

  EdsAnswer<std::vector<std::vector<EdsComponent>>> openTasks(const std::vector<std::string>& sources) override {
    return componentsOf(sources, EdsSourceKind::taskList, {"(not (is-completed?))"}, I_CAL_VTODO_COMPONENT);
  }

  EdsAnswer<std::vector<std::string>> timezones(const std::string& source, EdsSourceKind kind,
                                                const std::vector<std::string>& tzids) override {
    return guarded<std::vector<std::string>>(Needs::registry, [&](EdsAnswer<std::vector<std::string>>& answer) {
      ECalClient* client = nullptr;
      if (!open(answer, source, kind, client)) return;
      Batch batch(context_);
      for (const std::string& tzid : tzids)
        e_cal_client_get_timezone(client, tzid.c_str(), batch.cancellable(), Batch::callback, batch.slot());
      if (!batch.wait(callBoundMs))
        return timedOut(answer, "Cannot read the time zones of " + name(source), callBoundMs);
      for (size_t i = 0; i < batch.size(); ++i) {
        ICalTimezone* zone = nullptr;  // the client's
        GError* error = nullptr;
        std::string text;
        // A zone EDS does not know is no failure: the event is read without it.
        if (e_cal_client_get_timezone_finish(client, batch.result(i), &zone, &error) && zone) {
          Ref<ICalComponent> component{i_cal_timezone_get_component(zone)};
          if (component) text = textOf(component.get());
        }
        if (error) g_error_free(error);
        answer.value.push_back(std::move(text));
      }
    });
  }

  EdsAnswer<bool> isReadOnly(const std::string& source, EdsSourceKind kind) override {
    return guarded<bool>(Needs::registry, [&](EdsAnswer<bool>& answer) {
      ECalClient* client = nullptr;
      if (open(answer, source, kind, client)) answer.value = e_client_is_readonly(E_CLIENT(client));
    });
  }

  EdsAnswer<std::string> task(const std::string& source, const std::string& uid, const std::string& rid) override {
    return guarded<std::string>(Needs::registry, [&](EdsAnswer<std::string>& answer) {
      ECalClient* client = nullptr;
      if (!open(answer, source, EdsSourceKind::taskList, client)) return;
      Batch batch(context_);
      e_cal_client_get_object(client, uid.c_str(), rid.empty() ? nullptr : rid.c_str(), batch.cancellable(),
                              Batch::callback, batch.slot());
      if (!batch.wait(callBoundMs)) return timedOut(answer, "Cannot read a reminder of " + name(source), callBoundMs);
      ICalComponent* found = nullptr;
      GError* error = nullptr;
      if (!e_cal_client_get_object_finish(client, batch.result(0), &found, &error)) {
        if (g_error_matches(error, E_CAL_CLIENT_ERROR, E_CAL_CLIENT_ERROR_OBJECT_NOT_FOUND)) {
          g_error_free(error);
          return;
        }
        return fail(answer, "Cannot read a reminder of " + name(source) + ": " + messageOf(error));
      }
      Ref<ICalComponent> component{found};
      // An item with detached instances comes as a VCALENDAR holding them all.
      if (i_cal_component_isa(found) == I_CAL_VCALENDAR_COMPONENT) {
        for (Ref<ICalComponent> child{i_cal_component_get_first_component(found, I_CAL_VTODO_COMPONENT)}; child;
             child.reset(i_cal_component_get_next_component(found, I_CAL_VTODO_COMPONENT))) {
          EdsComponent one = idOf(child.get());
          if (one.uid == uid && one.rid == rid) answer.value = textOf(child.get());
        }
        return;
      }
      if (i_cal_component_isa(found) == I_CAL_VTODO_COMPONENT) answer.value = textOf(found);
    });
  }

  EdsAnswer<EdsDone> createTask(const std::string& source, const std::string& text) override {
    return write(
        source, text, "Cannot add the reminder to ",
        [](ECalClient* client, ICalComponent* todo, Batch& batch) {
          e_cal_client_create_object(client, todo, E_CAL_OPERATION_FLAG_NONE, batch.cancellable(), Batch::callback,
                                     batch.slot());
        },
        [](ECalClient* client, GAsyncResult* result, GError** error) {
          gchar* uid = nullptr;
          bool ok = e_cal_client_create_object_finish(client, result, &uid, error);
          g_free(uid);
          return ok;
        });
  }

  EdsAnswer<EdsDone> modifyTask(const std::string& source, const std::string& text) override {
    return write(
        source, text, "Cannot save the reminder in ",
        [](ECalClient* client, ICalComponent* todo, Batch& batch) {
          e_cal_client_modify_object(client, todo, E_CAL_OBJ_MOD_THIS, E_CAL_OPERATION_FLAG_NONE, batch.cancellable(),
                                     Batch::callback, batch.slot());
        },
        [](ECalClient* client, GAsyncResult* result, GError** error) {
          return e_cal_client_modify_object_finish(client, result, error) != FALSE;
        });
  }

 private:
  enum class Needs { nothing, registry };

  // Runs `body` with the service's context as the thread's default, so that
  // EDS delivers its replies there; fails at once when the service is broken
  // or, where `needs` says so, not connected. Nothing is thrown out of the
  // module.
  template <typename T, typename Body>
  EdsAnswer<T> guarded(Needs needs, Body body) {
    EdsAnswer<T> answer;
    if (!broken_.empty()) {
      answer.error = broken_;
      return answer;
    }
    if (needs == Needs::registry && !registry_) {
      answer.error = "evolution-data-server is not connected";
      return answer;
    }
    g_main_context_push_thread_default(context_);
    try {
      body(answer);
    } catch (const std::exception& e) {
      answer = {};
      answer.error = std::string("Cannot use evolution-data-server: ") + e.what();
    }
    g_main_context_pop_thread_default(context_);
    if (answer.ok()) return answer;
    T none{};
    std::swap(answer.value, none);
    return answer;
  }

  template <typename T>
  void fail(EdsAnswer<T>& answer, std::string error) {
    answer.error = std::move(error);
  }

  template <typename T>
  void timedOut(EdsAnswer<T>& answer, const std::string& what, int boundMs,
                const std::string& who = "evolution-data-server") {
    broken_ = what + ": " + who + " did not answer within " + std::to_string(boundMs / 1000) + " seconds";
    answer.error = broken_;
  }

  bool reachBus(EdsAnswer<EdsDone>& answer) {
    Batch batch(context_);
    g_bus_get(G_BUS_TYPE_SESSION, batch.cancellable(), Batch::callback, batch.slot());
    if (!batch.wait(connectBoundMs)) {
      timedOut(answer, "Cannot reach the session bus", connectBoundMs, "the bus");
      return false;
    }
    GError* error = nullptr;
    bus_ = g_bus_get_finish(batch.result(0), &error);
    if (!bus_) {
      fail(answer, "Cannot reach the session bus: " + messageOf(error));
      return false;
    }
    // A bus that goes away would otherwise end the process with SIGTERM,
    // without a word on stderr.
    g_dbus_connection_set_exit_on_close(bus_, FALSE);
    return true;
  }

  // Whether EDS's registry runs on the bus or the bus can start it: a bus
  // without EDS would give an empty registry rather than fail.
  bool offeredOnBus(EdsAnswer<EdsDone>& answer) {
    const std::string what = "Cannot ask the session bus for evolution-data-server";
    Batch batch(context_);
    g_dbus_connection_call(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", g_variant_new("(s)", registryBusName), G_VARIANT_TYPE("(b)"),
                           G_DBUS_CALL_FLAGS_NONE, connectBoundMs, batch.cancellable(), Batch::callback, batch.slot());
    g_dbus_connection_call(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "ListActivatableNames", nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
                           connectBoundMs, batch.cancellable(), Batch::callback, batch.slot());
    if (!batch.wait(connectBoundMs)) {
      timedOut(answer, what, connectBoundMs, "the bus");
      return false;
    }
    bool offered = false;
    for (size_t i = 0; i < batch.size(); ++i) {
      GError* error = nullptr;
      GVariant* reply = g_dbus_connection_call_finish(bus_, batch.result(i), &error);
      if (!reply) {
        fail(answer, what + ": " + messageOf(error));
        return false;
      }
      if (i == 0) {
        gboolean running = FALSE;
        g_variant_get(reply, "(b)", &running);
        offered = offered || running;
      } else {
        GVariantIter* names = nullptr;
        const gchar* name = nullptr;
        g_variant_get(reply, "(as)", &names);
        while (g_variant_iter_loop(names, "&s", &name)) offered = offered || g_strcmp0(name, registryBusName) == 0;
        g_variant_iter_free(names);
      }
      g_variant_unref(reply);
    }
    if (!offered)
      fail(answer, "evolution-data-server is not installed: the session bus offers no " + std::string(registryBusName));
    return offered;
  }

  void openRegistry(EdsAnswer<EdsDone>& answer) {
    const std::string what = "Cannot reach evolution-data-server's list of calendars";
    Batch batch(context_);
    e_source_registry_new(batch.cancellable(), Batch::callback, batch.slot());
    if (!batch.wait(connectBoundMs)) return timedOut(answer, what, connectBoundMs);
    GError* error = nullptr;
    registry_ = e_source_registry_new_finish(batch.result(0), &error);
    if (!registry_) fail(answer, what + ": " + messageOf(error));
  }

  static const char* extensionOf(EdsSourceKind kind) {
    return kind == EdsSourceKind::calendar ? E_SOURCE_EXTENSION_CALENDAR : E_SOURCE_EXTENSION_TASK_LIST;
  }

  // The source's display name, quoted, for messages.
  std::string name(const std::string& uid) {
    Ref<ESource> source{e_source_registry_ref_source(registry_, uid.c_str())};
    GText title(source ? e_source_dup_display_name(source.get()) : nullptr);
    return quoted(title ? title.get() : uid);
  }

  // Connects to each of `uids` not connected yet, all at once.
  template <typename T>
  bool openAll(EdsAnswer<T>& answer, const std::vector<std::string>& uids, EdsSourceKind kind) {
    Batch batch(context_);
    std::vector<std::string> started;
    for (const std::string& uid : uids) {
      if (clients_.count({uid, kind}) || std::find(started.begin(), started.end(), uid) != started.end()) continue;
      Ref<ESource> source{e_source_registry_ref_source(registry_, uid.c_str())};
      if (!source) {
        fail(answer, "evolution-data-server has no calendar or list " + quoted(uid));
        return false;
      }
      // (guint32)-1: do not wait for the calendar's "connected" signal, which
      // would need a main loop running all along (0 would wait for ever).
      e_cal_client_connect(
          source.get(),
          kind == EdsSourceKind::calendar ? E_CAL_CLIENT_SOURCE_TYPE_EVENTS : E_CAL_CLIENT_SOURCE_TYPE_TASKS,
          static_cast<guint32>(-1), batch.cancellable(), Batch::callback, batch.slot());
      started.push_back(uid);
    }
    if (started.empty()) return true;
    if (!batch.wait(connectBoundMs)) {
      timedOut(answer, "Cannot open " + name(started.front()), connectBoundMs);
      return false;
    }
    for (size_t i = 0; i < started.size(); ++i) {
      GError* error = nullptr;
      EClient* client = e_cal_client_connect_finish(batch.result(i), &error);
      if (!client) {
        fail(answer, "Cannot open " + name(started[i]) + " in evolution-data-server: " + messageOf(error));
        return false;
      }
      clients_[{started[i], kind}] = E_CAL_CLIENT(client);
    }
    return true;
  }

  template <typename T>
  bool open(EdsAnswer<T>& answer, const std::string& uid, EdsSourceKind kind, ECalClient*& client) {
    if (!openAll(answer, {uid}, kind)) return false;
    client = clients_.at({uid, kind});
    return true;
  }

  // The components of each source that any of `queries` selects, each once.
  EdsAnswer<std::vector<std::vector<EdsComponent>>> componentsOf(const std::vector<std::string>& sources,
                                                                 EdsSourceKind kind,
                                                                 const std::vector<std::string>& queries,
                                                                 ICalComponentKind wanted) {
    using Lists = std::vector<std::vector<EdsComponent>>;
    return guarded<Lists>(Needs::registry, [&](EdsAnswer<Lists>& answer) {
      if (!openAll(answer, sources, kind)) return;
      Batch batch(context_);
      for (const std::string& uid : sources)
        for (const std::string& query : queries)
          e_cal_client_get_object_list(clients_.at({uid, kind}), query.c_str(), batch.cancellable(), Batch::callback,
                                       batch.slot());
      if (!batch.wait(callBoundMs)) return timedOut(answer, "Cannot read " + name(sources.front()), callBoundMs);
      for (size_t i = 0; i < sources.size(); ++i) {
        std::vector<EdsComponent>& out = answer.value.emplace_back();
        std::set<std::pair<std::string, std::string>> seen;
        for (size_t q = 0; q < queries.size(); ++q) {
          GSList* found = nullptr;
          GError* error = nullptr;
          ECalClient* client = clients_.at({sources[i], kind});
          if (!e_cal_client_get_object_list_finish(client, batch.result(i * queries.size() + q), &found, &error))
            return fail(answer, "Cannot read " + name(sources[i]) + " from evolution-data-server: " + messageOf(error));
          for (GSList* item = found; item; item = item->next) {
            ICalComponent* component = I_CAL_COMPONENT(item->data);
            if (i_cal_component_isa(component) != wanted) continue;
            EdsComponent one = idOf(component);
            if (!seen.insert({one.uid, one.rid}).second) continue;
            one.text = textOf(component);
            out.push_back(std::move(one));
          }
          g_slist_free_full(found, g_object_unref);
        }
      }
    });
  }

  template <typename Start, typename Finish>
  EdsAnswer<EdsDone> write(const std::string& source, const std::string& text, const char* what, Start start,
                           Finish finish) {
    return guarded<EdsDone>(Needs::registry, [&](EdsAnswer<EdsDone>& answer) {
      ECalClient* client = nullptr;
      if (!open(answer, source, EdsSourceKind::taskList, client)) return;
      Ref<ICalComponent> parsed{i_cal_component_new_from_string(text.c_str())};
      Ref<ICalComponent> child;
      ICalComponent* todo = parsed.get();
      if (parsed && i_cal_component_isa(todo) == I_CAL_VCALENDAR_COMPONENT) {
        child.reset(i_cal_component_get_first_component(todo, I_CAL_VTODO_COMPONENT));
        todo = child.get();
      }
      if (!todo || i_cal_component_isa(todo) != I_CAL_VTODO_COMPONENT)
        return fail(answer, std::string(what) + name(source) + ": the text holds no VTODO");
      Batch batch(context_);
      start(client, todo, batch);
      if (!batch.wait(callBoundMs)) return timedOut(answer, what + name(source), callBoundMs);
      GError* error = nullptr;
      if (!finish(client, batch.result(0), &error)) fail(answer, what + name(source) + ": " + messageOf(error));
    });
  }

  GMainContext* context_;
  GDBusConnection* bus_ = nullptr;
  ESourceRegistry* registry_ = nullptr;
  std::map<std::pair<std::string, EdsSourceKind>, ECalClient*> clients_;
  std::string broken_;  // why the service can no longer be used
};

}  // namespace
}  // namespace tallowick::eds

extern "C" __attribute__((visibility("default"))) tallowick::eds::EdsService* tallowick_eds_service_new(
    int interfaceVersion) {
  if (interfaceVersion != tallowick::eds::edsServiceInterfaceVersion) return nullptr;
  try {
    return new tallowick::eds::LibecalService();
  } catch (...) {
    return nullptr;
  }
}
