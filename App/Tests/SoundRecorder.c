/* Preloaded into the client by the alert tests: notes every event sound
 * that the client asks libcanberra for (one event id a line, in the file
 * named by VELTO_SOUND_LOG), then passes the request on unchanged. */
#define _GNU_SOURCE
#include <canberra.h>
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int (*play_full_fn)(ca_context*, uint32_t, ca_proplist*, ca_finish_callback_t, void*);

static void note(const char* event_id) {
  const char* path = getenv("VELTO_SOUND_LOG");
  if (path == NULL || *path == '\0') {
    return;
  }
  FILE* log = fopen(path, "a");
  if (log != NULL) {
    fprintf(log, "%s\n", event_id != NULL ? event_id : "");
    fclose(log);
  }
}

int ca_context_play(ca_context* context, uint32_t id, ...) {
  ca_proplist* properties = NULL;
  const char* event_id = NULL;
  if (ca_proplist_create(&properties) < 0) {
    return CA_ERROR_OOM;
  }
  va_list pairs;
  va_start(pairs, id);
  for (const char* key = va_arg(pairs, const char*); key != NULL; key = va_arg(pairs, const char*)) {
    const char* value = va_arg(pairs, const char*);
    if (strcmp(key, CA_PROP_EVENT_ID) == 0) {
      event_id = value;
    }
    ca_proplist_sets(properties, key, value);
  }
  va_end(pairs);
  note(event_id);
  /* The real library's full form takes the same request as a property list. */
  play_full_fn play_full = (play_full_fn)dlsym(RTLD_NEXT, "ca_context_play_full");
  const int result = play_full != NULL ? play_full(context, id, properties, NULL, NULL) : CA_ERROR_NOTSUPPORTED;
  ca_proplist_destroy(properties);
  return result;
}
