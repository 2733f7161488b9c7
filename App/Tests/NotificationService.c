/* A stand-in for the desktop's notification service on the test's own
 * session bus: owns org.freedesktop.Notifications and notes every call in a
 * log file, one line each, fields separated by tabs:
 *   ready                               once the name is ours
 *   Notify <app> <summary> <body>
 *   CloseNotification <id>
 * Usage: notification_service <log file>. Ends on SIGTERM or SIGINT, or
 * with exit code 1 when the name cannot be had. */

#include <gio/gio.h>
#include <glib-unix.h>
#include <stdio.h>

static const char kInterface[] =
    "<node>"
    " <interface name='org.freedesktop.Notifications'>"
    "  <method name='Notify'>"
    "   <arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>"
    "   <arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>"
    "   <arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
    "   <arg type='u' direction='out'/>"
    "  </method>"
    "  <method name='CloseNotification'><arg type='u' direction='in'/></method>"
    "  <method name='GetCapabilities'><arg type='as' direction='out'/></method>"
    "  <method name='GetServerInformation'>"
    "   <arg type='s' direction='out'/><arg type='s' direction='out'/>"
    "   <arg type='s' direction='out'/><arg type='s' direction='out'/>"
    "  </method>"
    "  <signal name='NotificationClosed'><arg type='u'/><arg type='u'/></signal>"
    "  <signal name='ActionInvoked'><arg type='u'/><arg type='s'/></signal>"
    " </interface>"
    "</node>";

typedef struct {
  FILE* log;
  GMainLoop* loop;
  GDBusNodeInfo* node;
  guint32 last_id;
  int status;
} Service;

static void note(Service* service, const char* line) {
  fputs(line, service->log);
  fputc('\n', service->log);
  fflush(service->log);
}

static void on_call(GDBusConnection* connection, const gchar* sender, const gchar* path, const gchar* interface,
                    const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
  (void)connection;
  (void)sender;
  (void)path;
  (void)interface;
  Service* service = data;
  if (g_strcmp0(method, "Notify") == 0) {
    const gchar* app = NULL;
    guint32 replaces = 0;
    const gchar* icon = NULL;
    const gchar* summary = NULL;
    const gchar* body = NULL;
    g_variant_get(parameters, "(&su&s&s&s@as@a{sv}i)", &app, &replaces, &icon, &summary, &body, NULL, NULL, NULL);
    gchar* line = g_strdup_printf("Notify\t%s\t%s\t%s", app, summary, body);
    note(service, line);
    g_free(line);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", replaces ? replaces : ++service->last_id));
  } else if (g_strcmp0(method, "CloseNotification") == 0) {
    guint32 id = 0;
    g_variant_get(parameters, "(u)", &id);
    gchar* line = g_strdup_printf("CloseNotification\t%u", id);
    note(service, line);
    g_free(line);
    g_dbus_method_invocation_return_value(invocation, NULL);
  } else if (g_strcmp0(method, "GetCapabilities") == 0) {
    const gchar* capabilities[] = {"body", "actions", NULL};
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", capabilities));
  } else if (g_strcmp0(method, "GetServerInformation") == 0) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "stand-in", "velto tests", "1", "1.2"));
  } else {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", method);
  }
}

static const GDBusInterfaceVTable kVTable = {on_call, NULL, NULL, {0}};

static void on_bus(GDBusConnection* connection, const gchar* name, gpointer data) {
  (void)name;
  Service* service = data;
  GError* error = NULL;
  if (!g_dbus_connection_register_object(connection, "/org/freedesktop/Notifications", service->node->interfaces[0],
                                         &kVTable, service, NULL, &error)) {
    fprintf(stderr, "notification_service: %s\n", error->message);
    g_error_free(error);
    service->status = 1;
    g_main_loop_quit(service->loop);
  }
}

static void on_name(GDBusConnection* connection, const gchar* name, gpointer data) {
  (void)connection;
  (void)name;
  note(data, "ready");
}

static void on_name_lost(GDBusConnection* connection, const gchar* name, gpointer data) {
  (void)connection;
  Service* service = data;
  fprintf(stderr, "notification_service: %s is not ours\n", name);
  service->status = 1;
  g_main_loop_quit(service->loop);
}

static gboolean on_signal(gpointer data) {
  g_main_loop_quit(((Service*)data)->loop);
  return G_SOURCE_REMOVE;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: notification_service <log file>\n");
    return 2;
  }
  Service service = {0};
  service.log = fopen(argv[1], "a");
  if (!service.log) {
    perror(argv[1]);
    return 1;
  }
  service.node = g_dbus_node_info_new_for_xml(kInterface, NULL);
  service.loop = g_main_loop_new(NULL, FALSE);
  g_unix_signal_add(SIGTERM, on_signal, &service);
  g_unix_signal_add(SIGINT, on_signal, &service);
  const guint owner =
      g_bus_own_name(G_BUS_TYPE_SESSION, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE, on_bus,
                     on_name, on_name_lost, &service, NULL);
  g_main_loop_run(service.loop);
  g_bus_unown_name(owner);
  g_main_loop_unref(service.loop);
  g_dbus_node_info_unref(service.node);
  fclose(service.log);
  return service.status;
}
