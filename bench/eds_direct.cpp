// A minimal direct client of evolution-data-server, the baseline of the EDS
// benchmark (bench/eds.py): libecal's plain synchronous calls, no time
// bounds, no reading of what comes back beyond counting it.
//
//   eds_direct query START END      the components of every enabled calendar
//                                   that tallowick's query selects
//                                   (YYYYMMDDTHHMMSSZ), counted
//   eds_direct instances START END  e_cal_client_generate_instances_sync over
//                                   the same window (seconds since 1970)
//   eds_direct hold                 every calendar opened and kept open until
//                                   stdin ends, as GNOME Shell keeps them

#include <libecal/libecal.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what, GError* error) {
  std::fprintf(stderr, "%s: %s\n", what, error ? error->message : "failed");
  std::exit(1);
}

std::vector<ECalClient*> openCalendars() {
  GError* error = nullptr;
  ESourceRegistry* registry = e_source_registry_new_sync(nullptr, &error);
  if (!registry) fail("registry", error);
  std::vector<ECalClient*> clients;
  GList* sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_CALENDAR);
  for (GList* s = sources; s; s = s->next) {
    EClient* client = e_cal_client_connect_sync(E_SOURCE(s->data), E_CAL_CLIENT_SOURCE_TYPE_EVENTS,
                                                static_cast<guint32>(-1), nullptr, &error);
    if (!client) fail("connect", error);
    clients.push_back(E_CAL_CLIENT(client));
  }
  return clients;
}

gboolean countInstance(ICalComponent*, ICalTime*, ICalTime*, gpointer count, GCancellable*, GError**) {
  ++*static_cast<long*>(count);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "hold") {
    std::vector<ECalClient*> clients = openCalendars();
    GError* error = nullptr;
    for (ECalClient* client : clients) {
      GSList* found = nullptr;
      if (!e_cal_client_get_object_list_sync(client, "#t", &found, nullptr, &error)) fail("query", error);
      g_slist_free_full(found, g_object_unref);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
  }
  if ((mode != "query" && mode != "instances") || argc < 4) {
    std::fprintf(stderr, "usage: eds_direct query|instances START END | hold\n");
    return 2;
  }
  long count = 0;
  for (ECalClient* client : openCalendars()) {
    if (mode == "instances") {
      e_cal_client_generate_instances_sync(client, std::atoll(argv[2]), std::atoll(argv[3]), nullptr, countInstance,
                                           &count);
      continue;
    }
    std::string query = std::string("(or (occur-in-time-range? (make-time \"") + argv[2] + "\") (make-time \"" +
                        argv[3] + "\")) (has-recurrences?))";
    GSList* found = nullptr;
    GError* error = nullptr;
    if (!e_cal_client_get_object_list_sync(client, query.c_str(), &found, nullptr, &error)) fail("query", error);
    count += g_slist_length(found);
    g_slist_free_full(found, g_object_unref);
  }
  std::printf("%ld\n", count);
  return 0;
}
